#include "platform/shell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/fd.h"

namespace kx {

static std::string FindOnPath(const char* name) {
  const char* env = std::getenv("PATH");
  std::string rest = env ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t colon = rest.find(':', pos);
    std::string dir = rest.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (colon == std::string::npos) break;
    pos = colon + 1;
  }
  return std::string();
}

void ShellOpen(const std::string& target) {
  std::string exe = FindOnPath("xdg-open");
  if (exe.empty()) return;
  UniqueFd devnull(open("/dev/null", O_RDWR | O_CLOEXEC));
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()), nullptr};
  // Double fork: the opener is reparented at once and never becomes our zombie.
  pid_t child = fork();
  if (child == 0) {
    setsid();
    if (fork() == 0) {
      if (devnull) {
        dup2(devnull.Get(), 0);
        dup2(devnull.Get(), 1);
        dup2(devnull.Get(), 2);
      }
      execv(exe.c_str(), argv);
      _exit(127);
    }
    _exit(0);
  }
  if (child > 0) {
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace kx
