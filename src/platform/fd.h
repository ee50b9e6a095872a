#pragma once
// Owner of one raw file descriptor: closed when the owner goes, handed on by moving.
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kx {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : FFd(fd) {}
  UniqueFd(UniqueFd&& o) noexcept : FFd(o.Release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  explicit operator bool() const { return Valid(); }

  int Release() { return std::exchange(FFd, -1); }
  void Reset(int fd = -1) {
    if (FFd >= 0) ::close(FFd);
    FFd = fd;
  }
  // Closes now and says how: 0, or the errno of a close that failed (a full disk on
  // some file systems shows only here).
  int Close() {
    if (FFd < 0) return 0;
    return ::close(Release()) == 0 ? 0 : errno;
  }

 private:
  int FFd = -1;
};

}  // namespace kx
