#pragma once
// Where LibreOffice's PDF export put every glyph, as its own PDF reader
// (xpdfimport) reports it. The Draw import keeps only each line's text, so this
// is what tells a justified line's true extent.
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

struct TkxWideLine {
  double Left = 0;      // where its first glyph starts, 1/100 mm
  double Baseline = 0;  // 1/100 mm from the page's top
};

// The lines of a page with a gap between words wider than the page's narrowest gap
// at that font size: the lines a layout stretched (justified text), which a text
// import without positions shortens.
std::vector<TkxWideLine> WideLines(const TkxPdfPage& page);

// The right end (1/100 mm) of the glyphs that spell `text` on one baseline, the
// first of them starting near `left` and lying between `top` and `bottom`; -1 when
// the glyphs there do not spell it.
double LineRightEdge(const TkxPdfPage& page, double left, double top, double bottom, const std::string& text);

}  // namespace kx::office
