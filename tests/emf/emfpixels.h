#pragma once
// An enhanced metafile played at its natural size on white, and PNG bytes made from
// pixels, for tests that look at what pages show.
#include <cairo.h>
#include <png.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "emf/emfplayer.h"
#include "emf/metafile.h"

namespace kxtest {

class EmfPixels {
 public:
  explicit EmfPixels(const std::string& emf) {
    kx::TkxMetafile mf;
    mf.LoadFromBytes(emf);
    FSurface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, mf.Width(), mf.Height());
    cairo_t* cr = cairo_create(FSurface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    kx::PlayEnhMetafile(cr, emf, 0, 0, mf.Width(), mf.Height());
    cairo_destroy(cr);
    cairo_surface_flush(FSurface);
  }
  ~EmfPixels() { cairo_surface_destroy(FSurface); }
  EmfPixels(const EmfPixels&) = delete;
  EmfPixels& operator=(const EmfPixels&) = delete;
  uint32_t At(int x, int y) const {  // 0xRRGGBB
    uint32_t v;
    std::memcpy(&v, cairo_image_surface_get_data(FSurface) + y * cairo_image_surface_get_stride(FSurface) + x * 4, 4);
    return v & 0xFFFFFF;
  }

 private:
  cairo_surface_t* FSurface;
};

// A PNG file's bytes of `w` x `h` pixels, 4 bytes a pixel (red, green, blue, alpha).
inline std::string PngFromRgba(int w, int h, const std::vector<uint8_t>& rgba) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = png_uint_32(w), img.height = png_uint_32(h), img.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&img, nullptr, &size, 0, rgba.data(), 0, nullptr);
  std::string out(size, '\0');
  png_image_write_to_memory(&img, out.data(), &size, 0, rgba.data(), 0, nullptr);
  out.resize(size);
  return out;
}

}  // namespace kxtest
