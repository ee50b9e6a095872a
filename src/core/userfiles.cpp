#include "core/userfiles.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/paths.h"

namespace kx {

std::string UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // The base directory rules ignore a relative XDG_CONFIG_HOME.
  if (xdg && xdg[0] == '/') return IncludeTrailingPathDelimiter(xdg) + "lumipix/";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return IncludeTrailingPathDelimiter(home) + ".config/lumipix/";
  return std::string();
}

bool ProgramFolderWritable(const std::string& folder) {
  std::string f = IncludeTrailingPathDelimiter(folder);
  if (f.rfind("/usr/", 0) == 0) return false;  // even root keeps its files out of the system's tree
  // A folder that is gone is no install to move away from: writes there fail silently.
  return !DirectoryExists(f) || access(f.c_str(), W_OK | X_OK) == 0;
}

std::string HousekeepingFile(const std::string& besideExe) {
  if (ProgramFolderWritable(ExtractFilePath(besideExe))) return besideExe;
  std::string user = UserConfigFolder();
  return user.empty() ? besideExe : user + ExtractFileName(besideExe);
}

void PrepareHousekeepingFolder(const std::string& path) {
  std::string folder = ExtractFilePath(path);
  if (folder.empty() || DirectoryExists(folder)) return;
  try {
    ForceDirectories(folder);
  } catch (const std::exception&) {
    // The write into it that follows fails, and its writer decides what to say.
  }
}

}  // namespace kx
