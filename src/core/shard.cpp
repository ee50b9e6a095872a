#include "core/shard.h"

#include <string>

#include "platform/numbers.h"
#include "platform/text.h"

namespace kx {

uint64_t Fnv1a64(std::string_view bytes) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return h;
}

static bool ReadCount(const std::string& s, int& v) {
  std::optional<uint64_t> n = s.size() > 7 ? std::nullopt : ReadDigits(s);
  if (n) v = int(*n);
  return n.has_value();
}

bool TkxShard::Parse(std::string_view text, TkxShard& out) {
  std::string t = Trim(text);
  if (t.empty()) {
    out = TkxShard();
    return true;
  }
  size_t slash = t.find('/');
  if (slash == std::string::npos) return false;
  int i, n;
  if (!ReadCount(Trim(std::string_view(t).substr(0, slash)), i) ||
      !ReadCount(Trim(std::string_view(t).substr(slash + 1)), n))
    return false;
  if (n < 1 || i < 1 || i > n) return false;
  out.FIndex = i;
  out.FCount = n;
  return true;
}

bool TkxShard::Takes(std::string_view relativePath) const {
  if (FCount <= 1) return true;
  return Fnv1a64(relativePath) % uint64_t(FCount) == uint64_t(FIndex - 1);
}

}  // namespace kx
