#pragma once
// Glyphs drawn as coverage masks rendered once per glyph and quarter-pixel phase, the
// way PDF renderers draw small text: unhinted, each glyph's pen position floored to a
// quarter pixel across and to a whole pixel down. Much cheaper than filling every
// glyph's outline, and closer to the page as a PDF viewer shows it.
#include <cairo.h>

#include <cstddef>
#include <map>
#include <tuple>

#include "emf/cairoptr.h"

namespace kx {

// One page's masks, drawn on one thread with that thread's faces.
class TkxGlyphMasks {
 public:
  // Whether the font's glyphs can be drawn as masks: an unsynthesised FreeType font
  // whose glyphs are not too large to keep.
  bool Usable(cairo_scaled_font_t* font);
  // Draws one glyph with the context's source, its origin at device pixel (x, y), the
  // context's matrix the identity. False: the glyph has no outline to render (the
  // caller draws it another way).
  bool Draw(cairo_t* cr, cairo_scaled_font_t* font, unsigned long index, double x, double y);

 private:
  struct TMask {
    TkxSurface Surface;  // null for a glyph that covers nothing (a space)
    int Left = 0, Top = 0;
    bool Ok = false;
  };
  TMask Render(cairo_scaled_font_t* font, unsigned long index, int phase);
  void Hold(cairo_scaled_font_t* font);
  void MakeRoom(cairo_scaled_font_t* keep);  // drops everything once the cache is full

  // Fonts are held while their masks are kept, so that their addresses stay theirs;
  // fonts, masks and their pixels all count against one limit.
  std::map<cairo_scaled_font_t*, std::pair<TkxScaledFont, bool>> FFonts;
  std::map<std::tuple<cairo_scaled_font_t*, unsigned long, int>, TMask> FMasks;
  size_t FBytes = 0;
};

}  // namespace kx
