#include "office/opensymbol.h"

#include <cstdint>

namespace kx::office {

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

constexpr uint32_t kSymbolBase = 0xF000;

void PutUtf8(uint32_t cp, std::string& out) {  // three bytes: the characters above
  out.push_back(char(0xE0 | (cp >> 12)));
  out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
  out.push_back(char(0x80 | (cp & 0x3F)));
}

}  // namespace

std::string OpenSymbolText(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    auto byte = [&](size_t k) { return uint32_t(static_cast<unsigned char>(utf8[i + k])); };
    // U+F000 to U+F0FF: EF 80..83 xx.
    if (i + 2 < utf8.size() && byte(0) == 0xEF && (byte(1) & 0xFC) == 0x80 && (byte(2) & 0xC0) == 0x80) {
      uint32_t cp = 0xF000 | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
      uint32_t mapped = 0;
      for (const SymbolGlyph& g : kGlyphs)
        if (cp == kSymbolBase + g.Code) mapped = g.OpenSymbol;
      if (mapped) {
        PutUtf8(mapped, out);
        i += 3;
        continue;
      }
    }
    out.push_back(utf8[i++]);
  }
  return out;
}

}  // namespace kx::office
