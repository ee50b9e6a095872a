#pragma once
// The images of the PDF reader's output (JPEG, PNG, binary PPM and PBM, raw pixels) decoded to
// pixels, with the colour-key mask applied.
#include <cstdint>
#include <vector>

#include "pdf/pdfops.h"

namespace kx::pdf {

struct TkxRaster {
  int Width = 0, Height = 0;
  bool Alpha = false;           // 4 bytes a pixel (red, green, blue, straight alpha), else 3
  std::vector<uint8_t> Pixels;  // rows from the top, packed
};

// False when the data cannot be read or the image has more than `maxPixels` pixels.
// A stencil in PBM form is painted in `fill` (red, green, blue, 0 to 255). A JPEG image
// is decoded at the smallest eighth of its size that still has `wantW` x `wantH`
// pixels (0: at its whole size), which costs a fraction of decoding it whole.
bool DecodePdfImage(const TkxPdfImage& image, TkxRaster& out, const uint8_t (&fill)[3], int64_t maxPixels,
                    int wantW = 0, int wantH = 0);

// Halves the raster (averaging, alpha-weighted) while it has more than `maxPixels`
// pixels or is at least twice `wantW` x `wantH` (0: no such limit).
void ShrinkRaster(TkxRaster& r, int64_t maxPixels, int wantW = 0, int wantH = 0);

}  // namespace kx::pdf
