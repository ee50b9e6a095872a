#include "console/runchecks.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/paths.h"

namespace kx {

std::string LogFileProblem(const std::string& logFile, const std::string& key, const std::string& what) {
  if (logFile.empty()) return std::string();
  std::string path = AbsolutePath(logFile, CurrentDir());
  std::string folder = ExtractFilePath(path);
  if (!DirectoryExists(folder))
    return "the folder " + folder + " of " + key + " does not exist: " + what + " cannot be written";
  if (DirectoryExists(path)) return key + " " + path + " is a folder: " + what + " cannot be written";
  bool exists = access(path.c_str(), F_OK) == 0;
  if (access(exists ? path.c_str() : folder.c_str(), exists ? W_OK : W_OK | X_OK) != 0)
    return key + " " + path + " cannot be written (" + std::strerror(errno) + ")";
  return std::string();
}

}  // namespace kx
