#pragma once
// The FreeType face of a cairo scaled font, set to the font's scale, for as long as the
// owner lives. cairo hands the face out without holding its own lock; the faces come
// from the drawing thread's own set (FaceSet()), so no other thread uses them.
#include <cairo-ft.h>

namespace kx {

class TkxLockedFace {
 public:
  explicit TkxLockedFace(cairo_scaled_font_t* font) : FFont(font), FFace(cairo_ft_scaled_font_lock_face(font)) {}
  ~TkxLockedFace() {
    if (FFace) cairo_ft_scaled_font_unlock_face(FFont);
  }
  TkxLockedFace(const TkxLockedFace&) = delete;
  TkxLockedFace& operator=(const TkxLockedFace&) = delete;
  FT_Face Face() const { return FFace; }
  explicit operator bool() const { return FFace != nullptr; }

 private:
  cairo_scaled_font_t* FFont;
  FT_Face FFace;
};

}  // namespace kx
