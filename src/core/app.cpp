#include "core/app.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "core/infoslot.h"
#include "core/project.h"
#include "core/runner.h"
#include "engine/convertor.h"
#include "engine/match.h"
#include "platform/paths.h"
#include "platform/signals.h"
#include "platform/text.h"

namespace kx {

TkxApp* App = nullptr;
int Edition = 0;
bool SkipOwnerFiles = false;
TkxInfoBase* Info = nullptr;

TkxApp TkxApp::FromArgs(int argc, char** argv) {
  return TkxApp(ResolveExeName(argc > 0 && argv[0] ? argv[0] : ""), argc > 1 && argv[1] ? argv[1] : "");
}

int DetectEdition(const std::string& exeName) { return Contains(ExtractFileName(exeName), "png") ? 0 : 1; }

bool ApplyEditionProfile() {
  TkxProject& p = *Project;
  p.ConvertorClass = FindConvertorClass("TkxLUMIPIX");
  p.SourceMask = "*.doc?";
  p.DocFilter = "Word Document (*.doc;*.docx)|*.doc;*.docx";
  Edition = DetectEdition(App->ExeName);
  if (Edition == 0) {
    p.OutputExt = ".png";
    p.ShortName = "lumipix";
    p.ProjectExt = ".batch-" + p.ShortName;
    p.ProjectFilter = "Lumipix Project|*" + p.ProjectExt;
    p.Title = "Lumipix Converter";
  } else {
    p.OutputExt = ".emf";
    p.ShortName = "lumimet";
    p.ProjectExt = ".batch-" + p.ShortName;
    p.ProjectFilter = "Lumimet Project|*" + p.ProjectExt;
    p.Title = "Lumimet Converter";
  }
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
    return sig ? 128 + sig : 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unexpected error\n");
  }
  return 1;
}

int RunProgram(int argc, char** argv, const TkxStartupSlots& hooks) {
  App = new TkxApp(TkxApp::FromArgs(argc, argv));
  Info = hooks.CreateInfo ? hooks.CreateInfo() : nullptr;
  Project = new TkxProject(App->ExeName);
  Runner = new TkxMain();
  int code = 0;
  if (ApplyEditionProfile()) {
    Matcher = new TkxMatch();
    if (Project->PureConsole() && !Contains(Project->Source(), "http")) {
      code = ConsoleRun(hooks);
    } else if (hooks.RunWindow) {
      code = hooks.RunWindow();
    } else {
      std::fprintf(stderr, "%s: the window is not available in this build\n", Project->Title.c_str());
      code = 2;
    }
  }
  delete Matcher;
  Matcher = nullptr;
  delete Runner;
  Runner = nullptr;
  delete Project;
  Project = nullptr;
  delete Info;
  Info = nullptr;
  delete App;
  App = nullptr;
  return code;
}

}  // namespace kx
