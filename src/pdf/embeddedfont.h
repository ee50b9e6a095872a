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

// A program's glyphs by the PDF's codes, with their outlines.
class TkxEmbeddedFont {
 public:
  explicit TkxEmbeddedFont(std::string_view program);
  ~TkxEmbeddedFont();
  TkxEmbeddedFont(const TkxEmbeddedFont&) = delete;
  TkxEmbeddedFont& operator=(const TkxEmbeddedFont&) = delete;
  // The glyph of a code by the program's own map; 0 when it has none.
  unsigned GlyphOfCode(uint32_t code) const;
  // A digest of the glyph's outline and advance in font units; 0 when it has none.
  uint64_t Outline(unsigned glyph) const;
  // TrueType glyphs are copied into a subset as they are, so their outlines can be
  // compared with the installed face's.
  bool TrueType() const;

 private:
  struct TFt;
  TFt* F;
};

// The character whose glyph in the installed face file has that outline digest (a
// private-use character only when the face gives the glyph no other); U+FFFD for the
// face's missing-glyph box; 0 when no glyph has it.
char32_t InstalledCharacter(const std::string& file, int index, uint64_t outline);
// Whether the installed face has a glyph for `c` with that outline digest.
bool InstalledGlyphIs(const std::string& file, int index, char32_t c, uint64_t outline);

// The program with a character map that gives each code's glyph for its characters
// (`codes[k]` is code k + 1). The program as it is when its own map already has them;
// empty when it cannot be read, or when its glyphs' advances show that the codes were
// not assigned in the order they were drawn.
std::string DrawableProgram(std::string_view program, const std::vector<TkxCodeUse>& codes);

}  // namespace kx::pdf
