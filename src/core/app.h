#pragma once
// The application object, the edition and its profile, and the start-up sequence.
#include <functional>
#include <string>

namespace kx {

class TkxInfoBase;

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
// Fills the edition profile into the project, parses the command line and opens
// the start-up project. False when the program must end at once.
bool ApplyEditionProfile();

// What start-up needs from the layers built on top of the core.
struct TkxStartupSlots {
  std::function<TkxInfoBase*()> CreateInfo;   // the product information object
  std::function<int()> RunWindow;                  // the window mode; returns the exit code
  std::function<void()> KillServers;               // ends every word processor at once
  std::function<bool()> HasDisplay;                // unset: a window can be shown
};

// The whole program: start-up order, run mode, shutdown order. Returns the exit code.
int RunProgram(int argc, char** argv, const TkxStartupSlots& hooks);

}  // namespace kx
