#pragma once
// One share of a source folder: "i/n" takes the documents whose path relative to
// the source folder hashes to share i of n, so n machines split one folder without
// talking to each other and no document is taken twice.
#include <cstdint>
#include <string_view>

namespace kx {

// 64-bit FNV-1a of the bytes: the same on every machine and every build.
uint64_t Fnv1a64(std::string_view bytes);

class TkxShard {
 public:
  // The whole folder.
  TkxShard() = default;
  // False when `text` is not "i/n" with 1 <= i <= n; `out` is left alone then.
  // Empty text (or blanks only) is the whole folder.
  static bool Parse(std::string_view text, TkxShard& out);

  bool All() const { return FCount <= 1; }
  int Index() const { return FIndex; }
  int Count() const { return FCount; }
  // Whether a document at `relativePath` (below the source folder) is in this share.
  bool Takes(std::string_view relativePath) const;

 private:
  int FIndex = 1;  // from 1
  int FCount = 1;
};

}  // namespace kx
