#include "platform/safepath.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/paths.h"

namespace kx {

namespace {

// "ann (uid 1001)", or "uid 1001" for an account without a name.
std::string AccountText(uid_t uid) {
  passwd pw{};
  passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
    return std::string(found->pw_name) + " (uid " + std::to_string(uid) + ")";
  return "uid " + std::to_string(uid);
}

// The components of `path` onto the stack `todo`, the first on top.
void PushComponents(const std::string& path, std::vector<std::string>& todo) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t next = path.find(PathDelim, pos);
    if (next == std::string::npos) next = path.size();
    if (next > pos) parts.push_back(path.substr(pos, next - pos));
    pos = next + 1;
  }
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) todo.push_back(*it);
}

}  // namespace

std::string PlantedLinkOn(const std::string& path, std::string* resolved) {
  std::vector<std::string> todo;
  PushComponents(AbsolutePath(path, CurrentDir()), todo);
  std::string done;  // the resolved folders so far, "" for the root
  int links = 0;
  uid_t me = geteuid();
  while (!todo.empty()) {
    std::string part = todo.back();
    todo.pop_back();
    if (part == ".") continue;
    if (part == "..") {
      done = ExcludeTrailingPathDelimiter(ExtractFilePath(done));
      if (done == "/") done.clear();
      continue;
    }
    std::string next = done + PathDelim + part;
    struct stat st {};
    if (lstat(next.c_str(), &st) != 0) {
      // Not there yet: the rest is made by us, below what was checked.
      done = next;
      while (!todo.empty()) {
        done += PathDelim + todo.back();
        todo.pop_back();
      }
      break;
    }
    if (!S_ISLNK(st.st_mode)) {
      done = next;
      continue;
    }
    struct stat folder {};
    std::string in = done.empty() ? std::string(1, PathDelim) : done;
    if (stat(in.c_str(), &folder) == 0 && (folder.st_mode & S_IWOTH) && st.st_uid != me && st.st_uid != folder.st_uid)
      return DisplayPath(next) + " is a symbolic link that another account, " + AccountText(st.st_uid) + ", made in " +
             DisplayPath(IncludeTrailingPathDelimiter(in)) + ", a folder every account may write: it is not followed";
    if (++links > 40) return DisplayPath(path) + " leads through too many symbolic links";
    std::vector<char> buf(size_t(st.st_size > 0 ? st.st_size : 4095) + 1);
    ssize_t n = readlink(next.c_str(), buf.data(), buf.size());
    if (n < 0 || size_t(n) >= buf.size()) return DisplayPath(next) + " cannot be read as a link";
    std::string target(buf.data(), size_t(n));
    if (!target.empty() && target[0] == PathDelim) done.clear();
    PushComponents(target, todo);
  }
  if (resolved) *resolved = done.empty() ? std::string(1, PathDelim) : done;
  return std::string();
}

UniqueFd OpenForWriting(const std::string& path, std::string& problem) {
  std::string resolved;
  problem = PlantedLinkOn(path, &resolved);
  if (!problem.empty()) return UniqueFd();
  UniqueFd fd(open(resolved.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  if (!fd) {
    problem = std::strerror(errno);
    return fd;
  }
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
    problem = "it is not a regular file";
    return UniqueFd();
  }
  // Emptied only now that it is known to be the file meant.
  if (S_ISREG(st.st_mode) && ftruncate(fd.Get(), 0) != 0) {
    problem = std::strerror(errno);
    return UniqueFd();
  }
  int flags = fcntl(fd.Get(), F_GETFL);
  if (flags >= 0) fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::string MakeFolders(const std::string& path) {
  std::string p = ExcludeTrailingPathDelimiter(AbsolutePath(path, CurrentDir()));
  struct stat st {};
  size_t pos = 0;
  while (true) {
    pos = p.find(PathDelim, pos + 1);
    std::string part = p.substr(0, pos);
    if (!part.empty() && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      return DisplayPath(part) + ": " + std::strerror(errno);
    if (pos == std::string::npos) break;
  }
  if (stat(p.c_str(), &st) != 0) return DisplayPath(p) + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return DisplayPath(p) + ": " + std::strerror(ENOTDIR);
  return std::string();
}

}  // namespace kx
