#include "emf/canvas.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "emf/fonts.h"

namespace kxtest {

Canvas::Canvas(int width, int height)
    : FWidth(width),
      FHeight(height),
      FSurface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height)),
      FCr(cairo_create(FSurface)) {
  cairo_set_source_rgb(FCr, 1, 1, 1);
  cairo_paint(FCr);
}

Canvas::~Canvas() {
  cairo_destroy(FCr);
  cairo_surface_destroy(FSurface);
}

kx::TkxEmfPlayStats Canvas::Play(const std::string& emf) {
  kx::TkxEmfPlayStats st = kx::PlayEnhMetafile(FCr, emf, 0, 0, FWidth, FHeight);
  cairo_surface_flush(FSurface);
  return st;
}

cairo_scaled_font_t* Canvas::UseFont(const char* family, double em) {
  cairo_set_font_face(FCr, kx::FaceSet().Named(family, 400, false));
  cairo_set_font_size(FCr, em);
  cairo_font_options_t* fo = cairo_font_options_create();
  cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(FCr, fo);
  cairo_font_options_destroy(fo);
  cairo_set_source_rgb(FCr, 0, 0, 0);
  return cairo_get_scaled_font(FCr);
}

uint32_t Canvas::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) return 0xFFFFFF;
  cairo_surface_flush(FSurface);
  uint32_t v;
  std::memcpy(&v, cairo_image_surface_get_data(FSurface) + y * cairo_image_surface_get_stride(FSurface) + x * 4, 4);
  return v & 0xFFFFFF;
}

int Canvas::Ink(int x, int y) const {
  uint32_t p = At(x, y);
  return 255 - int((p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF)) / 3;
}

Canvas::Box Canvas::InkBox(int threshold) const {
  Box b{FWidth, FHeight, -1, -1};
  for (int y = 0; y < FHeight; ++y)
    for (int x = 0; x < FWidth; ++x)
      if (Ink(x, y) > threshold)
        b.L = std::min(b.L, x), b.T = std::min(b.T, y), b.R = std::max(b.R, x), b.B = std::max(b.B, y);
  return b;
}

double Canvas::Difference(const Canvas& other) const {
  double differs = 0, ink = 0;
  for (int y = 0; y < FHeight; ++y)
    for (int x = 0; x < FWidth; ++x) {
      differs += std::abs(Ink(x, y) - other.Ink(x, y));
      ink += Ink(x, y);
    }
  return ink > 0 ? differs / ink : differs;
}

void Canvas::Save(const std::string& png) const { cairo_surface_write_to_png(FSurface, png.c_str()); }

}  // namespace kxtest
