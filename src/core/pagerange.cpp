#include "core/pagerange.h"

#include <algorithm>
#include <climits>

#include "platform/numbers.h"
#include "platform/text.h"

namespace kx {

// A page number: decimal digits only, from 1 to a million (no document has more).
static bool ReadPage(std::string_view s, int& page) {
  std::optional<uint64_t> v = s.size() > 7 ? std::nullopt : ReadDigits(s, 1000000);
  if (!v || *v < 1) return false;
  page = int(*v);
  return true;
}

bool TkxPageRange::Parse(std::string_view text, TkxPageRange& out) {
  std::vector<std::pair<int, int>> spans;
  if (!Trim(text).empty()) {
    size_t pos = 0;
    for (;;) {
      size_t comma = text.find(',', pos);
      std::string item = Trim(text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
      size_t dash = item.find('-');
      int from, to;
      if (dash == std::string::npos) {
        if (!ReadPage(item, from)) return false;
        to = from;
      } else {
        std::string a = Trim(std::string_view(item).substr(0, dash)), b = Trim(std::string_view(item).substr(dash + 1));
        if (a.empty() && b.empty()) return false;
        from = 1;
        to = INT_MAX;
        if (!a.empty() && !ReadPage(a, from)) return false;
        if (!b.empty() && !ReadPage(b, to)) return false;
        if (to < from) return false;
      }
      spans.emplace_back(from, to);
      if (comma == std::string_view::npos) break;
      pos = comma + 1;
    }
    std::sort(spans.begin(), spans.end());
  }
  out.FSpans = std::move(spans);
  return true;
}

TkxPageRange TkxPageRange::FromOption(std::string_view text) {
  TkxPageRange r;
  Parse(text, r);
  return r;
}

bool TkxPageRange::Wants(int page) const {
  if (FSpans.empty()) return true;
  for (const auto& s : FSpans)
    if (page >= s.first && page <= s.second) return true;
  return false;
}

bool TkxPageRange::EndsBy(int page) const {
  if (FSpans.empty()) return false;
  for (const auto& s : FSpans)
    if (s.second > page) return false;
  return true;
}

}  // namespace kx
