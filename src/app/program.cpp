#include "app/program.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "console/runner.h"
#include "core/app.h"
#include "core/infoslot.h"
#include "core/project.h"
#include "core/usage.h"
#include "engine/convertor.h"
#include "engine/match.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/signals.h"
#include "platform/text.h"

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
  return p.ParseCommandLine(App->Param);
}

// An interrupted run ends like a stopped one and exits with 128 + the signal.
static int ConsoleRun(const TkxStartupSlots& hooks) {
  std::function<void()> kill = hooks.KillServers;
  WatchInterrupts([kill](int sig) {
    if (kill) kill();
    std::_Exit(128 + sig);
  });
  try {
    Runner->Run();
    int sig = InterruptSignal();
    return sig ? 128 + sig : Runner->ExitCode();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unexpected error\n");
  }
  return 1;
}

// Help, version and unknown "--" arguments end the program before anything is opened.
static bool AnswerInfoRequest(const std::string& exeName, const std::string& param, int& code) {
  TkxInfoRequest request = InfoRequestOf(param);
  if (request == TkxInfoRequest::None) return false;
  TkxEditionProfile e = EditionProfileOf(DetectEdition(exeName));
  std::string me = ExtractFileName(exeName);
  code = 0;
  if (request == TkxInfoRequest::Help) {
    std::fputs(HelpText(exeName, e).c_str(), stdout);
  } else if (request == TkxInfoRequest::Version) {
    std::fputs(VersionText(e).c_str(), stdout);
  } else {
    std::fprintf(stderr, "%s: unknown option %s; \"%s --help\" lists what it takes\n", me.c_str(), param.c_str(),
                 me.c_str());
    code = 2;
  }
  std::fflush(stdout);
  return true;
}

// The only argument was a document or folder (the project names it as its source).
static bool StartedWithPath(int argc) {
  return argc == 2 && Project->FileName.empty() && Project->CmdOptions.empty() && !App->Param.empty() &&
         !IsSwitchArgument(App->Param);
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
int RunMode(int argc, const TkxStartupSlots& hooks) {
  bool display = !hooks.HasDisplay || hooks.HasDisplay();
  const std::string& param = App->Param;
  if (Project->PureConsole() && !Contains(Project->Source(), "http")) return ConsoleRun(hooks);
  if (!display && StartedWithPath(argc) && (FileExists(param) || DirectoryExists(param))) {
    // No window to show it in: convert it beside itself, as a console job.
    return ConsoleRun(hooks);
  }
  if (!display && StartedWithPath(argc)) {
    std::fprintf(stderr, "%s: %s: no such document or folder\n", Project->Title.c_str(), param.c_str());
    return 2;
  }
  if (!display) {
    std::fprintf(stderr,
                 "%s: no display to show the window on (DISPLAY is not set); to convert without a window, "
                 "give a document or folder, or \"-P:PureConsole=1,Source=...,Target=...\" (see --help)\n",
                 Project->Title.c_str());
    return 2;
  }
  if (!hooks.RunWindow) {
    std::fprintf(stderr, "%s: the window is not available in this build\n", Project->Title.c_str());
    return 2;
  }
  try {
    return hooks.RunWindow();
  } catch (const std::exception& e) {
    // Said and ended here, so that the objects below are freed in order (the project
    // writes the recent list) rather than abandoned by an uncaught exception.
    std::fprintf(stderr, "%s: %s\n", Project->Title.c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "%s: Unexpected error\n", Project->Title.c_str());
  }
  return 1;
}

}  // namespace

int RunProgram(int argc, char** argv, const TkxStartupSlots& hooks) {
  TkxGlobal<TkxApp> app(App, std::make_unique<TkxApp>(TkxApp::FromArgs(argc, argv)));
  int code = 0;
  if (AnswerInfoRequest(App->ExeName, App->Param, code)) return code;
  TkxGlobal<TkxInfoBase> info(Info, hooks.CreateInfo ? hooks.CreateInfo() : nullptr);
  TkxGlobal<TkxProject> project(Project, std::make_unique<TkxProject>(App->ExeName));
  TkxGlobal<TkxConsoleRunner> runner(Runner, std::make_unique<TkxConsoleRunner>());
  if (!ApplyEditionProfile()) return 0;
  TkxGlobal<TkxMatch, TkxMatchBase> matcher(Matcher, std::make_unique<TkxMatch>());
  return RunMode(argc, hooks);
}

}  // namespace kx
