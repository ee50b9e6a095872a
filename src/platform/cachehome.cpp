#include "platform/cachehome.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kx {

namespace {

std::string gPrivateCache;

bool WritableFolder(const char* path) {
  struct stat st {};
  return path && *path == '/' && stat(path, &st) == 0 && S_ISDIR(st.st_mode) && access(path, W_OK | X_OK) == 0;
}

void RemovePrivateCache() {
  std::error_code ec;
  if (!gPrivateCache.empty()) std::filesystem::remove_all(gPrivateCache, ec);
}

}  // namespace

void EnsureCacheHome() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if ((cache && *cache) || WritableFolder(std::getenv("HOME"))) return;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(WritableFolder(tmp) ? tmp : "/tmp") + "/lumipix-cache-XXXXXX";
  if (!mkdtemp(pattern.data())) return;  // fontconfig then says what it says
  gPrivateCache = pattern;
  setenv("XDG_CACHE_HOME", gPrivateCache.c_str(), 1);
  std::atexit(RemovePrivateCache);
}

}  // namespace kx
