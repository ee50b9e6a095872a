// Arbitrary bytes as a metafile: the player must neither crash nor run away.
#include <cairo.h>

#include <cstdint>
#include <string>

#include "emf/emfplayer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 200, 260);
  cairo_t* cr = cairo_create(surface);
  kx::PlayEnhMetafile(cr, std::string(reinterpret_cast<const char*>(data), size), 0, 0, 200, 260);
  cairo_destroy(cr);
  return 0;
}
