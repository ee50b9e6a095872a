#pragma once
// Writer draws text of the Symbol and Wingdings fonts, which Linux lacks, with its own
// OpenSymbol face, picking OpenSymbol's own glyphs for them; its PDF still names those
// characters by their symbol-font codes (U+F000 plus the code). This gives the glyphs
// Writer drew back their OpenSymbol characters.
#include <string>

namespace kx::pdf {

// `utf8` with each symbol-font code that Writer draws as an OpenSymbol glyph of its own
// replaced by that glyph's character. A code that Symbol and Wingdings share goes to the
// one Word's bullet lists use (Symbol for the round bullet, Wingdings for the others).
std::string OpenSymbolText(const std::string& utf8);

}  // namespace kx::pdf
