#include "pdf/pdfreader.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/fd.h"

extern char** environ;

namespace kx::pdf {

bool RunPdfReader(const std::string& reader, const std::string& pdf, int timeoutMs, TkxPdfReaderOutput& out) {
  out = {};
  if (access(reader.c_str(), X_OK) != 0) return false;
  // Close-on-exec, so that no other child of this process keeps a pipe open.
  int ends[2][2];
  if (pipe2(ends[0], O_CLOEXEC) != 0) return false;
  UniqueFd textRead(ends[0][0]), textWrite(ends[0][1]);
  if (pipe2(ends[1], O_CLOEXEC) != 0) return false;
  UniqueFd binRead(ends[1][0]), binWrite(ends[1][1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, textWrite.Get(), 1);
  posix_spawn_file_actions_adddup2(&actions, binWrite.Get(), 2);
  char* argv[] = {const_cast<char*>(reader.c_str()), const_cast<char*>(pdf.c_str()), nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, reader.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  textWrite.Reset();
  binWrite.Reset();
  if (rc != 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  UniqueFd* owners[2] = {&textRead, &binRead};
  pollfd fds[2] = {{textRead.Get(), POLLIN, 0}, {binRead.Get(), POLLIN, 0}};
  std::string* sinks[2] = {&out.Text, &out.Binary};
  bool timedOut = false;
  char buf[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timedOut = true;
      break;
    }
    int n = poll(fds, 2, int(left.count()));
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < 2 && n > 0; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, size_t(got));
      } else if (got == 0 || errno != EINTR) {
        owners[i]->Reset();
        fds[i].fd = -1;  // poll skips it
      }
    }
  }
  textRead.Reset();
  binRead.Reset();
  if (timedOut) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kx::pdf
