#include "emf/emftextlayout.h"

#include <cairo-ft.h>
#include <fribidi.h>
#include <hb-ft.h>
#include <hb.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "emf/fonts.h"
#include "emf/lockedface.h"
#include "emf/symbolfonts.h"

namespace kx::emfplay {

namespace {

template <typename T, void (*Destroy)(T*)>
using THb = std::unique_ptr<T, TkxCairoDestroy<T, Destroy>>;

bool SymbolCode(uint32_t cp) { return IsSymbolCode(cp); }

unsigned long GlyphOf(cairo_scaled_font_t* font, uint32_t cp) {
  TkxLockedFace ft(font);
  return ft ? FT_Get_Char_Index(ft.Face(), cp) : 0;
}

// Marks and joiners stay with the face of the character before them.
bool Attaches(uint32_t cp) {
  switch (hb_unicode_general_category(hb_unicode_funcs_get_default(), cp)) {
    case HB_UNICODE_GENERAL_CATEGORY_NON_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_SPACING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_ENCLOSING_MARK:
    case HB_UNICODE_GENERAL_CATEGORY_FORMAT: return true;
    default: return false;
  }
}

}  // namespace

struct TTextLayout::TCluster {
  struct TGlyph {
    unsigned long Index;
    double X, Y;  // output pixels from the cluster's left end on the baseline, up
  };
  size_t From = 0, To = 0;  // its characters
  cairo_scaled_font_t* Font = nullptr;
  std::vector<TGlyph> Glyphs;
  double Width = 0;  // the font's advance, output pixels
};

TTextLayout::TTextLayout(cairo_scaled_font_t* font, int weight, bool italic, const std::string& face)
    : FFont(font), FWeight(weight), FItalic(italic), FSymbols(SymbolFontNamed(face)) {}

uint32_t TTextLayout::SymbolShown(uint32_t cp) const {
  // A symbol font's code (U+F000 plus the code) the face has no glyph for: the character
  // that code of the record's symbol font shows.
  char32_t c = SymbolCharacter(FSymbols, cp - 0xF000);
  return c ? c : 0xFFFD;
}

bool TTextLayout::Complex(const std::vector<uint32_t>& chars) {
  for (uint32_t c : chars) {
    if (c < 0x0590) continue;
    if (c <= 0x08FF                      // Hebrew, Arabic, Syriac, Thaana, NKo and the rest of the RTL block
        || (c >= 0x0900 && c <= 0x109F)  // Indic, Thai, Lao, Tibetan, Myanmar
        || (c >= 0x1780 && c <= 0x18AF)  // Khmer, Mongolian
        || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
        (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF)  // presentation forms
        || (c >= 0x10800 && c <= 0x10FFF) ||
        (c >= 0x1E800 && c <= 0x1EFFF)
        // emoji drawn as one glyph from several characters: flags, joined and toned ones
        || (c >= 0x1F1E6 && c <= 0x1F1FF) || c == 0x200D || c == 0xFE0F || (c >= 0x1F3FB && c <= 0x1F3FF) ||
        (c >= 0xE0020 && c <= 0xE007F))
      return true;
  }
  return false;
}

void TTextLayout::Lay(const TTextInput& in) {
  FGlyphs.clear();
  FTotal = 0;
  if (in.Chars.empty() || !FFont) return;
  if (!in.GlyphIndices && (in.RightToLeft || Complex(in.Chars)))
    LayComplex(in);
  else
    LaySimple(in);
}

cairo_scaled_font_t* TTextLayout::Fallback(uint32_t cp) {
  cairo_font_face_t* face = FaceSet().Fallback(cp, FWeight, FItalic);
  if (!face || face == cairo_scaled_font_get_font_face(FFont)) return nullptr;
  for (const TkxScaledFont& f : FOwned)
    if (cairo_scaled_font_get_font_face(f.get()) == face) return f.get();
  cairo_matrix_t fm, ctm;
  cairo_scaled_font_get_font_matrix(FFont, &fm);
  cairo_scaled_font_get_ctm(FFont, &ctm);
  TkxFontOptions o(cairo_font_options_create());
  cairo_scaled_font_get_font_options(FFont, o.get());
  TkxScaledFont f(cairo_scaled_font_create(face, &fm, &ctm, o.get()));
  if (cairo_scaled_font_status(f.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  FOwned.push_back(std::move(f));
  return FOwned.back().get();
}

cairo_scaled_font_t* TTextLayout::FontFor(uint32_t cp, unsigned long& glyph) {
  glyph = GlyphOf(FFont, cp);
  if (glyph || cp < 0x20) return FFont;
  if (cairo_scaled_font_t* fb = Fallback(cp)) {
    if (unsigned long g = GlyphOf(fb, cp)) {
      glyph = g;
      return fb;
    }
  }
  return FFont;
}

std::vector<uint32_t> TTextLayout::SymbolsMapped(const std::vector<uint32_t>& chars) {
  // Symbol-font code points (U+F020 to U+F0FF) that the face does not have: the
  // character they stand for in the classic symbol encodings.
  std::vector<uint32_t> out = chars;
  for (uint32_t& c : out)
    if (SymbolCode(c) && !GlyphOf(FFont, c)) c = SymbolShown(c);
  return out;
}

// A character with an advance and the characters after it with none are what the PDF
// drew as one glyph: a ligature whose text names its letters ("ti", "fi") or a letter
// with its marks. They are shaped together, as the face draws them, within the advance
// the record gives the first.
void TTextLayout::JoinClusters(const std::vector<uint32_t>& cps, const std::vector<double>& adv, double pxPerUnit,
                               std::vector<std::vector<TPlacedGlyph>>& clusterAt, std::vector<bool>& absorbed) {
  const size_t n = cps.size();
  for (size_t i = 0; i + 1 < n; ++i) {
    size_t j = i + 1;
    while (j < n && adv[j] == 0 && cps[j] > 0x20) ++j;
    if (j == i + 1 || adv[i] <= 0 || cps[i] <= 0x20) continue;
    if (LayCluster(cps, i, j, adv[i] * pxPerUnit, clusterAt[i]))
      for (size_t k = i + 1; k < j; ++k) absorbed[k] = true;
    i = j - 1;
  }
}

// Where the face cannot shape a ligature, its presentation form, where the face has one.
void TTextLayout::PresentationForms(const std::vector<uint32_t>& cps, const std::vector<double>& adv,
                                    const std::vector<std::vector<TPlacedGlyph>>& clusterAt,
                                    std::vector<unsigned long>& index, std::vector<bool>& absorbed) {
  static const struct {
    const char* Seq;
    uint32_t Lig;
  } kLigatures[] = {{"ffi", 0xFB03}, {"ffl", 0xFB04}, {"ff", 0xFB00}, {"fi", 0xFB01},
                    {"fl", 0xFB02},  {"ft", 0xFB05},  {"st", 0xFB06}};
  const size_t n = cps.size();
  for (size_t i = 0; i + 1 < n; ++i) {
    if (adv[i + 1] != 0 || adv[i] == 0 || !clusterAt[i].empty()) continue;
    for (const auto& l : kLigatures) {
      size_t len = std::strlen(l.Seq), k = 0;
      while (k < len && i + k < n && cps[i + k] == uint32_t(l.Seq[k]) && (k == 0 || adv[i + k] == 0)) ++k;
      if (k != len) continue;
      unsigned long g = GlyphOf(FFont, l.Lig);
      if (!g) continue;
      index[i] = g;
      for (size_t j = 1; j < len; ++j) absorbed[i + j] = true;
      i += len - 1;
      break;
    }
  }
}

void TTextLayout::LaySimple(const TTextInput& in) {
  std::vector<uint32_t> cps = in.Chars;
  std::vector<double> adv = in.Advances;
  adv.resize(cps.size(), 0);
  const size_t n = cps.size();
  std::vector<unsigned long> index(n, 0);
  std::vector<cairo_scaled_font_t*> fontOf(n, FFont);
  if (TkxLockedFace ft(FFont); ft)
    for (size_t i = 0; i < n; ++i) index[i] = in.GlyphIndices ? cps[i] : FT_Get_Char_Index(ft.Face(), cps[i]);
  std::vector<bool> absorbed(n, false);
  std::vector<std::vector<TPlacedGlyph>> clusterAt(n);
  if (in.HaveDx && !in.GlyphIndices) {
    JoinClusters(cps, adv, in.PxPerUnit, clusterAt, absorbed);
    PresentationForms(cps, adv, clusterAt, index, absorbed);
  }
  if (!in.GlyphIndices) {
    for (size_t i = 0; i < n; ++i) {
      if (index[i] != 0) continue;
      if (SymbolCode(cps[i])) {
        cps[i] = SymbolShown(cps[i]);
        index[i] = GlyphOf(FFont, cps[i]);
      }
      if (index[i] == 0 && cps[i] >= 0x20) fontOf[i] = FontFor(cps[i], index[i]);
    }
  }
  if (!in.HaveDx) {  // advances from the font, converted back to logical units
    for (size_t i = 0; i < n; ++i) {
      cairo_glyph_t g{index[i], 0, 0};
      cairo_text_extents_t te;
      cairo_scaled_font_glyph_extents(fontOf[i], &g, 1, &te);
      adv[i] = std::hypot(te.x_advance, te.y_advance) / std::max(1e-9, in.PxPerUnit);
    }
  }
  double cum = 0;
  for (size_t i = 0; i < n; ++i) {
    double at = cum;
    cum += adv[i];
    if (absorbed[i] || (index[i] == 0 && cps[i] <= 0x20)) continue;  // blanks and control characters draw nothing
    if (!clusterAt[i].empty()) {
      for (TPlacedGlyph& g : clusterAt[i]) FGlyphs.push_back({g.Index, g.Font, at, g.OffsetX, g.OffsetY});
      continue;
    }
    FGlyphs.push_back({index[i], fontOf[i], at, 0, 0});
  }
  FTotal = cum;
}

bool TTextLayout::LayCluster(const std::vector<uint32_t>& cps, size_t from, size_t to, double advancePx,
                             std::vector<TPlacedGlyph>& out) {
  for (size_t k = from; k < to; ++k)
    if (!GlyphOf(FFont, cps[k])) return false;
  std::vector<TCluster> clusters;
  Shape(cps, {from, to, false, HB_SCRIPT_INVALID, FFont}, clusters);
  double width = 0;
  for (const TCluster& c : clusters) width += c.Width;
  if (clusters.empty() || !(width > 0)) return false;
  // Letters the face does not join keep their own shapes, narrowed or widened together
  // to the advance the record gives them.
  double scale = advancePx / width, left = 0;
  for (const TCluster& c : clusters) {
    for (const TCluster::TGlyph& g : c.Glyphs) out.push_back({g.Index, FFont, 0, (left + g.X) * scale, g.Y});
    left += c.Width;
  }
  return !out.empty();
}

void TTextLayout::Shape(const std::vector<uint32_t>& chars, const TItem& item, std::vector<TCluster>& out) {
  const size_t from = item.From, to = item.To;
  cairo_scaled_font_t* font = item.Font;
  TkxLockedFace ft(font);
  if (!ft) return;
  THb<hb_face_t, hb_face_destroy> face(hb_ft_face_create_referenced(ft.Face()));
  THb<hb_font_t, hb_font_destroy> hbFont(hb_font_create(face.get()));
  THb<hb_buffer_t, hb_buffer_destroy> buf(hb_buffer_create());
  // The whole record is the context, so that letters join across the item's ends.
  hb_buffer_add_codepoints(buf.get(), chars.data(), int(chars.size()), unsigned(from), int(to - from));
  hb_buffer_set_direction(buf.get(), item.RightToLeft ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
  if (item.Script != HB_SCRIPT_INVALID) hb_buffer_set_script(buf.get(), item.Script);
  hb_buffer_guess_segment_properties(buf.get());
  hb_shape(hbFont.get(), buf.get(), nullptr, 0);
  unsigned count = 0;
  const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf.get(), &count);
  const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buf.get(), nullptr);
  double upem = std::max(1u, hb_face_get_upem(face.get()));
  cairo_matrix_t fm;
  cairo_scaled_font_get_font_matrix(font, &fm);
  double kx = std::hypot(fm.xx, fm.yx) / upem, ky = std::hypot(fm.xy, fm.yy) / upem;
  // A cluster runs from its first character to the next cluster's first one.
  std::vector<uint32_t> starts;
  for (unsigned i = 0; i < count; ++i) starts.push_back(info[i].cluster);
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  for (unsigned i = 0; i < count; ++i) {
    if (i == 0 || info[i].cluster != info[i - 1].cluster) {
      TCluster c;
      c.From = info[i].cluster;
      auto next = std::upper_bound(starts.begin(), starts.end(), info[i].cluster);
      c.To = next == starts.end() ? to : *next;
      c.Font = font;
      out.push_back(std::move(c));
    }
    TCluster& c = out.back();
    c.Glyphs.push_back({info[i].codepoint, c.Width + pos[i].x_offset * kx, pos[i].y_offset * ky});
    c.Width += pos[i].x_advance * kx;
  }
}

struct TTextLayout::TRun {
  size_t From, To;
  FriBidiLevel Level;
  std::vector<TCluster> Clusters;
};

namespace {

// The bidirectional levels of the characters; blanks at the end of the line and before
// separators take the line's own level.
std::vector<FriBidiLevel> BidiLevels(const std::vector<uint32_t>& cps, bool rtl) {
  const size_t n = cps.size();
  const FriBidiStrIndex len = FriBidiStrIndex(n);
  const FriBidiLevel base = rtl ? 1 : 0;
  std::vector<FriBidiCharType> types(n);
  std::vector<FriBidiBracketType> brackets(n);
  std::vector<FriBidiLevel> levels(n, base);
  fribidi_get_bidi_types(cps.data(), len, types.data());
  fribidi_get_bracket_types(cps.data(), len, types.data(), brackets.data());
  FriBidiParType dir = rtl ? FRIBIDI_PAR_RTL : FRIBIDI_PAR_LTR;
  if (!fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), len, &dir, levels.data()))
    std::fill(levels.begin(), levels.end(), base);
  for (size_t i = n; i > 0; --i) {
    bool sep = types[i - 1] == FRIBIDI_TYPE_SS || types[i - 1] == FRIBIDI_TYPE_BS;
    if (i == n || sep) {
      if (sep) levels[i - 1] = base;
      for (size_t j = sep ? i - 1 : i;
           j > 0 && (FRIBIDI_IS_EXPLICIT_OR_BN_OR_WS(types[j - 1]) || FRIBIDI_IS_ISOLATE(types[j - 1])); --j)
        levels[j - 1] = base;
    }
  }
  return levels;
}

// The script of each character; blanks, digits and marks take the script of the
// letters before them (or after them, at the start), so that a run of Hebrew then
// Arabic is shaped as two items, each by its own script's rules.
std::vector<hb_script_t> Scripts(const std::vector<uint32_t>& cps) {
  hb_unicode_funcs_t* uf = hb_unicode_funcs_get_default();
  std::vector<hb_script_t> out(cps.size(), HB_SCRIPT_COMMON);
  hb_script_t last = HB_SCRIPT_INVALID;
  for (size_t i = 0; i < cps.size(); ++i) {
    hb_script_t s = hb_unicode_script(uf, cps[i]);
    bool neutral = s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN;
    if (!neutral) last = s;
    out[i] = neutral ? last : s;
  }
  hb_script_t next = HB_SCRIPT_INVALID;
  for (size_t i = cps.size(); i > 0; --i)
    if (out[i - 1] == HB_SCRIPT_INVALID)
      out[i - 1] = next;
    else
      next = out[i - 1];
  return out;
}

}  // namespace

std::vector<TTextLayout::TRun> TTextLayout::ShapeRuns(const std::vector<uint32_t>& cps, bool rtl) {
  // Runs of one level in logical order, each shaped in items of one face.
  const size_t n = cps.size();
  const std::vector<FriBidiLevel> levels = BidiLevels(cps, rtl);
  std::vector<TRun> runs;
  for (size_t i = 0; i < n; ++i)
    if (runs.empty() || runs.back().Level != levels[i])
      runs.push_back({i, i + 1, levels[i], {}});
    else
      runs.back().To = i + 1;
  std::vector<cairo_scaled_font_t*> fontOf(n, FFont);
  for (size_t i = 0; i < n; ++i) {
    unsigned long g;
    fontOf[i] = FontFor(cps[i], g);
    if (i > 0 && levels[i] == levels[i - 1] && (Attaches(cps[i]) || !g)) fontOf[i] = fontOf[i - 1];
  }
  const std::vector<hb_script_t> scriptOf = Scripts(cps);
  for (TRun& run : runs)
    for (size_t a = run.From, b; a < run.To; a = b) {
      for (b = a + 1; b < run.To && fontOf[b] == fontOf[a] && scriptOf[b] == scriptOf[a];) ++b;
      Shape(cps, {a, b, (run.Level & 1) != 0, scriptOf[a], fontOf[a]}, run.Clusters);
    }
  return runs;
}

std::vector<double> TTextLayout::AdvancePrefix(const TTextInput& in, const std::vector<TRun>& runs, size_t n) {
  std::vector<double> adv = in.Advances;
  adv.resize(n, 0);
  if (!in.HaveDx) {  // each cluster's advance from the font, on its first character
    std::fill(adv.begin(), adv.end(), 0.0);
    for (const TRun& run : runs)
      for (const TCluster& c : run.Clusters)
        if (c.From < n) adv[c.From] += c.Width / std::max(1e-9, in.PxPerUnit);
  }
  std::vector<double> prefix(n + 1, 0);
  for (size_t i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + adv[i];
  return prefix;
}

std::vector<size_t> TTextLayout::VisualOrder(const std::vector<TRun>& runs) {
  // From the highest level down to the lowest odd one, every sequence of runs at that
  // level or above turns round.
  std::vector<size_t> order(runs.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  int top = 0, lowest = 255;
  for (const TRun& run : runs) top = std::max(top, int(run.Level)), lowest = std::min(lowest, int(run.Level));
  for (int level = top; level >= (lowest | 1); --level)
    for (size_t i = 0; i < order.size();) {
      if (runs[order[i]].Level < level) {
        ++i;
        continue;
      }
      size_t j = i;
      while (j < order.size() && runs[order[j]].Level >= level) ++j;
      std::reverse(order.begin() + long(i), order.begin() + long(j));
      i = j;
    }
  return order;
}

void TTextLayout::LayComplex(const TTextInput& in) {
  const std::vector<uint32_t> cps = SymbolsMapped(in.Chars);
  const size_t n = cps.size();
  const std::vector<TRun> runs = ShapeRuns(cps, in.RightToLeft);
  const std::vector<double> prefix = AdvancePrefix(in, runs, n);
  // Each cluster at the place of its characters, runs in visual order: left to right
  // within a left-to-right run, from the run's right end leftwards within a
  // right-to-left one.
  double left = 0;
  for (size_t k : VisualOrder(runs)) {
    const TRun& run = runs[k];
    for (const TCluster& c : run.Clusters) {
      size_t from = std::min(c.From, n), to = std::clamp(c.To, from, n);
      double cell = run.Level & 1 ? left + prefix[run.To] - prefix[to] : left + prefix[from] - prefix[run.From];
      for (const TCluster::TGlyph& g : c.Glyphs) {
        if (g.Index == 0 && from < n && cps[from] <= 0x20) continue;
        FGlyphs.push_back({g.Index, c.Font, cell, g.X, g.Y});
      }
    }
    left += prefix[run.To] - prefix[run.From];
  }
  FTotal = prefix[n];
}

}  // namespace kx::emfplay
