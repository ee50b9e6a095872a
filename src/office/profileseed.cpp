#include "office/profileseed.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

namespace kx::office {

namespace {

// The record is a few dozen small files; anything far larger is not one.
constexpr int kMaxEntries = 2000;
constexpr std::uintmax_t kMaxBytes = 16u << 20;

bool Absolute(const char* path) { return path && *path == '/'; }

// A real folder of this account that only it may change.
bool OwnFolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 022) == 0;
}

// Makes `path` (mode 0700) unless it is there; true when it is then an own folder.
bool EnsureFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return OwnFolder(path);
}

bool CopyFile(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) return false;
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool ok = out >= 0;
  char buf[65536];
  ssize_t n;
  while (ok && (n = read(in, buf, sizeof buf)) != 0) ok = n > 0 && write(out, buf, size_t(n)) == n;
  if (out >= 0 && close(out) != 0) ok = false;
  close(in);
  return ok;
}

// Copies the folders and regular files under `from` into the empty folder `to`; links
// and anything else are left out, and a tree beyond the bounds above is not copied.
bool CopyTree(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  std::error_code ec;
  int entries = 0;
  std::uintmax_t bytes = 0;
  for (fs::recursive_directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    fs::file_status st = it->symlink_status(ec);
    if (ec || ++entries > kMaxEntries) return false;
    std::string target = to + "/" + fs::relative(it->path(), from, ec).string();
    if (ec) return false;
    if (fs::is_directory(st)) {
      if (mkdir(target.c_str(), 0700) != 0) return false;
    } else if (fs::is_regular_file(st)) {
      bytes += it->file_size(ec);
      if (ec || bytes > kMaxBytes || !CopyFile(it->path().string(), target)) return false;
    }
  }
  return !ec;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

// Puts the folder `from` at `to`, in place of what is there, in one step.
bool PutInPlace(const std::string& from, const std::string& to) {
  if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL) return rename(from.c_str(), to.c_str()) == 0;  // a file system without it: only into no copy
  if (errno != EEXIST || !OwnFolder(to)) return false;
  // Exchanged, the older copy is left at `from` to be removed.
  return syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0;
}

}  // namespace

std::string ProfileSeedDir() {
  std::string cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); Absolute(xdg))
    cache = xdg;
  else if (const char* home = std::getenv("HOME"); Absolute(home))
    cache = std::string(home) + "/.cache";
  else
    return std::string();
  return cache + "/lumipix/office-extensions";
}

bool SeedProfile(const std::string& userDir) {
  std::string seed = ProfileSeedDir();
  if (seed.empty() || !OwnFolder(seed)) return false;
  std::string to = userDir + "/extensions";
  if (mkdir(to.c_str(), 0700) != 0) return false;
  if (CopyTree(seed, to)) return true;
  RemoveTree(to);  // a part of a record is worse than none: the office makes its own
  return false;
}

bool KeepProfileSeed(const std::string& userDir) {
  std::string seed = ProfileSeedDir();
  if (seed.empty()) return false;
  std::string lumipix = seed.substr(0, seed.rfind('/'));
  mkdir(lumipix.substr(0, lumipix.rfind('/')).c_str(), 0700);  // the cache folder, if it is not there yet
  if (!EnsureFolder(lumipix)) return false;
  std::string fresh = lumipix + "/.office-extensions-XXXXXX";
  if (!mkdtemp(fresh.data())) return false;
  bool kept = CopyTree(userDir + "/extensions", fresh) && PutInPlace(fresh, seed);
  RemoveTree(fresh);  // what failed, or the older copy
  return kept;
}

}  // namespace kx::office
