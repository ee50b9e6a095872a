#pragma once
// A white image that metafiles are played onto, and what tests read from it.
#include <cairo.h>

#include <string>

#include "emf/emfplayer.h"

namespace kxtest {

class Canvas {
 public:
  Canvas(int width, int height);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  kx::TkxEmfPlayStats Play(const std::string& emf);  // the frame onto the whole canvas
  cairo_t* Context() const { return FCr; }           // to draw references
  // The context set to draw `family` at `em` pixels, unhinted, in black, as the player
  // draws text; its scaled font.
  cairo_scaled_font_t* UseFont(const char* family, double em);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  uint32_t At(int x, int y) const;  // 0xRRGGBB
  int Ink(int x, int y) const;      // 0 (white) to 255 (black), from the grey level
  // The smallest box of pixels with ink above `threshold`; L > R when there is none.
  struct Box {
    int L, T, R, B;
  };
  Box InkBox(int threshold = 96) const;
  // How far two drawings differ: the ink that differs over the ink of this one.
  double Difference(const Canvas& other) const;
  void Save(const std::string& png) const;  // to look at when a test fails

 private:
  int FWidth, FHeight;
  cairo_surface_t* FSurface;
  cairo_t* FCr;
};

}  // namespace kxtest
