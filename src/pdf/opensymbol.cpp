#include "pdf/opensymbol.h"

#include <cstdint>

#include "platform/text.h"

namespace kx::pdf {

namespace {

// Symbol-font codes and the OpenSymbol characters Writer's PDFs show for them (read
// from the glyphs Writer embeds for text in those fonts).
struct SymbolGlyph {
  uint32_t Code;
  uint32_t OpenSymbol;
};
constexpr SymbolGlyph kGlyphs[] = {
    {0xB7, 0xE12C},  // Symbol: bullet
    {0xA7, 0xE46F},  // Wingdings: small square
    {0xA8, 0xE470},  // Wingdings: square
    {0xD8, 0xE49E},  // Wingdings: arrowhead
    {0xE0, 0xE4A6},  // Wingdings: arrow
    {0xE8, 0xE4AE},  // Wingdings: heavy arrow
    {0x6C, 0xE437},  // Wingdings: black circle
    {0x6E, 0xE439},  // Wingdings: black square
    {0x71, 0xE43C},  // Wingdings: square with shadow
    {0x76, 0xE441},  // Wingdings: diamond with a cross
    {0xFB, 0xE4C1},  // Wingdings: ballot cross
    {0xFC, 0xE4C2},  // Wingdings: check mark
};

constexpr char16_t kSymbolBase = 0xF000;

}  // namespace

std::string OpenSymbolText(const std::string& utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  bool mapped = false;
  for (char16_t& c : text)
    for (const SymbolGlyph& g : kGlyphs)
      if (c == kSymbolBase + g.Code) c = char16_t(g.OpenSymbol), mapped = true;
  return mapped ? Utf16ToUtf8(text) : utf8;
}

}  // namespace kx::pdf
