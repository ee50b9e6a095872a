#include "emf/glyphmasks.h"

#include "emf/lockedface.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>
#include <cstring>

namespace kx {

namespace {

constexpr int kPhases = 4;                       // quarter pixels across
constexpr double kMaxMaskEm = 200;               // larger glyphs are filled as outlines
constexpr double kWholePixelEm = 50;             // from this size on, whole pixels only
constexpr size_t kMaxBytes = size_t(32) << 20;   // a page of many sizes cannot grow it without bound
constexpr size_t kEntryBytes = 128;              // what a mask costs besides its pixels
constexpr size_t kFontBytes = size_t(16) << 10;  // a held font keeps its glyph caches

double EmPixels(cairo_scaled_font_t* font) {
  cairo_matrix_t m;
  cairo_scaled_font_get_scale_matrix(font, &m);
  return std::hypot(m.xy, m.yy);
}

}  // namespace

void TkxGlyphMasks::Hold(cairo_scaled_font_t* font) {
  bool usable = cairo_scaled_font_get_type(font) == CAIRO_FONT_TYPE_FT &&
                cairo_ft_font_face_get_synthesize(cairo_scaled_font_get_font_face(font)) == 0 &&
                EmPixels(font) <= kMaxMaskEm;
  FFonts.emplace(font, std::make_pair(TkxScaledFont(cairo_scaled_font_reference(font)), usable));
  FBytes += kFontBytes;
}

void TkxGlyphMasks::MakeRoom(cairo_scaled_font_t* keep) {
  if (FBytes <= kMaxBytes) return;
  // Start afresh, fonts too; the one in use is held again (its caller holds it meanwhile).
  FMasks.clear();
  FFonts.clear();
  FBytes = 0;
  Hold(keep);
}

bool TkxGlyphMasks::Usable(cairo_scaled_font_t* font) {
  auto it = FFonts.find(font);
  if (it == FFonts.end()) {
    Hold(font);
    MakeRoom(font);
    it = FFonts.find(font);
  }
  return it->second.second;
}

TkxGlyphMasks::TMask TkxGlyphMasks::Render(cairo_scaled_font_t* font, unsigned long index, int phase) {
  TMask m;
  TkxLockedFace locked(font);
  FT_Face face = locked.Face();
  if (!face || FT_Load_Glyph(face, FT_UInt(index), FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) return m;
  FT_GlyphSlot slot = face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return m;
  FT_Outline_Translate(&slot->outline, FT_Pos(phase * 64 / kPhases), 0);
  if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return m;
  const FT_Bitmap& b = slot->bitmap;
  m.Ok = true;
  m.Left = slot->bitmap_left, m.Top = slot->bitmap_top;
  if (b.width == 0 || b.rows == 0 || b.pixel_mode != FT_PIXEL_MODE_GRAY) return m;
  TkxSurface s(cairo_image_surface_create(CAIRO_FORMAT_A8, int(b.width), int(b.rows)));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return m;
  cairo_surface_flush(s.get());
  unsigned char* dst = cairo_image_surface_get_data(s.get());
  int stride = cairo_image_surface_get_stride(s.get());
  for (unsigned row = 0; row < b.rows; ++row)
    std::memcpy(dst + size_t(row) * size_t(stride), b.buffer + ptrdiff_t(row) * b.pitch, b.width);
  cairo_surface_mark_dirty(s.get());
  FBytes += size_t(stride) * b.rows;  // besides the entry's own cost, counted by the caller
  m.Surface = std::move(s);
  return m;
}

bool TkxGlyphMasks::Draw(cairo_t* cr, cairo_scaled_font_t* font, unsigned long index, double x, double y) {
  if (!Usable(font)) return false;
  // A hair of slack: a place that came back from user space a rounding error short of
  // a pixel or a phase belongs to it.
  double fx = std::floor(x + 1e-6), fy = std::floor(y + 1e-6);
  int phase = EmPixels(font) < kWholePixelEm ? int(std::floor((x + 1e-6 - fx) * kPhases)) : 0;
  phase = std::min(std::max(phase, 0), kPhases - 1);
  auto key = std::make_tuple(font, index, phase);
  auto it = FMasks.find(key);
  if (it == FMasks.end()) {
    MakeRoom(font);
    FBytes += kEntryBytes;  // blanks and glyphs that fail take room too
    it = FMasks.emplace(key, Render(font, index, phase)).first;
  }
  const TMask& m = it->second;
  if (!m.Ok) return false;
  if (m.Surface) cairo_mask_surface(cr, m.Surface.get(), fx + m.Left, fy - m.Top);
  return true;
}

}  // namespace kx
