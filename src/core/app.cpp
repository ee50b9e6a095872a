#include "core/app.h"

#include <cstdlib>
#include <filesystem>

#include "core/infoslot.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

TkxApp* App = nullptr;
int Edition = kPngEdition;
bool SkipOwnerFiles = false;
TkxInfoBase* Info = nullptr;

TkxApp TkxApp::FromArgs(int argc, char** argv) {
  std::vector<std::string> params;
  for (int i = 1; i < argc; ++i) params.emplace_back(argv[i] ? argv[i] : "");
  return TkxApp(ResolveExeName(argc > 0 && argv[0] ? argv[0] : ""), std::move(params));
}

int DetectEdition(const std::string& exeName) {
  return Contains(ExtractFileName(exeName), "png") ? kPngEdition : kEmfEdition;
}

TkxEditionProfile EditionProfileOf(int edition) {
  TkxEditionProfile e;
  e.Edition = edition;
  if (edition == kPngEdition) {
    e.OutputExt = ".png";
    e.ShortName = "lumipix";
    e.ProjectExt = ".batch-" + e.ShortName;
    e.ProjectFilter = "Lumipix Project|*" + e.ProjectExt;
    e.Title = "Lumipix Converter";
  } else {
    e.OutputExt = ".emf";
    e.ShortName = "lumimet";
    e.ProjectExt = ".batch-" + e.ShortName;
    e.ProjectFilter = "Lumimet Project|*" + e.ProjectExt;
    e.Title = "Lumimet Converter";
  }
  return e;
}

std::string HelpFile(const std::string& exeName) {
  std::string chm = ChangeFileExt(exeName, ".chm");
  if (FileExists(chm)) return chm;
  std::string pdf = ChangeFileExt(exeName, ".pdf");
  if (FileExists(pdf)) return pdf;
  // LUMI_DOC_DIR: the documentation folder relative to the program's, from CMakeLists.txt.
  std::filesystem::path installed(ExtractFilePath(exeName) + LUMI_DOC_DIR "/" + ExtractFileName(pdf));
  std::string normal = installed.lexically_normal().string();
  return FileExists(normal) ? normal : pdf;
}

std::string DisplayProblem() {
  std::string named;
  for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v && *v) named = std::string(name) + "=" + v;
  }
  if (named.empty()) return "DISPLAY is not set";
  return named + " cannot be opened";
}

bool DisplayAvailable() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v && *v) return true;
  }
  return false;
}

}  // namespace kx
