#pragma once
// Plays an enhanced metafile onto a cairo context: the frame of the metafile is
// mapped onto the destination rectangle, as on the classic platform.
#include <string>

typedef struct _cairo cairo_t;

namespace kx {

struct TkxEmfPlayStats {
  int Records = 0;         // records read
  int Skipped = 0;         // records of a type the player does not draw
  int Glyphs = 0;          // glyphs placed
  int Images = 0;          // bitmaps drawn
  bool Truncated = false;  // a record ran past the end of the data
};

// Never raises: damaged data ends the playback where it becomes unreadable.
TkxEmfPlayStats PlayEnhMetafile(cairo_t* cr, const std::string& emf, double x, double y, double w, double h);

}  // namespace kx
