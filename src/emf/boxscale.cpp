#include "emf/boxscale.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace kx {

namespace {

// Where each of `n` new pixels starts among `source` ones; the last entry is `source`.
std::vector<int> Spans(int source, int n) {
  std::vector<int> at(size_t(n) + 1);
  for (int i = 0; i <= n; ++i) at[size_t(i)] = int(int64_t(i) * source / n);
  return at;
}

}  // namespace

TkxSurface BoxDownscale(cairo_surface_t* image, const TkxPixelRect& from, int w, int h, bool mirrorX, bool mirrorY) {
  const int x = from.X, y = from.Y, sw = from.W, sh = from.H;
  cairo_format_t format = cairo_image_surface_get_format(image);
  if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return nullptr;
  if (w <= 0 || h <= 0 || w > sw || h > sh || x < 0 || y < 0 || x + sw > cairo_image_surface_get_width(image) ||
      y + sh > cairo_image_surface_get_height(image))
    return nullptr;
  TkxSurface out(cairo_image_surface_create(format, w, h));
  if (cairo_surface_status(out.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_surface_flush(image);
  cairo_surface_flush(out.get());
  const uint8_t* src = cairo_image_surface_get_data(image);
  uint8_t* dst = cairo_image_surface_get_data(out.get());
  const int sstride = cairo_image_surface_get_stride(image), dstride = cairo_image_surface_get_stride(out.get());
  const std::vector<int> cols = Spans(sw, w), rows = Spans(sh, h);
  std::vector<uint64_t> sum(size_t(w) * 4);  // a pixel may stand for millions
  for (int j = 0; j < h; ++j) {
    std::fill(sum.begin(), sum.end(), 0);
    for (int sy = rows[size_t(j)]; sy < rows[size_t(j) + 1]; ++sy) {
      const uint8_t* row = src + ptrdiff_t(y + sy) * sstride + ptrdiff_t(x) * 4;
      for (int i = 0; i < w; ++i)
        for (int sx = cols[size_t(i)]; sx < cols[size_t(i) + 1]; ++sx)
          for (int c = 0; c < 4; ++c) sum[size_t(i) * 4 + size_t(c)] += row[sx * 4 + c];
    }
    uint8_t* line = dst + ptrdiff_t(mirrorY ? h - 1 - j : j) * dstride;
    const uint64_t tall = uint64_t(rows[size_t(j) + 1] - rows[size_t(j)]);
    for (int i = 0; i < w; ++i) {
      const uint64_t n = tall * uint64_t(cols[size_t(i) + 1] - cols[size_t(i)]);
      uint8_t* px = line + ptrdiff_t(mirrorX ? w - 1 - i : i) * 4;
      for (int c = 0; c < 4; ++c) px[c] = uint8_t((sum[size_t(i) * 4 + size_t(c)] + n / 2) / n);
    }
  }
  cairo_surface_mark_dirty(out.get());
  return out;
}

}  // namespace kx
