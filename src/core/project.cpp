#include "core/project.h"

#include <QObject>
#include <QVariant>

#include <stdexcept>

#include "core/infoslot.h"
#include "platform/choosers.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

TkxProject* Project = nullptr;

std::string ControlName(QObject* control) { return control->objectName().toStdString(); }
std::string ControlHint(QObject* control) { return control->property("hint").toString().toStdString(); }

TkxProject::TkxProject(const std::string& exeName) : FExeName(exeName) {
  if (FileExists(RecentListFile())) {  // a regular file only
    try {
      RecentFiles.LoadFromFile(RecentListFile());
    } catch (...) {
      RecentFiles.Clear();
    }
  }
}

TkxProject::~TkxProject() {
  ReleaseControls();
  try {
    RecentFiles.SaveToFile(RecentListFile());
  } catch (...) {
  }
}

// "/P..." is a switch, but "/home/ann/a.doc" is a path: a leading '/' counts as a
// switch only when the argument's first folder does not exist at the root.
static bool IsSwitch(const std::string& param) {
  if (param[0] == '-') return true;
  if (param[0] != '/') return false;
  size_t next = param.find('/', 1);
  return !FileExists(param) && !DirectoryExists(param.substr(0, next));
}

bool TkxProject::ParseCommandLine(const std::string& param) {
  if (param.size() >= 2 && IsSwitch(param)) {
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
      CmdOptions = ReplaceAll(ReplaceAll(rest, ",", ";"), ";", "\r\n");
    }
  } else if (param.size() >= 2) {
    FileName = param;
  }
  OpenStartupProject();
  return true;
}

std::string TkxProject::DefaultProjectFile() const { return ChangeFileExt(FExeName, ProjectExt); }

void TkxProject::OpenStartupProject() {
  if (FileName.empty() && CmdOptions.empty()) FileName = DefaultProjectFile();
  OpenProject(true);
}

bool TkxProject::IsProjectFile(const std::string& path) const {
  return !ProjectExt.empty() && EndsWith(path, ProjectExt);
}

void TkxProject::OpenProject(bool atStartup) {
  if (!atStartup) {
    std::string chosen = FileName;
    if (!PromptOpenFile(ProjectFilter + "|" + DocFilter, chosen, false)) return;
    FileName = chosen;
  }
  std::string path = FileName;
  if (IsProjectFile(path)) {
    try {
      // Only regular files: a FIFO named like a project would block the program.
      if (!FileExists(path)) throw std::runtime_error("not a file");
      TkxStringList lines;
      lines.LoadFromFile(path);
      {
        std::lock_guard<std::recursive_mutex> g(FLock);
        FSettings = std::move(lines);
      }
      AddRecent();
    } catch (...) {
    }
  } else if (!CmdOptions.empty()) {
    FileName.clear();
    std::lock_guard<std::recursive_mutex> g(FLock);
    FSettings.SetText(CmdOptions);
    if (TargetFromSource && FSettings.GetValue("Target").empty())
      FSettings.SetValue("Target", ExtractFilePath(FSettings.GetValue("Source")));
  } else {
    FileName.clear();
    std::lock_guard<std::recursive_mutex> g(FLock);
    FSettings.SetValue("Source", path);
    if (FSettings.GetValue("Target").empty()) FSettings.SetValue("Target", ExtractFilePath(path));
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
  SettingsCopy().SaveToFile(FileName);
  AddRecent();
}

void TkxProject::AddRecent() {
  if (RecentFiles.IndexOf(FileName) < 0) RecentFiles.Insert(0, FileName);
}

void TkxProject::RegisterControl(QObject* control) { Controls.push_back(control); }

TkxPropList& TkxProject::Binding(QObject* control) {
  auto& b = FBindings[control];
  if (!b || b->Instance() != control) {
    b = std::make_unique<TkxPropList>(control);
    control->setProperty("tag", QVariant::fromValue<qlonglong>(qlonglong(FBindings.size())));
  }
  return *b;
}

void TkxProject::ApplyToControls() {
  for (QObject* c : Controls) {
    if (!c) continue;
    TkxPropList& b = Binding(c);
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
  for (QObject* c : Controls) {
    if (!c) continue;
    std::string name = ControlName(c);
    std::string value = Binding(c).GetValue(ControlHint(c));
    SetOption(name.substr(name.empty() ? 0 : 1), value);
  }
}

void TkxProject::ReleaseControls() {
  for (QObject* c : Controls)
    if (c) c->setProperty("tag", QVariant::fromValue<qlonglong>(-1));
  FBindings.clear();
}

std::string TkxProject::GetOption(const std::string& key) const {
  std::lock_guard<std::recursive_mutex> g(FLock);
  return FSettings.GetValue(key);
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
int TkxProject::ThreadsCount() const { return ReadInt(GetOption("ThreadsCount"), 1); }
int TkxProject::Daemon() const { return ReadInt(GetOption("Daemon"), 0); }

TOverwriteMode TkxProject::OverwriteMode() const {
  std::string v = GetOption("IsOverwrite");
  if (SameText(v, "skip")) return TOverwriteMode::Skip;
  return ReadBool(v, OverwriteDefault) ? TOverwriteMode::Overwrite : TOverwriteMode::Rename;
}

bool TkxProject::AutoRun() const {
  return ReadBool(GetOption("RunAndClose"), false) || PureConsole() || Daemon() > 0;
}

std::string TkxProject::TargetFolder() const {
  // A "file:" address is a path before anything is made of it.
  std::string t = FileAddressToPath(Target());
  if (t.empty()) return t;
  if (PathDelim == kx::PathDelim && !DirectoryExists(t)) {
    try {
      ForceDirectories(t);
    } catch (...) {
    }
  }
  if (t.empty() || t.back() != PathDelim) t.push_back(PathDelim);
  return t;
}

}  // namespace kx
