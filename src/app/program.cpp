#include "app/program.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "console/runner.h"
#include "core/app.h"
#include "core/infoslot.h"
#include "core/project.h"
#include "core/sourcelist.h"
#include "core/usage.h"
#include "engine/convertor.h"
#include "engine/match.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safepath.h"
#include "platform/signals.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace kx {

bool ApplyEditionProfile() {
  TkxProject& p = *Project;
  p.ConvertorClass = FindConvertorClass("TkxLUMIPIX");
  p.SourceMask = "*.doc?";
  p.DocFilter = "Word Document (*.doc;*.docx)|*.doc;*.docx";
  Edition = DetectEdition(App->ExeName);
  TkxEditionProfile e = EditionProfileOf(Edition);
  p.OutputExt = e.OutputExt;
  p.ShortName = e.ShortName;
  p.ProjectExt = e.ProjectExt;
  p.ProjectFilter = e.ProjectFilter;
  p.Title = e.Title;
  // The application title is the window's business; the window reads Project->Title.
  SkipOwnerFiles = true;
  p.Version = kVersion;
  return p.ParseCommandLine(App->Params);
}

// An interrupted run ends like a stopped one and exits with 128 + the signal.
static int ConsoleRun(const TkxStartupSlots& hooks) {
  std::function<void()> kill = hooks.KillServers;
  WatchInterrupts([kill](int sig) {
    Trace("run: second signal " + std::to_string(sig) + ": every office is killed and the program ends at once");
    if (kill) kill();
    std::_Exit(128 + sig);
  });
  const std::string& title = Project->Title;
  try {
    Runner->Run();
    int sig = InterruptSignal();
    return sig ? 128 + sig : Runner->ExitCode();
  } catch (const ERunRefused& e) {
    for (const std::string& line : e.Lines) std::fprintf(stderr, "%s: %s\n", title.c_str(), line.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: Unexpected error\n", title.c_str());
  }
  return 1;
}

// Help, version and unknown "--" arguments end the program before anything is opened.
static bool AnswerInfoRequest(const std::string& exeName, const std::vector<std::string>& params, int& code) {
  std::string param;
  TkxInfoRequest request = TkxInfoRequest::None;
  for (const std::string& p : params) {
    if (IsVerboseArgument(p)) continue;
    request = InfoRequestOf(p);
    param = p;
    if (request != TkxInfoRequest::None) break;
  }
  if (request == TkxInfoRequest::None) return false;
  TkxEditionProfile e = EditionProfileOf(DetectEdition(exeName));
  std::string me = ExtractFileName(exeName);
  code = 0;
  if (request == TkxInfoRequest::Help) {
    std::fputs(HelpText(exeName, e).c_str(), stdout);
  } else if (request == TkxInfoRequest::Version) {
    std::fputs(VersionText(e).c_str(), stdout);
  } else {
    std::fprintf(stderr, "%s: unknown option %s; \"%s --help\" lists what it takes\n", me.c_str(),
                 DisplayPath(param).c_str(), me.c_str());
    code = 2;
  }
  std::fflush(stdout);
  return true;
}

// The command line named documents or folders (and no switch before them).
static bool StartedWithPaths() {
  std::vector<std::string> args;
  for (const std::string& p : App->Params)
    if (!IsVerboseArgument(p)) args.push_back(p);
  return !args.empty() && !args[0].empty() && args[0] != "-" && !IsSwitchArgument(args[0]) &&
         !Project->IsProjectFile(args[0]);
}

// Turns the trace on as "-v" or the option "Trace" asks: standard error, or a file
// opened as the run log is. Returns the file to close at the end (null for none).
static FILE* StartTrace() {
  std::string value = Project->GetOption("Trace");
  bool toError =
      Project->Verbose || value == "-" || (!value.empty() && ReadBool(value, false) && ReadBool(value, true));
  if (toError) {
    SetTraceStream(stderr);
    return nullptr;
  }
  if (value.empty() || !ReadBool(value, true)) return nullptr;  // "0", "False": off
  std::string problem;
  UniqueFd fd = OpenForWriting(value, problem);
  FILE* file = fd ? fdopen(fd.Get(), "w") : nullptr;
  if (!file) {
    std::fprintf(stderr, "%s: warning: the trace cannot be written to %s: %s\n", Project->Title.c_str(),
                 DisplayPath(value).c_str(), problem.empty() ? std::strerror(errno) : problem.c_str());
    return nullptr;
  }
  fd.Release();  // the stream owns it now
  SetTraceStream(file);
  return file;
}

namespace {

// Owns one of the global objects; the global pointer only looks at it, and is
// cleared before the object goes. Kept as locals in start-up order, the owners free
// the objects in reverse order however the program body ends.
template <class T, class View = T>
class TkxGlobal {
 public:
  TkxGlobal(View*& global, std::unique_ptr<T> object) : FGlobal(global), FObject(std::move(object)) {
    FGlobal = FObject.get();
  }
  ~TkxGlobal() { FGlobal = nullptr; }
  TkxGlobal(const TkxGlobal&) = delete;
  TkxGlobal& operator=(const TkxGlobal&) = delete;

 private:
  View*& FGlobal;
  std::unique_ptr<T> FObject;
};

// The run mode the command line and the display choose. Returns the exit code.
int RunMode(const TkxStartupSlots& hooks) {
  int display = -1;  // asked only when it matters: opening a display takes a moment
  auto hasDisplay = [&] {
    if (display < 0) display = !hooks.HasDisplay || hooks.HasDisplay() ? 1 : 0;
    return display == 1;
  };
  const std::string& title = Project->Title;
  std::vector<TkxSourceItem> items = ReadSource(Project->Source(), Project->SourceMask);
  bool web = std::any_of(items.begin(), items.end(),
                         [](const TkxSourceItem& i) { return i.Kind == TkxSourceItem::skWebAddress; });
  // A web source that repeats (Daemon) keeps its invisible window; every other
  // console job runs here, web addresses included.
  if (Project->PureConsole() && !(web && Project->Daemon() > 0 && hasDisplay())) return ConsoleRun(hooks);
  if (StartedWithPaths() && !hasDisplay()) {
    // No window to show them in: convert them beside themselves, as a console job.
    bool missing = false;
    for (const TkxSourceItem& i : items) {
      bool literal = i.Kind == TkxSourceItem::skMask && i.Name.find_first_of("*?") == std::string::npos;
      if (i.Kind == TkxSourceItem::skMissing || literal) {
        std::fprintf(stderr, "%s: %s: no such document or folder\n", title.c_str(), DisplayPath(i.Given).c_str());
        missing = true;
      } else if (i.Kind == TkxSourceItem::skUnsupported) {
        std::fprintf(stderr, "%s: %s: only http:// and https:// addresses can be fetched\n", title.c_str(),
                     DisplayPath(i.Given).c_str());
        missing = true;
      }
    }
    return missing ? 2 : ConsoleRun(hooks);
  }
  if (!hasDisplay()) {
    std::fprintf(stderr,
                 "%s: no display to show the window on (%s); to convert without a window, "
                 "give a document or folder, or \"-P:PureConsole=1,Source=...,Target=...\" (see --help)\n",
                 title.c_str(), DisplayProblem().c_str());
    return 2;
  }
  if (!hooks.RunWindow) {
    std::fprintf(stderr, "%s: the window is not available in this build\n", title.c_str());
    return 2;
  }
  try {
    return hooks.RunWindow();
  } catch (const std::exception& e) {
    // Said and ended here, so that the objects below are freed in order (the project
    // writes the recent list) rather than abandoned by an uncaught exception.
    std::fprintf(stderr, "%s: %s\n", title.c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: Unexpected error\n", title.c_str());
  }
  return 1;
}

// The trace's file, closed when the program ends.
class TkxTraceFile {
 public:
  explicit TkxTraceFile(FILE* file) : FFile(file) {}
  ~TkxTraceFile() {
    if (!FFile) return;
    SetTraceStream(nullptr);
    std::fclose(FFile);
  }
  TkxTraceFile(const TkxTraceFile&) = delete;
  TkxTraceFile& operator=(const TkxTraceFile&) = delete;

 private:
  FILE* FFile;
};

}  // namespace

int RunProgram(int argc, char** argv, const TkxStartupSlots& hooks) {
  TkxGlobal<TkxApp> app(App, std::make_unique<TkxApp>(TkxApp::FromArgs(argc, argv)));
  int code = 0;
  if (AnswerInfoRequest(App->ExeName, App->Params, code)) return code;
  TkxGlobal<TkxInfoBase> info(Info, hooks.CreateInfo ? hooks.CreateInfo() : nullptr);
  TkxGlobal<TkxProject> project(Project, std::make_unique<TkxProject>(App->ExeName));
  TkxGlobal<TkxConsoleRunner> runner(Runner, std::make_unique<TkxConsoleRunner>());
  if (!ApplyEditionProfile()) return 0;
  TkxTraceFile trace(StartTrace());
  TkxGlobal<TkxMatch, TkxMatchBase> matcher(Matcher, std::make_unique<TkxMatch>());
  return RunMode(hooks);
}

}  // namespace kx
