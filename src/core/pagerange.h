#pragma once
// Which pages of a document are written: "1", "2-4", "1,3,5-" ("-3" is 1-3).
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

class TkxPageRange {
 public:
  // Every page.
  TkxPageRange() = default;
  // False when `text` is not a page range; `out` is left alone then. Empty text
  // (or blanks only) is every page.
  static bool Parse(std::string_view text, TkxPageRange& out);
  // The range an option value gives: every page when it cannot be read.
  static TkxPageRange FromOption(std::string_view text);

  bool All() const { return FSpans.empty(); }
  bool Wants(int page) const;
  // The first page the range wants (1 for every page).
  int First() const { return FSpans.empty() ? 1 : FSpans.front().first; }
  // True when no page after `page` is wanted: a document's export can stop there.
  bool EndsBy(int page) const;

 private:
  std::vector<std::pair<int, int>> FSpans;  // inclusive, sorted by start; empty: every page
};

}  // namespace kx
