#pragma once
// Bitmaps made smaller the way PDF viewers do it: each new pixel the mean of the whole
// source pixels that fall in it.
#include <cairo.h>

#include "emf/cairoptr.h"

namespace kx {

struct TkxPixelRect {
  int X, Y, W, H;
};

// The pixels of `from` in a 32-bit image surface averaged down to `w` x `h` (no larger
// than `from`), mirrored across or down where asked; null where it cannot be made.
TkxSurface BoxDownscale(cairo_surface_t* image, const TkxPixelRect& from, int w, int h, bool mirrorX, bool mirrorY);

}  // namespace kx
