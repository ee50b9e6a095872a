#pragma once
// Checks made before a console run starts, for what would otherwise be found out
// only at its end. Each gives "" or one line for a person. (The source's own checks
// are SourceItemProblems, shared with the window.)
#include <string>

namespace kx {

// A run log whose folder does not exist or that cannot be written there; `key` and
// `what` name the option and the file in the message ("JsonLog", "the JSON report").
std::string LogFileProblem(const std::string& logFile, const std::string& key = "LogFile",
                           const std::string& what = "the run log");

}  // namespace kx
