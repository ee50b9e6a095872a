#include "core/project.h"

#include <QObject>
#include <QPointer>
#include <QVariant>

#include <algorithm>
#include <map>
#include <stdexcept>

#include "core/infoslot.h"
#include "core/proplist.h"
#include "core/userfiles.h"
#include "platform/choosers.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

TkxProject* Project = nullptr;

// The bound controls and a property list for each; Qt stays behind this wall.
class TkxBindings {
 public:
  std::vector<QPointer<QObject>> Controls;
  TkxPropList& Of(QObject* control);
  void Clear() { FLists.clear(); }

 private:
  std::map<QObject*, std::unique_ptr<TkxPropList>> FLists;
};

TkxPropList& TkxBindings::Of(QObject* control) {
  auto& b = FLists[control];
  if (!b || b->Instance() != control) {
    b = std::make_unique<TkxPropList>(control);
    control->setProperty("tag", QVariant::fromValue<qlonglong>(qlonglong(FLists.size())));
  }
  return *b;
}

// Name and hint of a bound control, kept as properties of the control.
static std::string ControlName(QObject* control) { return control->objectName().toStdString(); }
static std::string ControlHint(QObject* control) { return control->property("hint").toString().toStdString(); }

TkxProject::TkxProject(const std::string& exeName) : FExeName(exeName), FBindings(std::make_unique<TkxBindings>()) {
  if (FileExists(RecentListFile())) {  // a regular file only
    try {
      RecentFiles.LoadFromFile(RecentListFile());
    } catch (const std::exception&) {
      RecentFiles.Clear();  // a list that cannot be read starts empty; it is written anew at the end
    }
  }
}

TkxProject::~TkxProject() {
  ReleaseControls();
  try {
    std::string file = RecentListFile();
    if (RecentFiles.Count() > 0) PrepareHousekeepingFolder(file);
    RecentFiles.SaveToFile(file);
  } catch (const std::exception&) {
    // Nobody is left to tell at the end of the program; the recent list is a
    // convenience, and the next start reads whatever list there is.
  }
}

// "/P..." is a switch, but "/home/ann/a.doc" is a path: a leading '/' counts as a
// switch only when the argument's first folder does not exist at the root, and a
// further '/' makes it a path even then ("/Users/ann/a.doc" on a machine without
// /Users), unless the text before it holds the ':' or '=' of options
// ("/P:Source=/docs/*.doc?").
bool IsSwitchArgument(const std::string& param) {
  if (param.empty()) return false;
  if (param[0] == '-') return true;
  if (param[0] != '/') return false;
  size_t next = param.find('/', 1);
  if (FileExists(param) || DirectoryExists(param.substr(0, next))) return false;
  if (next == std::string::npos) return true;
  return param.find_first_of(":=") < next;
}

std::string CommandLineOptions(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  char before = 0;  // the separator in front of the piece in hand
  for (;;) {
    size_t sep = text.find_first_of(",;", pos);
    std::string piece(text.substr(pos, sep == std::string_view::npos ? std::string_view::npos : sep - pos));
    size_t eq = piece.find('=');
    if (eq == std::string::npos && before == ',' && !lines.empty() && !Trim(piece).empty() &&
        lines.back().find('=') != std::string::npos) {
      // "Pages=1,3,5-": a piece without '=' after a comma belongs to the value before it.
      lines.back() += "," + piece;
    } else if (eq != std::string::npos) {
      // Blanks around a key ("Source=/in, Target=/out") are not part of it.
      lines.push_back(Trim(std::string_view(piece).substr(0, eq)) + piece.substr(eq));
    } else {
      lines.push_back(piece);
    }
    if (sep == std::string_view::npos) break;
    before = text[sep];
    pos = sep + 1;
  }
  std::string r;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) r += "\r\n";
    r += lines[i];
  }
  return r;
}

bool IsVerboseArgument(const std::string& param) { return param == "-v" || param == "--verbose"; }

// A path as typed in a folder: absolute from the working folder, "file:" addresses as
// paths; "." is the working folder itself.
static std::string TypedPath(const std::string& arg) {
  if (arg.rfind("file:", 0) == 0) return FileAddressToPath(arg);
  if (IsWebAddress(arg) || !AddressScheme(arg).empty()) return arg;
  std::string path = AbsolutePath(arg, CurrentDir());
  if (path.size() > 2 && EndsWith(path, "/.")) path.pop_back();
  return path;
}

bool TkxProject::ParseCommandLine(const std::vector<std::string>& all) {
  std::vector<std::string> args;
  for (const std::string& a : all) {
    if (IsVerboseArgument(a))
      Verbose = true;
    else
      args.push_back(a);
  }
  std::string param = args.empty() ? std::string() : args[0];
  std::vector<std::string> more(args.size() > 1 ? args.begin() + 1 : args.end(), args.end());
  std::vector<std::string> paths;
  for (const std::string& m : more)
    if (!m.empty()) paths.push_back(TypedPath(m));
  if (param.size() >= 2 && IsSwitchArgument(param)) {
    char sw = UpperAscii(param.substr(1, 1))[0];
    std::string rest = param.substr(2);
    if (sw == 'I') {
      if (Info) Info->OpenLink("", "ins", rest);
      return false;
    }
    if (sw == 'U') {
      if (Info) Info->OpenLink("", "uni", "");
      return false;
    }
    if (sw == 'P') {
      if (!rest.empty() && rest[0] == ':') rest.erase(0, 1);
      CmdOptions = CommandLineOptions(rest);
      if (!paths.empty()) CmdSource = JoinSourceList(paths);
    }
  } else if (param.size() >= 2 || param == ".") {
    if (IsProjectFile(param)) {
      FileName = FCmdProject = param;
      if (!paths.empty()) CmdSource = JoinSourceList(paths);
    } else {
      paths.insert(paths.begin(), TypedPath(param));
      FileName = JoinSourceList(paths);
    }
  }
  OpenStartupProject();
  return true;
}

std::string TkxProject::DefaultProjectFile() const { return HousekeepingFile(ChangeFileExt(FExeName, ProjectExt)); }

std::string SourceFolder(const std::string& source) {
  return DefaultTargetOf(ReadSource(source, Project ? Project->SourceMask : std::string("*.doc?")));
}

void TkxProject::OpenStartupProject() {
  if (FileName.empty() && CmdOptions.empty()) FileName = DefaultProjectFile();
  OpenProject(true);
}

bool TkxProject::IsProjectFile(const std::string& path) const {
  return !ProjectExt.empty() && EndsWith(path, ProjectExt);
}

void TkxProject::OpenProject(bool atStartup) {
  std::string before = FileName;
  if (!atStartup) {
    std::string chosen = FileName;
    if (!PromptOpenFile(ProjectFilter + "|" + DocFilter, chosen, false)) return;
    FileName = chosen;
  }
  std::string path = FileName;
  if (IsProjectFile(path)) {
    try {
      // Only regular files: a FIFO named like a project would block the program.
      if (!FileExists(path)) throw std::runtime_error("Cannot open file \"" + path + "\". It is not a regular file");
      TkxStringList lines;
      lines.LoadFromFile(path);
      {
        std::lock_guard<std::recursive_mutex> g(FLock);
        FSettings = std::move(lines);
        // Documents named after the project on the command line are its source this time.
        if (atStartup && !CmdSource.empty() && path == FCmdProject) FSettings.SetValue("Source", CmdSource);
      }
      AddRecent();
    } catch (const std::exception&) {
      // Chosen in the dialog just now: the person hears why, and the project in hand stays.
      if (!atStartup) {
        FileName = before;
        throw;
      }
      // Opened without asking (at start-up, dropped, from the recent list): the default
      // project need not exist yet, and the settings in hand stay as they were.
    }
  } else if (!CmdOptions.empty()) {
    FileName.clear();
    std::lock_guard<std::recursive_mutex> g(FLock);
    FSettings.SetText(CmdOptions);
    if (!CmdSource.empty()) FSettings.SetValue("Source", CmdSource);
    if (TargetFromSource && Trim(FSettings.GetValue("Target")).empty())
      FSettings.SetValue("Target", SourceFolder(Trim(FSettings.GetValue("Source"))));
  } else {
    FileName.clear();
    std::lock_guard<std::recursive_mutex> g(FLock);
    FSettings.SetValue("Source", path);
    if (Trim(FSettings.GetValue("Target")).empty()) FSettings.SetValue("Target", SourceFolder(path));
  }
  ApplyToControls();
}

void TkxProject::NewProject() {
  FileName.clear();
  {
    std::lock_guard<std::recursive_mutex> g(FLock);
    FSettings.Clear();
  }
  ApplyToControls();
}

void TkxProject::SaveProject() {
  if (!FileName.empty())
    StoreSettings(true);
  else
    SaveProjectAs();
}

void TkxProject::SaveProjectAs() {
  std::string chosen = FileName;
  if (!PromptSaveFile(ProjectFilter, ProjectExt, chosen)) return;
  FileName = chosen;
  StoreSettings(true);
}

void TkxProject::StoreSettings(bool writeFile) {
  CollectFromControls();
  if (!writeFile) return;
  if (FileName == DefaultProjectFile()) PrepareHousekeepingFolder(FileName);
  SettingsCopy().SaveToFile(FileName);
  AddRecent();
}

void TkxProject::AddRecent() {
  if (RecentFiles.IndexOf(FileName) < 0) RecentFiles.Insert(0, FileName);
}

void TkxProject::RegisterControl(QObject* control) { FBindings->Controls.push_back(control); }
int TkxProject::ControlCount() const { return int(FBindings->Controls.size()); }
QObject* TkxProject::Control(int index) const { return FBindings->Controls.at(size_t(index)).data(); }

void TkxProject::ApplyToControls() {
  for (QObject* c : FBindings->Controls) {
    if (!c) continue;
    TkxPropList& b = FBindings->Of(c);
    std::string name = ControlName(c);
    std::string key = name.substr(name.empty() ? 0 : 1);
    std::string prop = ControlHint(c);
    std::string value;
    {
      std::lock_guard<std::recursive_mutex> g(FLock);
      value = FSettings.GetValue(key);
      if (value.empty()) {
        std::string legacy = name + "." + prop;
        value = FSettings.GetValue(legacy);
        FSettings.SetValue(legacy, "");
      }
    }
    b.SetValue(prop, value);
  }
}

void TkxProject::CollectFromControls() {
  for (QObject* c : FBindings->Controls) {
    if (!c) continue;
    std::string name = ControlName(c);
    std::string value = FBindings->Of(c).GetValue(ControlHint(c));
    SetOption(name.substr(name.empty() ? 0 : 1), value);
  }
}

void TkxProject::ReleaseControls() {
  for (QObject* c : FBindings->Controls)
    if (c) c->setProperty("tag", QVariant::fromValue<qlonglong>(-1));
  FBindings->Clear();
}

std::string TkxProject::GetOption(const std::string& key) const {
  std::lock_guard<std::recursive_mutex> g(FLock);
  // "Source = /docs/ " means the folder /docs/: blanks around a value are never part of it.
  return Trim(FSettings.GetValue(key));
}

void TkxProject::SetOption(const std::string& key, const std::string& value) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FSettings.SetValue(key, value);
}

std::string TkxProject::GetSettingsText() const {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FSettings.GetText();
}

void TkxProject::SetSettingsText(const std::string& text) {
  std::lock_guard<std::recursive_mutex> g(FLock);
  FSettings.SetText(text);
}

TkxStringList TkxProject::SettingsCopy() const {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FSettings;
}

bool TkxProject::Subdir() const { return ReadBool(GetOption("Subdir"), false); }
bool TkxProject::KeepFileTime() const { return ReadBool(GetOption("KeepFileTime"), false); }
bool TkxProject::KeepTargetSubdirs() const { return ReadBool(GetOption("KeepTargetSubdirs"), true); }
bool TkxProject::DeleteSource() const { return ReadBool(GetOption("DeleteSource"), false); }
bool TkxProject::MacroEnabled() const { return ReadBool(GetOption("MacroEnabled"), false); }
bool TkxProject::PureConsole() const { return ReadBool(GetOption("PureConsole"), false); }
int TkxProject::ThreadsCount() const { return std::min(ReadInt(GetOption("ThreadsCount"), 1), kMaxThreads); }
int TkxProject::Daemon() const { return ReadInt(GetOption("Daemon"), 0); }
TkxPageRange TkxProject::Pages() const { return TkxPageRange::FromOption(GetOption("Pages")); }

int TkxProject::Dpi() const {
  int v = ReadInt(GetOption("Dpi"), 96);
  return v >= 1 && v <= 1200 ? v : 96;
}

TkxShard TkxProject::Shard() const {
  TkxShard s;
  TkxShard::Parse(GetOption("Shard"), s);
  return s;
}

int TkxProject::WebMaxSize() const {
  int v = ReadInt(GetOption("WebMaxSize"), kDefaultWebMaxSize);
  return v >= 1 ? v : kDefaultWebMaxSize;
}

int TkxProject::WebTimeout() const {
  int v = ReadInt(GetOption("WebTimeout"), kDefaultWebTimeout);
  return v >= 1 ? v : kDefaultWebTimeout;
}

int TkxProject::WebRedirects() const {
  int v = ReadInt(GetOption("WebRedirects"), kDefaultWebRedirects);
  return v >= 0 ? v : kDefaultWebRedirects;
}

TOverwriteMode TkxProject::OverwriteMode() const {
  std::string v = GetOption("IsOverwrite");
  if (SameText(v, "skip")) return TOverwriteMode::Skip;
  if (v.empty()) return OverwriteDefault ? TOverwriteMode::Overwrite : TOverwriteMode::Rename;
  if (ReadBool(v, false) != ReadBool(v, true))
    throw std::runtime_error("IsOverwrite=" + v + " cannot be read (skip, True or False): nothing was written");
  return ReadBool(v, false) ? TOverwriteMode::Overwrite : TOverwriteMode::Rename;
}

bool TkxProject::AutoRun() const { return ReadBool(GetOption("RunAndClose"), false) || PureConsole() || Daemon() > 0; }

std::string TkxProject::TargetFolder() const {
  // A "file:" address is a path before anything is made of it.
  std::string t = FileAddressToPath(Target());
  if (t.empty()) return t;
  if (PathDelim == kx::PathDelim && !DirectoryExists(t)) {
    try {
      ForceDirectories(t);
    } catch (const std::exception&) {
      // The run names the folder when it cannot write a document's pages into it.
    }
  }
  if (t.empty() || t.back() != PathDelim) t.push_back(PathDelim);
  return t;
}

}  // namespace kx
