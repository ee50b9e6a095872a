#pragma once
// The application object, the edition and its profile.
#include <string>
#include <vector>

namespace kx {

class TkxApp {
 public:
  TkxApp(std::string exeName, std::string param)
      : ExeName(std::move(exeName)), Param(std::move(param)), Params(Param.empty() ? 0 : 1, Param) {}
  TkxApp(std::string exeName, std::vector<std::string> params)
      : ExeName(std::move(exeName)), Param(params.empty() ? std::string() : params[0]), Params(std::move(params)) {}
  static TkxApp FromArgs(int argc, char** argv);

  std::string ExeName;              // absolute path the program was started by
  std::string Param;                // the first command-line argument, "" when none
  std::vector<std::string> Params;  // every command-line argument
};

extern TkxApp* App;
// The values of Edition.
inline constexpr int kPngEdition = 0;
inline constexpr int kEmfEdition = 1;

extern int Edition;          // kPngEdition or kEmfEdition
extern bool SkipOwnerFiles;  // names beginning with "~$" are never listed

// The version is the CMake project's, four parts (LUMI_VERSION, set by CMakeLists.txt).
inline constexpr const char* kVersion = LUMI_VERSION;

// The help file: "<program>.chm" or "<program>.pdf" beside the program when there is one,
// else the PDF in the installed documentation folder (a package keeps documentation
// under /usr/share/doc); the PDF beside the program when neither exists.
std::string HelpFile(const std::string& exeName);

// kPngEdition when the executable's file name contains "png" (case-sensitive), else kEmfEdition.
int DetectEdition(const std::string& exeName);

// What the edition changes in the project.
struct TkxEditionProfile {
  int Edition = kPngEdition;
  std::string OutputExt, ShortName, ProjectExt, ProjectFilter, Title;
};
TkxEditionProfile EditionProfileOf(int edition);

// Whether a window could be shown: a display or a Qt platform is named.
bool DisplayAvailable();
// Why no window can be shown, for a person: "DISPLAY is not set", or the display
// named that cannot be opened.
std::string DisplayProblem();

}  // namespace kx
