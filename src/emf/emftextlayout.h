#pragma once
// A text record's characters laid out as glyphs along its baseline. Left-to-right
// text in simple scripts goes glyph by glyph from the advance array; right-to-left and
// mixed text is put in visual order by the bidirectional algorithm (FriBidi), and
// joining scripts are shaped (HarfBuzz), each cluster at the place the advance array
// gives its characters.
#include <hb.h>

#include <cstdint>
#include <string>
#include <vector>

#include "emf/cairoptr.h"
#include "emf/symbolfonts.h"

namespace kx::emfplay {

struct TTextInput {
  std::vector<uint32_t> Chars;   // code points, or glyph indices
  std::vector<double> Advances;  // logical units, one per character
  bool HaveDx = false;           // the advances came with the record; otherwise the font's
  bool GlyphIndices = false;
  bool RightToLeft = false;  // the record reads right to left
  double PxPerUnit = 1;      // output pixels per logical unit along the baseline
};

struct TPlacedGlyph {
  unsigned long Index = 0;
  cairo_scaled_font_t* Font = nullptr;
  double Along = 0;                 // from the record's left end, logical units
  double OffsetX = 0, OffsetY = 0;  // output pixels along the baseline and up (marks)
};

class TTextLayout {
 public:
  // `font` is the record's own face at its size, `face` its name; fallback faces are made alike.
  TTextLayout(cairo_scaled_font_t* font, int weight, bool italic, const std::string& face);
  TTextLayout(const TTextLayout&) = delete;
  TTextLayout& operator=(const TTextLayout&) = delete;

  void Lay(const TTextInput& in);
  const std::vector<TPlacedGlyph>& Glyphs() const { return FGlyphs; }
  double Total() const { return FTotal; }  // the record's width, logical units

  // Characters that need the bidirectional algorithm or shaping.
  static bool Complex(const std::vector<uint32_t>& chars);

 private:
  struct TCluster;
  struct TRun;
  void LaySimple(const TTextInput& in);
  void JoinClusters(const std::vector<uint32_t>& cps, const std::vector<double>& adv, double pxPerUnit,
                    std::vector<std::vector<TPlacedGlyph>>& clusterAt, std::vector<bool>& absorbed);
  void PresentationForms(const std::vector<uint32_t>& cps, const std::vector<double>& adv,
                         const std::vector<std::vector<TPlacedGlyph>>& clusterAt, std::vector<unsigned long>& index,
                         std::vector<bool>& absorbed);
  // Characters [from, to) shaped as one cluster with the record's face, `advancePx` wide;
  // false where the face lacks one of them.
  bool LayCluster(const std::vector<uint32_t>& cps, size_t from, size_t to, double advancePx,
                  std::vector<TPlacedGlyph>& out);
  void LayComplex(const TTextInput& in);
  std::vector<TRun> ShapeRuns(const std::vector<uint32_t>& cps, bool rtl);
  static std::vector<double> AdvancePrefix(const TTextInput& in, const std::vector<TRun>& runs, size_t n);
  static std::vector<size_t> VisualOrder(const std::vector<TRun>& runs);
  cairo_scaled_font_t* FontFor(uint32_t cp, unsigned long& glyph);
  cairo_scaled_font_t* Fallback(uint32_t cp);
  std::vector<uint32_t> SymbolsMapped(const std::vector<uint32_t>& chars);
  uint32_t SymbolShown(uint32_t cp) const;
  struct TItem {  // characters [From, To) of one direction, script and face
    size_t From, To;
    bool RightToLeft;
    hb_script_t Script;
    cairo_scaled_font_t* Font;
  };
  void Shape(const std::vector<uint32_t>& chars, const TItem& item, std::vector<TCluster>& out);

  cairo_scaled_font_t* FFont;
  int FWeight;
  bool FItalic;
  TkxSymbolFont FSymbols;             // the symbol font the record's face name names
  std::vector<TkxScaledFont> FOwned;  // fallback faces made for this record
  std::vector<TPlacedGlyph> FGlyphs;
  double FTotal = 0;
};

}  // namespace kx::emfplay
