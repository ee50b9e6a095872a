#include "platform/paths.h"

#include <unistd.h>

#include <sys/stat.h>
#include <cstdint>
#include <cstdlib>
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

static int HexValue(char c);

std::string FileAddressToPath(std::string_view path) {
  if (path.substr(0, 5) != "file:") return std::string(path);
  path.remove_prefix(5);
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  if (path.empty()) return std::string();
  // An address carries unusual bytes as percent escapes ("My%20Docs"); a '%' that
  // starts no escape stands for itself.
  std::string r(1, PathDelim);
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size() && HexValue(path[i + 1]) >= 0 && HexValue(path[i + 2]) >= 0) {
      r.push_back(char(HexValue(path[i + 1]) << 4 | HexValue(path[i + 2])));
      i += 2;
    } else {
      r.push_back(path[i]);
    }
  }
  return r;
}

// The length of the valid UTF-8 sequence at the start of `s`, 0 when there is none:
// no overlong forms, no surrogates, nothing above U+10FFFF.
static size_t Utf8SequenceAt(std::string_view s, uint32_t& cp) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char c = byte(0);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len;
  uint32_t min;
  if ((c & 0xE0) == 0xC0) {
    len = 2, min = 0x80, cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, min = 0x800, cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (s.size() < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (byte(i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// Calls `fn` with each valid sequence and its code point, and with each byte that
// begins no valid sequence (code point -1); stops when `fn` returns false.
template <class Fn>
static void ForEachSequence(std::string_view s, Fn fn) {
  while (!s.empty()) {
    uint32_t cp;
    size_t n = Utf8SequenceAt(s, cp);
    bool go = n ? fn(s.substr(0, n), int64_t(cp)) : fn(s.substr(0, 1), int64_t(-1));
    if (!go) return;
    s.remove_prefix(n ? n : 1);
  }
}

bool IsValidUtf8(std::string_view s) {
  bool valid = true;
  ForEachSequence(s, [&](std::string_view, int64_t cp) { return valid = cp >= 0; });
  return valid;
}

// Code points that end or break a line somewhere: C0, DEL, C1, and the Unicode
// line and paragraph separators.
static bool IsControl(int64_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029; }

std::string DisplayPath(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string r;
  r.reserve(path.size());
  ForEachSequence(path, [&](std::string_view bytes, int64_t cp) {
    if (cp == '\\') {
      r.append("\\\\");
    } else if (cp < 0 || IsControl(cp)) {
      for (unsigned char b : bytes) {
        r.append("\\x");
        r.push_back(kHex[b >> 4]);
        r.push_back(kHex[b & 15]);
      }
    } else {
      r.append(bytes);
    }
    return true;
  });
  return r;
}

static int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string PathFromDisplay(std::string_view shown) {
  std::string r;
  r.reserve(shown.size());
  for (size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] == '\\' && i + 1 < shown.size() && shown[i + 1] == '\\') {
      r.push_back('\\');
      ++i;
    } else if (shown[i] == '\\' && i + 3 < shown.size() && shown[i + 1] == 'x' && HexValue(shown[i + 2]) >= 0 &&
               HexValue(shown[i + 3]) >= 0) {
      r.push_back(char(HexValue(shown[i + 2]) << 4 | HexValue(shown[i + 3])));
      i += 3;
    } else {
      r.push_back(shown[i]);
    }
  }
  return r;
}

std::u16string PathToUtf16(std::string_view path) {
  std::u16string r;
  r.reserve(path.size());
  ForEachSequence(path, [&](std::string_view bytes, int64_t cp) {
    if (cp < 0) {
      r.push_back(char16_t(0xDC00 + static_cast<unsigned char>(bytes[0])));
    } else if (cp >= 0x10000) {
      r.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
      r.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      r.push_back(char16_t(cp));
    }
    return true;
  });
  return r;
}

}  // namespace kx
