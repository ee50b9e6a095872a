#pragma once
// A font program a metafile carries for one of its face names, in a private comment
// record (EMR_GDICOMMENT, which every other reader skips): the face Writer drew a run
// with when no installed face matches it, so that playing the metafile draws the same
// glyphs wherever it is played.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kx {

struct TkxCarriedFont {
  std::string Face;  // the face name the metafile's fonts use, UTF-8
  int Weight = 400;
  bool Italic = false;
  std::string Program;  // TrueType, CFF or Type 1
};

// The comment's data.
std::string FontComment(const TkxCarriedFont& font);
// False when `data` is not such a comment (or is cut short).
bool ReadFontComment(const uint8_t* data, size_t size, TkxCarriedFont& out);

}  // namespace kx
