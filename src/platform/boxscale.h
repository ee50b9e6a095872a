#pragma once
// Bitmaps made smaller the way PDF viewers do it: each new pixel the mean of the whole
// source pixels that fall in it.
#include <cairo.h>

#include "platform/cairoptr.h"

namespace kx {

// The `sw` x `sh` pixels of a 32-bit image surface at (x, y), averaged down to `w` x `h`
// (no larger than the source), mirrored across or down where asked; null where it
// cannot be made.
TkxSurface BoxDownscale(cairo_surface_t* image, int x, int y, int sw, int sh, int w, int h, bool mirrorX, bool mirrorY);

}  // namespace kx
