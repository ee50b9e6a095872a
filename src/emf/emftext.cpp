// Text: the record's face at its size, slant and escapement, its characters laid out
// along the baseline, drawn as cached glyph masks on a baseline kept on the pixel grid
// (or as outlines where masks do not serve), with underline and strike-out.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>

#include "emf/emfplay.h"
#include "emf/emftextlayout.h"
#include "emf/fontcomment.h"
#include "emf/fonts.h"
#include "emf/lockedface.h"
#include "platform/text.h"

namespace kx::emfplay {

using namespace emf;

namespace {

// The record's characters as code points (pairs of surrogates joined, their advances
// added), each with its advance in logical units.
TTextInput ReadChars(const TRecord& r, bool wide, uint32_t n, uint32_t offStr, uint32_t opts, uint32_t offDx) {
  TTextInput in;
  in.GlyphIndices = (opts & ETO_GLYPH_INDEX) != 0;
  size_t per = (opts & ETO_PDY) ? 2 : 1;  // with ETO_PDY every advance has a vertical one beside it
  in.HaveDx = offDx != 0 && r.Has(offDx, size_t(n) * sizeof(int32_t) * per);
  auto dx = [&](size_t i) { return in.HaveDx ? double(r.I32(offDx + i * sizeof(int32_t) * per)) : 0.0; };
  if (!wide) {
    for (uint32_t i = 0; i < n; ++i) in.Chars.push_back(r.U8(offStr + i)), in.Advances.push_back(dx(i));
    return in;
  }
  std::u16string units(n, u'\0');
  for (uint32_t i = 0; i < n; ++i) units[i] = char16_t(r.U16(offStr + size_t(i) * 2));
  for (size_t i = 0; i < units.size();) {
    size_t at = i;
    uint32_t cp = in.GlyphIndices ? units[i++] : uint32_t(NextUtf16(units, i));
    double a = 0;
    for (size_t k = at; k < i; ++k) a += dx(k);
    in.Chars.push_back(cp);
    in.Advances.push_back(a);
  }
  return in;
}

}  // namespace

void TPlayer::ExtTextOut(const TRecord& r) {
  bool wide = r.Type == EMR_EXTTEXTOUTW;
  int32_t refX = r.I32(text::Reference + pointl::X), refY = r.I32(text::Reference + pointl::Y);
  uint32_t n = r.U32(text::Chars), offStr = r.U32(text::OffString), opts = r.U32(text::Options);
  int32_t rl = r.I32(text::Rect + rectl::Left), rt = r.I32(text::Rect + rectl::Top);
  int32_t rr = r.I32(text::Rect + rectl::Right), rb = r.I32(text::Rect + rectl::Bottom);
  size_t unit = wide ? 2 : 1;
  if (!r.Has(offStr, size_t(n) * unit)) n = offStr < r.N ? uint32_t((r.N - offStr) / unit) : 0;
  bool rectGiven = rr > rl && rb > rt;
  if ((opts & ETO_OPAQUE) && rectGiven && Visible()) TextRect(rl, rt, rr, rb, false);
  if (n == 0) return;
  TkxSavedState keep(FCr);
  if ((opts & ETO_CLIPPED) && rectGiven) TextRect(rl, rt, rr, rb, true);
  const TFont& f = FDc.CurFont;
  double theta = f.Escapement * M_PI / 1800.0;
  TBaseline at;
  at.Cos = std::cos(theta), at.Sin = std::sin(theta);
  double em = 0;
  TTextInput in = ReadChars(r, wide, n, offStr, opts, r.U32(text::OffDx));
  if (!SelectTextFont(f, RecordFace(f, in), at, em)) return;
  // Referenced: setting another font on the context would otherwise free it.
  TkxScaledFont sf(cairo_scaled_font_reference(cairo_get_scaled_font(FCr)));

  in.RightToLeft = (opts & ETO_RTLREADING) || (FDc.TextAlign & TA_RTLREADING);
  in.PxPerUnit = ScaleX();
  TTextLayout layout(sf.get(), f.Weight, f.Italic, f.Face);
  layout.Lay(in);
  double total = layout.Total();

  PlaceBaseline(at, refX, refY, total, sf.get());
  DrawGlyphs(layout, at);
  if (FDc.TextAlign & TA_UPDATECP) FDc.CurX = at.Ox + at.Bx * total, FDc.CurY = at.Oy + at.By * total;
  if (f.Underline || f.StrikeOut) DrawTextLines(f, em, at, total);
}

void TPlayer::TextRect(int32_t l, int32_t t, int32_t r, int32_t b, bool clip) {
  TkxPath keep(FInPath ? cairo_copy_path(FCr) : nullptr);  // a bracket's path stays whole
  cairo_new_path(FCr);
  Rect(l, t, r, b);
  if (clip) {
    cairo_clip(FCr);
  } else {
    SetColor(FCr, FDc.BkColor);
    cairo_fill(FCr);
  }
  if (keep) cairo_append_path(FCr, keep.get());
}

void TPlayer::Comment(const TRecord& r) {
  uint32_t size = r.U32(comment::DataSize);
  TkxCarriedFont font;
  if (!r.Has(comment::Data, size) || !ReadFontComment(r.P + comment::Data, size, font)) return;
  if (FCarried.size() >= kMaxCarriedFonts) return;
  FCarried.push_back(
      {font.Face, font.Weight, font.Italic, std::make_shared<const std::string>(std::move(font.Program))});
}

// The face a text record asks for: a program the metafile carries for its face name
// (the one that has the record's characters, nearest in weight and slant), else the
// installed face the name resolves to.
cairo_font_face_t* TPlayer::RecordFace(const TFont& f, const TTextInput& in) {
  TkxThreadFaces& faces = FaceSet();
  const TCarried* best = nullptr;
  int bestScore = 0;
  for (const TCarried& c : FCarried) {
    if (c.Face != f.Face) continue;
    int score = 1000 - std::abs(c.Weight - (f.Weight == 0 ? 400 : f.Weight)) - (c.Italic != f.Italic ? 500 : 0);
    if (!in.GlyphIndices && !faces.HasGlyphs(c.Program, in.Chars)) score -= 2000;
    if (!best || score > bestScore) best = &c, bestScore = score;
  }
  if (best && bestScore > -1000)
    if (cairo_font_face_t* face = faces.Program(best->Program)) return face;
  return faces.Named(f.Face, f.Weight, f.Italic);
}

// The face's own average character width at `em` pixels, as the writer of the record
// measured it: the OS/2 table's, else the advance of "x".
double TPlayer::AverageWidth(double em) {
  if (TkxLockedFace ft(cairo_get_scaled_font(FCr)); ft && ft.Face()->units_per_EM > 0) {
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft.Face(), FT_SFNT_OS2));
    if (os2 && os2->xAvgCharWidth > 0) return em * os2->xAvgCharWidth / ft.Face()->units_per_EM;
  }
  cairo_text_extents_t xe;
  cairo_text_extents(FCr, "x", &xe);
  return xe.x_advance;
}

bool TPlayer::SelectTextFont(const TFont& f, cairo_font_face_t* face, const TBaseline& at, double& em) {
  em = std::abs(double(f.Height)) * ScaleY();
  if (!face || !(em > 0.05) || em > kMaxFontPx) return false;
  cairo_set_font_face(FCr, face);
  if (f.Height > 0) {  // cell height: scale so that ascent plus descent fills it
    cairo_set_font_size(FCr, 1);
    cairo_font_extents_t fe;
    cairo_font_extents(FCr, &fe);
    if (fe.ascent + fe.descent > 0) em /= (fe.ascent + fe.descent);
  }
  double emx = em;
  if (f.Width != 0) {  // an average character width asks for wider or narrower glyphs
    cairo_set_font_size(FCr, em);
    double natural = AverageWidth(em);
    if (natural > 0.01) emx = std::clamp(em * std::abs(double(f.Width)) * ScaleX() / natural, em / 16, em * 16);
  }
  double c = at.Cos, s = at.Sin;
  cairo_matrix_t fm;
  cairo_matrix_init(&fm, emx * c, -emx * s, em * s, em * c, 0, 0);
  cairo_set_font_matrix(FCr, &fm);
  TkxFontOptions fo(cairo_font_options_create());
  cairo_font_options_set_hint_style(fo.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(fo.get(), CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(FCr, fo.get());
  return true;
}

void TPlayer::PlaceBaseline(TBaseline& at, int32_t refX, int32_t refY, double total, cairo_scaled_font_t* font) {
  // Baseline direction in logical units: escapement turns it counter-clockwise on screen.
  double ySign = FM.yy >= 0 ? 1 : -1;
  at.Bx = at.Cos, at.By = -at.Sin * ySign;
  at.Ox = refX, at.Oy = refY;
  if (FDc.TextAlign & TA_UPDATECP) at.Ox = FDc.CurX, at.Oy = FDc.CurY;
  int h = FDc.TextAlign & TA_CENTER;
  if (h == TA_CENTER)
    at.Ox -= at.Bx * total / 2, at.Oy -= at.By * total / 2;
  else if (h == TA_RIGHT)
    at.Ox -= at.Bx * total, at.Oy -= at.By * total;
  cairo_font_extents_t fext;
  cairo_scaled_font_extents(font, &fext);
  at.Shift = 0;
  int v = FDc.TextAlign & TA_BASELINE;
  if (v == 0)
    at.Shift = -fext.ascent;  // TA_TOP: the reference point is the top of the cell
  else if (v == TA_BOTTOM)
    at.Shift = fext.descent;
  // A level baseline sits on the pixel grid, which keeps the letters' feet crisp as
  // PDF renderers draw them; along it every glyph keeps its exact place.
  double ax, ay, bx, by;
  Tx(at.Ox, at.Oy, ax, ay);
  Tx(at.Ox + at.Bx * 1000, at.Oy + at.By * 1000, bx, by);
  cairo_user_to_device(FCr, &ax, &ay);
  cairo_user_to_device(FCr, &bx, &by);
  at.Level = std::fabs(by - ay) < 1e-6 * std::max(1.0, std::fabs(bx - ax));
}

void TPlayer::DrawGlyphs(const TTextLayout& layout, const TBaseline& at) {
  // Along the baseline and up on screen, in output pixels.
  double alx = at.Cos, aly = -at.Sin, upx = -at.Sin, upy = -at.Cos;
  struct TRun {
    cairo_scaled_font_t* Font;
    std::vector<cairo_glyph_t> Glyphs;
  };
  std::vector<TRun> runs;
  // The record's places are rounded to its logical units: a baseline a unit or so short
  // of a pixel row stands on that row, as it does in the drawing it came from.
  const double rowSlack = std::min(0.05, 1.5 * ScaleY());
  for (const TPlacedGlyph& g : layout.Glyphs()) {
    double gx, gy;
    Tx(at.Ox + at.Bx * g.Along, at.Oy + at.By * g.Along, gx, gy);
    gx += upx * at.Shift, gy += upy * at.Shift;
    if (at.Level) {  // on the grid of the output's pixels, whatever the drawing's scale
      cairo_user_to_device(FCr, &gx, &gy);
      gy = std::floor(gy + rowSlack);
      cairo_device_to_user(FCr, &gx, &gy);
    }
    gx += alx * g.OffsetX + upx * g.OffsetY, gy += aly * g.OffsetX + upy * g.OffsetY;
    if (runs.empty() || runs.back().Font != g.Font) runs.push_back({g.Font, {}});
    runs.back().Glyphs.push_back({g.Index, gx, gy});
  }
  SetColor(FCr, FDc.TextColor);
  for (TRun& run : runs) {
    FStats.Glyphs += int(run.Glyphs.size());
    cairo_set_scaled_font(FCr, run.Font);
    if (!FInPath && ColorGlyphs(run.Font, run.Glyphs)) continue;
    if (FInPath) {
      cairo_show_glyphs(FCr, run.Glyphs.data(), int(run.Glyphs.size()));  // the bracket's path stays whole
    } else {
      // On a level baseline as masks; turned, huge or synthesised glyphs as outlines
      // (the image surface would put each glyph on a whole pixel).
      std::vector<cairo_glyph_t> outlines = at.Level ? MaskGlyphs(run.Font, run.Glyphs) : std::move(run.Glyphs);
      if (outlines.empty()) continue;
      cairo_new_path(FCr);
      cairo_glyph_path(FCr, outlines.data(), int(outlines.size()));
      cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
      cairo_fill(FCr);
    }
  }
}

bool TPlayer::ColorGlyphs(cairo_scaled_font_t* font, const std::vector<cairo_glyph_t>& glyphs) {
  // Colour glyphs (emoji) are pictures at the sizes the face has: the nearest one,
  // scaled to the font's size, in the face's own colours.
  TkxLockedFace ft(font);
  if (!ft || !FT_HAS_COLOR(ft.Face()) || !ft.Face()->size || ft.Face()->size->metrics.y_ppem == 0) return false;
  FT_Face face = ft.Face();
  cairo_matrix_t scale;
  cairo_scaled_font_get_scale_matrix(font, &scale);
  double k = std::hypot(scale.xy, scale.yy) / face->size->metrics.y_ppem;  // output pixels a strike pixel
  for (const cairo_glyph_t& g : glyphs) {
    if (FT_Load_Glyph(face, FT_UInt(g.index), FT_LOAD_COLOR) != 0) continue;
    const FT_GlyphSlot slot = face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_BITMAP || slot->bitmap.pixel_mode != FT_PIXEL_MODE_BGRA) continue;
    const FT_Bitmap& b = slot->bitmap;
    TkxSurface img(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(b.width), int(b.rows)));
    if (cairo_surface_status(img.get()) != CAIRO_STATUS_SUCCESS) continue;
    cairo_surface_flush(img.get());
    unsigned char* dst = cairo_image_surface_get_data(img.get());
    int stride = cairo_image_surface_get_stride(img.get());
    for (unsigned row = 0; row < b.rows; ++row)  // premultiplied BGRA, as cairo keeps ARGB32 here
      std::memcpy(dst + size_t(row) * size_t(stride), b.buffer + ptrdiff_t(row) * b.pitch, size_t(b.width) * 4);
    cairo_surface_mark_dirty(img.get());
    TkxSavedState keep(FCr);
    double x = g.x, y = g.y;
    cairo_user_to_device(FCr, &x, &y);
    cairo_identity_matrix(FCr);
    cairo_translate(FCr, x + slot->bitmap_left * k, y - slot->bitmap_top * k);
    cairo_scale(FCr, k, k);
    cairo_set_source_surface(FCr, img.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(FCr), CAIRO_FILTER_GOOD);
    cairo_paint(FCr);
  }
  return true;
}

std::vector<cairo_glyph_t> TPlayer::MaskGlyphs(cairo_scaled_font_t* font, const std::vector<cairo_glyph_t>& glyphs) {
  if (!FMasks.Usable(font)) return glyphs;
  std::vector<cairo_glyph_t> rest;
  cairo_matrix_t ctm;
  cairo_get_matrix(FCr, &ctm);
  TkxSavedState keep(FCr);
  cairo_identity_matrix(FCr);  // masks go to device pixels
  for (const cairo_glyph_t& g : glyphs) {
    double x = g.x, y = g.y;
    cairo_matrix_transform_point(&ctm, &x, &y);
    if (!FMasks.Draw(FCr, font, g.index, x, y)) rest.push_back(g);
  }
  return rest;
}

void TPlayer::DrawTextLines(const TFont& f, double em, const TBaseline& at, double total) {
  double upx = -at.Sin, upy = -at.Cos;
  double x0, y0, x1, y1;
  Tx(at.Ox, at.Oy, x0, y0);
  Tx(at.Ox + at.Bx * total, at.Oy + at.By * total, x1, y1);
  x0 += upx * at.Shift, y0 += upy * at.Shift, x1 += upx * at.Shift, y1 += upy * at.Shift;
  cairo_set_line_width(FCr, std::max(1.0, em * 0.06));
  for (int line = 0; line < 2; ++line) {
    if ((line == 0 && !f.Underline) || (line == 1 && !f.StrikeOut)) continue;
    double d = line == 0 ? -em * 0.12 : em * 0.28;  // below the baseline, or through the x-height
    cairo_move_to(FCr, x0 + upx * d, y0 + upy * d);
    cairo_line_to(FCr, x1 + upx * d, y1 + upy * d);
    cairo_stroke(FCr);
  }
}

}  // namespace kx::emfplay
