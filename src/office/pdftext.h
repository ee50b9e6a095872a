#pragma once
// Where LibreOffice's PDF export put every glyph, as its own PDF reader
// (xpdfimport) reports it. The Draw import keeps each line's text but lays it out
// again, so this is what tells where Writer set every glyph.
#include <string>
#include <vector>

namespace kx::office {

struct TkxPdfGlyph {
  double X0 = 0, X1 = 0;  // origin and origin + advance, 1/100 mm from the page's left
  double Baseline = 0;    // 1/100 mm from the page's top
  double Size = 0;        // font size, points
  std::string Chars;      // UTF-8; may be a ligature's several characters
};

using TkxPdfPage = std::vector<TkxPdfGlyph>;

// The reader's text output, page by page. Only upright, unrotated glyphs are kept.
std::vector<TkxPdfPage> ParsePdfGlyphs(const std::string& output);

// Runs the reader on `pdf`; empty when it is missing, fails or runs past `timeoutMs`.
std::vector<TkxPdfPage> ReadPdfGlyphs(const std::string& reader, const std::string& pdf,
                                      const std::string& scratchFile, int timeoutMs);

}  // namespace kx::office
