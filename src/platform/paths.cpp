#include "platform/paths.h"

#include <unistd.h>

#include <cstdlib>
#include <sys/stat.h>
#include <vector>

namespace kx {

std::string ExtractFilePath(std::string_view path) {
  size_t p = path.rfind(PathDelim);
  return p == std::string_view::npos ? std::string() : std::string(path.substr(0, p + 1));
}

std::string ExtractFileName(std::string_view path) {
  size_t p = path.rfind(PathDelim);
  return std::string(p == std::string_view::npos ? path : path.substr(p + 1));
}

static size_t ExtPos(std::string_view path) {
  size_t slash = path.rfind(PathDelim);
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::string_view::npos;
  return dot;
}

std::string ExtractFileExt(std::string_view path) {
  size_t p = ExtPos(path);
  return p == std::string_view::npos ? std::string() : std::string(path.substr(p));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  size_t p = ExtPos(path);
  std::string r(p == std::string_view::npos ? path : path.substr(0, p));
  r.append(ext);
  return r;
}

std::string IncludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  if (r.empty() || r.back() != PathDelim) r.push_back(PathDelim);
  return r;
}

std::string ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  if (r.size() > 1 && r.back() == PathDelim) r.pop_back();
  return r;
}

std::string CurrentDir() {
  std::vector<char> buf(4096);
  while (!getcwd(buf.data(), buf.size())) {
    if (buf.size() > (1u << 20)) return "/";
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

std::string AbsolutePath(std::string_view path, std::string_view base) {
  if (!path.empty() && path[0] == PathDelim) return std::string(path);
  std::string r = IncludeTrailingPathDelimiter(base);
  if (path.substr(0, 2) == "./") path.remove_prefix(2);
  r.append(path);
  return r;
}

static bool IsExecutableFile(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
}

std::string ResolveExeName(std::string_view argv0) {
  if (argv0.empty()) {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), size_t(n)) : std::string();
  }
  if (argv0.find(PathDelim) != std::string_view::npos) return AbsolutePath(argv0, CurrentDir());
  const char* env = std::getenv("PATH");
  std::string_view rest = env ? env : "";
  while (true) {
    size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    if (dir.empty()) dir = ".";
    std::string candidate = AbsolutePath(IncludeTrailingPathDelimiter(dir) + std::string(argv0), CurrentDir());
    if (IsExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return AbsolutePath(argv0, CurrentDir());
}

}  // namespace kx
