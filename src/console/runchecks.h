#pragma once
// Checks made before a console run starts, for what would otherwise do nothing
// silently or be found out only at its end. Each gives "" or one line for a person.
#include <string>

namespace kx {

// A source whose folder does not exist, or no source at all. `source` is the
// search's source (folder and mask, or one document), "file:" addresses as paths.
std::string SourceProblem(const std::string& source);
// A run log whose folder does not exist or that cannot be written there.
std::string LogFileProblem(const std::string& logFile);

}  // namespace kx
