#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/paths.h"

namespace kx {

static char Fold(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Iterative matcher with backtracking over the last '*'; '?' may match nothing,
// which is tried first by skipping it and then by consuming one character.
static bool MatchAt(const char* m, const char* s, int depth) {
  if (depth > 64) return false;
  while (*m) {
    if (*m == '*') {
      while (*m == '*') ++m;
      if (!*m) return true;
      for (const char* t = s;; ++t) {
        if (MatchAt(m, t, depth + 1)) return true;
        if (!*t) return false;
      }
    }
    if (*m == '?') {
      if (MatchAt(m + 1, s, depth + 1)) return true;
      if (!*s) return false;
      ++m, ++s;
      continue;
    }
    if (!*s || Fold(*m) != Fold(*s)) return false;
    ++m, ++s;
  }
  return *s == 0;
}

// As on the classic platform, a trailing ".*" also matches a name without an
// extension, so "*.*" lists every entry.
bool WildcardMatch(const std::string& mask, const std::string& name) {
  if (MatchAt(mask.c_str(), name.c_str(), 0)) return true;
  return mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 && name.find('.') == std::string::npos &&
         MatchAt(mask.substr(0, mask.size() - 2).c_str(), name.c_str(), 0);
}

void FindFiles(const std::string& pattern, int attrs, const std::function<bool(const TkxFileEntry&)>& fn) {
  std::string folder = ExtractFilePath(pattern);
  std::string mask = ExtractFileName(pattern);
  DIR* d = opendir(folder.empty() ? "." : folder.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (!WildcardMatch(mask, name)) continue;
    std::string full = folder + name;
    struct stat lst {}, st {};
    if (lstat(full.c_str(), &lst) != 0) continue;
    bool isLink = S_ISLNK(lst.st_mode);
    if (stat(full.c_str(), &st) != 0) continue;  // dangling link
    TkxFileEntry entry{name, 0};
    if (S_ISDIR(st.st_mode)) {
      if (isLink) continue;  // never descend into linked folders: no cycles
      entry.Attr |= faDirectory;
    } else if (S_ISREG(st.st_mode)) {
      entry.Attr |= faArchive;
    } else {
      continue;  // FIFOs, sockets, devices would block or make no sense as documents
    }
    if (name != "." && name != ".." && name[0] == '.') entry.Attr |= faHidden;
    if (!(st.st_mode & S_IWUSR)) entry.Attr |= faReadOnly;
    if ((entry.Attr & faHidden) && !(attrs & faHidden)) continue;
    if ((entry.Attr & faDirectory) && !(attrs & faDirectory)) continue;
    if (!fn(entry)) break;
  }
  closedir(d);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ForceDirectories(const std::string& path) {
  std::string p = ExcludeTrailingPathDelimiter(path);
  if (p.empty()) throw std::runtime_error("Unable to create directory");
  if (DirectoryExists(p)) return;
  size_t pos = 0;
  while (true) {
    pos = p.find(PathDelim, pos + 1);
    std::string part = p.substr(0, pos);
    if (!part.empty() && !DirectoryExists(part) && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      throw std::runtime_error("Unable to create directory");
    if (pos == std::string::npos) break;
  }
  if (!DirectoryExists(p)) throw std::runtime_error("Unable to create directory");
}

bool DeleteFile(const std::string& path) { return !path.empty() && unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return !from.empty() && !to.empty() && rename(from.c_str(), to.c_str()) == 0;
}

bool GetCreationTime(const std::string& path, timespec& t) {
  struct statx sx {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0) return false;
  const statx_timestamp& ts = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
  t.tv_sec = ts.tv_sec;
  t.tv_nsec = ts.tv_nsec;
  return true;
}

bool GetFileTimes(const std::string& path, TkxFileTimes& t) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  t.Access = st.st_atim;
  t.Write = st.st_mtim;
  if (!GetCreationTime(path, t.Creation)) t.Creation = st.st_mtim;
  return true;
}

bool SetFileTimes(const std::string& path, const TkxFileTimes& t) {
  timespec times[2] = {t.Access, t.Write};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int32_t DateTimeToDosDateTime(const std::tm& tm) {
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return -1;
  uint32_t date = uint32_t((year - 1980) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
  uint32_t time = uint32_t(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
  return int32_t(date << 16 | time);
}

int32_t UnixToDosDateTime(time_t t, bool utc) {
  std::tm tm {};
  if (!(utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm))) return -1;
  return DateTimeToDosDateTime(tm);
}

}  // namespace kx
