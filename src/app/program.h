#pragma once
// The program as a whole: the start-up order of the global objects, the choice of
// the run mode and the shutdown order. It sits above every layer and wires them.
#include <functional>
#include <memory>

namespace kx {

class TkxInfoBase;

// Fills the edition profile into the project, parses the command line and opens
// the start-up project. False when the program must end at once.
bool ApplyEditionProfile();

// What start-up needs from the parts that are not linked into every build.
struct TkxStartupSlots {
  std::function<std::unique_ptr<TkxInfoBase>()> CreateInfo;  // the product information object
  std::function<int()> RunWindow;                            // the window mode; returns the exit code
  std::function<void()> KillServers;                         // ends every word processor at once
  std::function<bool()> HasDisplay;                          // unset: a window can be shown
};

// The whole program: start-up order, run mode, shutdown order. Returns the exit code.
int RunProgram(int argc, char** argv, const TkxStartupSlots& hooks);

}  // namespace kx
