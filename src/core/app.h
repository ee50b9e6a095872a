#pragma once
// The application object, the edition and its profile.
#include <string>

namespace kx {

class TkxApp {
 public:
  TkxApp(std::string exeName, std::string param) : ExeName(std::move(exeName)), Param(std::move(param)) {}
  static TkxApp FromArgs(int argc, char** argv);

  std::string ExeName;  // absolute path the program was started by
  std::string Param;    // the first command-line argument, "" when none
};

extern TkxApp* App;
extern int Edition;           // 0 PNG edition, 1 EMF edition
extern bool SkipOwnerFiles;   // names beginning with "~$" are never listed

inline constexpr const char* kVersion = "2022.14.611.2864";

// 0 when the executable's file name contains "png" (case-sensitive), else 1.
int DetectEdition(const std::string& exeName);

// What the edition changes in the project.
struct TkxEditionProfile {
  int Edition = 0;
  std::string OutputExt, ShortName, ProjectExt, ProjectFilter, Title;
};
TkxEditionProfile EditionProfileOf(int edition);

// Whether a window could be shown: a display or a Qt platform is named.
bool DisplayAvailable();

}  // namespace kx
