// Bitmaps: device-independent bitmaps stretched onto the page, blended with their
// alpha, combined by raster operation, and pattern brushes.
#include <algorithm>
#include <cmath>

#include "emf/boxscale.h"
#include "emf/dib.h"
#include "emf/emfplay.h"

namespace kx::emfplay {

using namespace emf;

void TPlayer::StretchDiBits(const TRecord& r) {
  TBlt b{double(r.I32(stretchdib::XDest)),
         double(r.I32(stretchdib::YDest)),
         double(r.I32(stretchdib::CxDest)),
         double(r.I32(stretchdib::CyDest)),
         r.I32(stretchdib::XSrc),
         r.I32(stretchdib::YSrc),
         r.I32(stretchdib::CxSrc),
         r.I32(stretchdib::CySrc),
         {r.U32(stretchdib::OffBmi), r.U32(stretchdib::CbBmi), r.U32(stretchdib::OffBits), r.U32(stretchdib::CbBits)}};
  b.Rop = r.U32(stretchdib::Rop);
  b.FromBottom = true;
  Image(r, b);
}

void TPlayer::SetDiBitsToDevice(const TRecord& r) {
  int32_t cx = r.I32(setdib::CxSrc), cy = r.I32(setdib::CySrc);
  TBlt b{double(r.I32(setdib::XDest)),
         double(r.I32(setdib::YDest)),
         double(cx),
         double(cy),
         r.I32(setdib::XSrc),
         r.I32(setdib::YSrc),
         cx,
         cy,
         {r.U32(setdib::OffBmi), r.U32(setdib::CbBmi), r.U32(setdib::OffBits), r.U32(setdib::CbBits)}};
  b.FromBottom = true;
  Image(r, b);
}

void TPlayer::BitBlt(const TRecord& r) {
  bool stretch = r.Type == EMR_STRETCHBLT;
  int32_t cx = r.I32(blt::CxDest), cy = r.I32(blt::CyDest);
  TBlt b{double(r.I32(blt::XDest)),
         double(r.I32(blt::YDest)),
         double(cx),
         double(cy),
         r.I32(blt::XSrc),
         r.I32(blt::YSrc),
         stretch ? r.I32(blt::CxSrc) : cx,
         stretch ? r.I32(blt::CySrc) : cy,
         {r.U32(blt::OffBmi), r.U32(blt::CbBmi), r.U32(blt::OffBits), r.U32(blt::CbBits)}};
  b.Rop = r.U32(blt::Rop);
  Image(r, b);
}

void TPlayer::AlphaBlend(const TRecord& r) {
  TBlt b{double(r.I32(blt::XDest)),
         double(r.I32(blt::YDest)),
         double(r.I32(blt::CxDest)),
         double(r.I32(blt::CyDest)),
         r.I32(blt::XSrc),
         r.I32(blt::YSrc),
         r.I32(blt::CxSrc),
         r.I32(blt::CySrc),
         {r.U32(blt::OffBmi), r.U32(blt::CbBmi), r.U32(blt::OffBits), r.U32(blt::CbBits)}};
  b.Alpha = (r.U8(blt::Blend + blt::AlphaFormat) & AC_SRC_ALPHA) != 0;
  b.Opacity = r.U8(blt::Blend + blt::SourceConstantAlpha) / 255.0;
  Image(r, b);
}

void TPlayer::CreatePatternBrush(const TRecord& r) {
  TObject* o = NewObject(r.U32(dibbrush::Handle), TObject::Brush);
  if (!o) return;
  bool bottomUp;
  const TDibPlace at{r.U32(dibbrush::OffBmi), r.U32(dibbrush::CbBmi), r.U32(dibbrush::OffBits),
                     r.U32(dibbrush::CbBits)};
  TkxSurface img = DibSurface(r, at, false, bottomUp);
  if (!img) return;
  cairo_pattern_t* pat = cairo_pattern_create_for_surface(img.get());
  cairo_pattern_set_extend(pat, CAIRO_EXTEND_REPEAT);
  cairo_matrix_t m;
  cairo_matrix_init_translate(&m, -FX, -FY);  // the pattern starts at the output's origin
  cairo_pattern_set_matrix(pat, &m);
  o->B.Pattern = std::shared_ptr<cairo_pattern_t>(pat, cairo_pattern_destroy);
  o->B.Style = BS_DIBPATTERNPT;
}

TkxSurface TPlayer::DibSurface(const TRecord& r, const TDibPlace& at, bool alpha, bool& bottomUp) {
  if (!r.Has(at.OffBmi, at.CbBmi) || !r.Has(at.OffBits, at.CbBits)) return nullptr;
  TkxDib dib;
  std::string why;
  if (!ReadDibHeader(r.P + at.OffBmi, at.CbBmi, kMaxImagePixels, dib, why)) return nullptr;
  int64_t pixels = int64_t(dib.Width) * dib.Height;
  if (FPixels + pixels > kPixelBudget) return nullptr;
  FPixels += pixels;
  TkxSurface s(cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, dib.Width, dib.Height));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  uint8_t* data = cairo_image_surface_get_data(s.get());
  size_t stride = size_t(cairo_image_surface_get_stride(s.get()));
  size_t w = size_t(dib.Width);
  DecodeDibRows(dib, r.P + at.OffBits, at.CbBits, alpha ? TkxDibValues::ColorsWithAlpha : TkxDibValues::Colors,
                0xFFFFFFFFu, [&](uint32_t y, const uint32_t* v) {
                  uint32_t* dst = reinterpret_cast<uint32_t*>(data + y * stride);
                  if (!alpha) {
                    std::memcpy(dst, v, w * 4);
                    return;
                  }
                  // Premultiplied already; a channel above its alpha would be no colour at all.
                  for (size_t x = 0; x < w; ++x) {
                    uint32_t a = v[x] >> 24;
                    uint32_t cr = std::min(v[x] >> 16 & 0xFF, a), cg = std::min(v[x] >> 8 & 0xFF, a),
                             cb = std::min(v[x] & 0xFF, a);
                    dst[x] = a << 24 | cr << 16 | cg << 8 | cb;
                  }
                });
  cairo_surface_mark_dirty(s.get());
  bottomUp = dib.BottomUp;
  return s;
}

TkxPattern TPlayer::BoxedImage(cairo_surface_t* img, int x, int y, int w, int h, const cairo_matrix_t& m) {
  // An unturned bitmap drawn smaller in both directions is averaged down to the device
  // pixels it touches, as PDF viewers draw it; cairo's filter would keep it sharper.
  if (w <= 0 || h <= 0) return nullptr;
  cairo_matrix_t ctm, d;  // d: the part's pixels -> device pixels
  cairo_get_matrix(FCr, &ctm);
  cairo_matrix_multiply(&d, &m, &ctm);
  if (std::fabs(d.xy) > 1e-9 || std::fabs(d.yx) > 1e-9 || !(std::fabs(d.xx) < 1) || !(std::fabs(d.yy) < 1) ||
      d.xx == 0 || d.yy == 0)
    return nullptr;
  double l = d.x0, r = d.x0 + d.xx * w, t = d.y0, b = d.y0 + d.yy * h;
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  double pl = std::floor(l + 1e-6), pt = std::floor(t + 1e-6);
  double pr = std::max(pl + 1, std::ceil(r - 1e-6)), pb = std::max(pt + 1, std::ceil(b - 1e-6));
  TkxSurface boxed = BoxDownscale(img, {x, y, w, h}, int(pr - pl), int(pb - pt), d.xx < 0, d.yy < 0);
  if (!boxed) return nullptr;
  TkxPattern pat(cairo_pattern_create_for_surface(boxed.get()));
  cairo_matrix_t toPattern, shift;  // user -> device -> the boxed pixels
  cairo_matrix_init_translate(&shift, -pl, -pt);
  cairo_matrix_multiply(&toPattern, &ctm, &shift);
  cairo_pattern_set_matrix(pat.get(), &toPattern);
  cairo_pattern_set_extend(pat.get(), CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(pat.get(), CAIRO_FILTER_NEAREST);
  // Every pixel it touches, whole.
  cairo_new_path(FCr);
  TkxSavedState keep(FCr);
  cairo_identity_matrix(FCr);
  cairo_rectangle(FCr, pl, pt, pr - pl, pb - pt);
  return pat;
}

void TPlayer::Image(const TRecord& r, const TBlt& b) {
  double p0x, p0y, p1x, p1y, p2x, p2y;
  Tx(b.X, b.Y, p0x, p0y);
  Tx(b.X + b.Cx, b.Y, p1x, p1y);
  Tx(b.X, b.Y + b.Cy, p2x, p2y);
  cairo_new_path(FCr);
  cairo_move_to(FCr, p0x, p0y);
  cairo_line_to(FCr, p1x, p1y);
  cairo_line_to(FCr, p1x + p2x - p0x, p1y + p2y - p0y);
  cairo_line_to(FCr, p2x, p2y);
  cairo_close_path(FCr);
  if (b.Dib.CbBmi == 0) {  // no bitmap: a pattern or constant operation on the rectangle
    if (b.Rop == PATCOPY && FDc.CurBrush.Style != BS_NULL) {
      FillCurrent(false);
      return;
    }
    if (b.Rop != BLACKNESS && b.Rop != WHITENESS) {
      cairo_new_path(FCr);
      return;
    }
    SetColor(FCr, b.Rop == BLACKNESS ? 0 : 0xFFFFFF);
    cairo_fill(FCr);
    return;
  }
  bool bottomUp = true;
  TkxSurface img = DibSurface(r, b.Dib, b.Alpha, bottomUp);
  if (!img) {
    cairo_new_path(FCr);
    return;
  }
  int iw = cairo_image_surface_get_width(img.get()), ih = cairo_image_surface_get_height(img.get());
  int64_t sx = b.SrcX, sy = b.SrcY, scx = b.SrcCx, scy = b.SrcCy;
  if (scx == 0 || scy == 0) scx = iw, scy = ih;
  // The source rectangle of a bottom-up bitmap given to the DIB records counts from its bottom row.
  int64_t top = b.FromBottom && bottomUp ? ih - sy - scy : sy;
  cairo_matrix_t m;  // image -> output
  cairo_matrix_init(&m, (p1x - p0x) / double(scx), (p1y - p0y) / double(scx), (p2x - p0x) / double(scy),
                    (p2y - p0y) / double(scy), p0x, p0y);
  cairo_matrix_translate(&m, -double(sx), -double(top));
  // A part of the bitmap stands on its own, so that smoothing at its edges takes in
  // nothing of the pixels around it.
  int64_t x0 = std::clamp<int64_t>(sx, 0, iw), y0 = std::clamp<int64_t>(top, 0, ih);
  int64_t x1 = std::clamp<int64_t>(sx + scx, 0, iw), y1 = std::clamp<int64_t>(top + scy, 0, ih);
  TkxSurface part;
  if (x1 > x0 && y1 > y0 && (x1 - x0 < iw || y1 - y0 < ih)) {
    part.reset(cairo_surface_create_for_rectangle(img.get(), double(x0), double(y0), double(x1 - x0), double(y1 - y0)));
    cairo_matrix_translate(&m, double(x0), double(y0));
  }
  // Only a source rectangle that lies within the bitmap: beyond it cairo pads the edge.
  bool within = x0 == sx && y0 == top && x1 == sx + scx && y1 == top + scy;
  TkxPattern pat = within ? BoxedImage(img.get(), int(x0), int(y0), int(x1 - x0), int(y1 - y0), m) : nullptr;
  if (!pat) {
    if (cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) {
      cairo_new_path(FCr);
      return;
    }
    pat.reset(cairo_pattern_create_for_surface(part ? part.get() : img.get()));
    cairo_pattern_set_matrix(pat.get(), &m);
    cairo_pattern_set_extend(pat.get(), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(pat.get(), CAIRO_FILTER_GOOD);
  }
  TkxSavedState keep(FCr);
  if (b.Rop == SRCAND)
    cairo_set_operator(FCr, CAIRO_OPERATOR_MULTIPLY);
  else if (b.Rop == SRCPAINT)
    cairo_set_operator(FCr, CAIRO_OPERATOR_LIGHTEN);
  cairo_set_source(FCr, pat.get());
  if (b.Opacity < 1) {
    cairo_clip(FCr);
    cairo_paint_with_alpha(FCr, std::max(0.0, b.Opacity));
  } else {
    cairo_fill(FCr);
  }
  ++FStats.Images;
}

}  // namespace kx::emfplay
