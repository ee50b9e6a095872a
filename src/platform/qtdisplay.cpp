#include "platform/qtdisplay.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <QGuiApplication>

namespace kx {

bool QtDisplayOpens(int seconds) {
  pid_t pid = fork();
  if (pid < 0) return true;  // cannot tell: let the window try
  if (pid == 0) {
    // Qt's complaints and a core file of its abort are not the program's to show.
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    int argc = 1;
    char name[] = "batchpng";
    char* argv[] = {name, nullptr};
    { QGuiApplication probe(argc, argv); }
    _exit(0);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kx
