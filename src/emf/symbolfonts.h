#pragma once
// Writer has no Symbol, Wingdings, Wingdings 2, Wingdings 3 or Webdings on Linux: it
// draws their text with glyphs of its own OpenSymbol face, and its PDF names each
// character by the font's code (U+F000 plus the code). The glyph Writer drew says
// which font the code was of (Writer's stand-ins for each font's codes lie in a block
// of OpenSymbol's own: U+E100 Symbol, U+E300 Webdings, U+E400 Wingdings, U+E500
// Wingdings 2, U+E600 Wingdings 3; for some Symbol codes it draws the Unicode
// character itself), and the font and code say which Unicode character it shows.
#include <cstdint>
#include <optional>
#include <string>

namespace kx {

enum class TkxSymbolFont { Symbol, Webdings, Wingdings, Wingdings2, Wingdings3 };

// The font whose code Writer drew with OpenSymbol's character `drawn`; none for a
// character outside those blocks.
std::optional<TkxSymbolFont> SymbolFontOfGlyph(char32_t drawn);

// The Unicode character that `code` (0x20 to 0xFF) of the font shows; 0 when the font
// has no character there, or none that Unicode encodes.
char32_t SymbolCharacter(TkxSymbolFont font, uint32_t code);

// A character as Writer's PDF names it in a symbol font: U+F020 to U+F0FF.
inline bool IsSymbolCode(char32_t c) { return c >= 0xF020 && c <= 0xF0FF; }

// The symbol font a face name names ("Wingdings 2", "Webdings"); the Symbol font for
// any other name.
TkxSymbolFont SymbolFontNamed(const std::string& face);

}  // namespace kx
