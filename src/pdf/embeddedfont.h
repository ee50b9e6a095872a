#pragma once
// A font program a PDF embeds, made drawable by character. Writer embeds subsets: a
// Type 1 subset keeps its glyph names, from which FreeType knows each glyph's
// character, but a TrueType subset maps only the PDF's own codes (1, 2, 3, ... in the
// order Writer first drew its glyphs) to glyphs. The reader reports characters, not
// codes, so the codes are recovered from that order and the program gets a Unicode
// character map for them.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx::pdf {

struct TkxCodeUse {
  std::u32string Shown;  // the characters the metafile's text gives for the glyph
  double Advance = 0;    // the glyph's advance as the PDF placed it, in ems
};

// The program with a character map that gives each code's glyph for its characters
// (`codes[k]` is code k + 1). The program as it is when its own map already has them;
// empty when it cannot be read, or when its glyphs' advances show that the codes were
// not assigned in the order they were drawn.
std::string DrawableProgram(std::string_view program, const std::vector<TkxCodeUse>& codes);

}  // namespace kx::pdf
