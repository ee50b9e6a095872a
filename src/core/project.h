#pragma once
// The batch project: the settings of one job, the edition profile, the project
// file, the recent list, the command line and the control bindings.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/pagerange.h"
#include "core/shard.h"
#include "core/sourcelist.h"
#include "core/strlist.h"
#include "core/userfiles.h"

class QObject;

namespace kx {

struct TkxConvertorClass;
class TkxBindings;

enum class TOverwriteMode { Overwrite, Rename, Skip };

class TkxProject {
 public:
  // Reads the recent list of the executable `exeName` (errors ignored).
  explicit TkxProject(const std::string& exeName);
  // Releases the bindings and writes the recent list (errors ignored).
  ~TkxProject();
  TkxProject(const TkxProject&) = delete;
  TkxProject& operator=(const TkxProject&) = delete;

  // Command line and opening. ParseCommandLine returns false when the program must
  // end at once (installer notices). The first argument is read as the original
  // program read its only one; further arguments are documents and folders, which
  // join the first (a path) or, after "-P:...", replace its "Source". "-v" and
  // "--verbose" anywhere turn the trace on (Verbose).
  bool ParseCommandLine(const std::vector<std::string>& args);
  bool ParseCommandLine(const std::string& param) { return ParseCommandLine(std::vector<std::string>{param}); }
  void OpenStartupProject();
  void OpenProject(bool atStartup);
  bool IsProjectFile(const std::string& path) const;
  void NewProject();
  void SaveProject();
  void SaveProjectAs();
  void StoreSettings(bool writeFile);
  void AddRecent();

  // Bindings (main thread only). A control destroyed before the project is skipped.
  void RegisterControl(QObject* control);
  int ControlCount() const;
  QObject* Control(int index) const;  // null once that control is destroyed
  void ApplyToControls();
  void CollectFromControls();
  void ReleaseControls();

  // Settings, each call under the settings lock; safe from any thread.
  std::string GetOption(const std::string& key) const;
  void SetOption(const std::string& key, const std::string& value);
  std::string GetSettingsText() const;
  void SetSettingsText(const std::string& text);
  TkxStringList SettingsCopy() const;

  // Typed readers.
  std::string Source() const { return GetOption("Source"); }
  std::string Target() const { return GetOption("Target"); }
  bool Subdir() const;
  bool KeepFileTime() const;
  bool KeepTargetSubdirs() const;
  bool DeleteSource() const;
  bool MacroEnabled() const;
  bool PureConsole() const;
  std::string RenameSource() const { return GetOption("RenameSource"); }
  int ThreadsCount() const;  // at most kMaxThreads
  int Daemon() const;
  TkxPageRange Pages() const;  // every page when unreadable
  int Dpi() const;             // 96 when unreadable or outside 1..1200
  TkxShard Shard() const;      // the whole folder when unreadable
  // Limits of a document fetched from a web address: its size in megabytes, the
  // seconds the whole fetch may take and the redirects followed. The default when
  // unreadable or below 1 (0 redirects is allowed: none are followed).
  int WebMaxSize() const;
  int WebTimeout() const;
  int WebRedirects() const;
  // Raises when "IsOverwrite" cannot be read: a value that meant something else must
  // never fall back to overwriting.
  TOverwriteMode OverwriteMode() const;
  bool AutoRun() const;
  // "Target" as a path ("file:" addresses converted) with the delimiter appended; a
  // missing folder is created (errors ignored). Empty when it names no folder.
  std::string TargetFolder() const;
  // Beside the executable, or in the user's folder when the program's folder is not
  // its own to write (a system-wide install).
  std::string RecentListFile() const { return HousekeepingFile(FExeName + ".log"); }
  std::string DefaultProjectFile() const;

  // Edition profile and project state (main thread, except reads during a run).
  const TkxConvertorClass* ConvertorClass = nullptr;
  const bool TargetFromSource = true;
  const bool OverwriteDefault = true;
  std::string ProjectExt;
  std::string ProjectFilter;
  std::string FileName;
  TkxStringList RecentFiles;
  std::string CmdOptions;
  std::string CmdSource;  // documents and folders given after "-P:..." (a Source value)
  bool Verbose = false;   // "-v" was given
  std::string ShortName;
  char PathDelim = '/';
  std::string Title;
  std::string DocFilter;
  std::string SourceMask;
  std::string OutputExt;
  std::string AltOutputExt;
  std::string MacroOutputExt;
  std::string Version;

 private:
  std::string FExeName;
  std::string FCmdProject;             // the project file named on the command line
  mutable std::recursive_mutex FLock;  // guards FSettings
  TkxStringList FSettings;
  std::unique_ptr<TkxBindings> FBindings;  // the controls and their property lists
};

// The one project; null before start-up creates it.
extern TkxProject* Project;

// The most converter threads a run starts: each drives an office of its own (up to
// 2 GB), and more than this only queue for the same processors and memory.
inline constexpr int kMaxThreads = 64;
// Web documents: a report is a few megabytes; a slow server gets two minutes.
inline constexpr int kDefaultWebMaxSize = 100;  // megabytes
inline constexpr int kDefaultWebTimeout = 120;  // seconds
inline constexpr int kDefaultWebRedirects = 5;

// Whether a command-line argument is a switch ("-P:...", "/P:...") rather than a path.
bool IsSwitchArgument(const std::string& param);
// "-v" or "--verbose".
bool IsVerboseArgument(const std::string& param);
// The option text of the P switch as Key=Value lines (CR LF between them): "," and
// ";" separate options, blanks around a key are dropped, and a piece without "="
// after a "," continues the value before it ("Pages=1,3,5-").
std::string CommandLineOptions(std::string_view text);
// The folder that receives the pages of a source when no Target is given: a folder
// itself (with its '/'), else the folder of the document or mask (relative paths from
// the working folder); "" when the source's documents lie in several folders.
std::string SourceFolder(const std::string& source);

}  // namespace kx
