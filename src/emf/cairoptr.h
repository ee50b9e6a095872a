#pragma once
// Owners of cairo objects: each is destroyed once, on every way out of a scope.
#include <cairo.h>

#include <memory>

namespace kx {

template <typename T, void (*Destroy)(T*)>
struct TkxCairoDestroy {
  void operator()(T* p) const {
    if (p) Destroy(p);
  }
};

using TkxCairo = std::unique_ptr<cairo_t, TkxCairoDestroy<cairo_t, cairo_destroy>>;
using TkxSurface = std::unique_ptr<cairo_surface_t, TkxCairoDestroy<cairo_surface_t, cairo_surface_destroy>>;
using TkxPattern = std::unique_ptr<cairo_pattern_t, TkxCairoDestroy<cairo_pattern_t, cairo_pattern_destroy>>;
using TkxPath = std::unique_ptr<cairo_path_t, TkxCairoDestroy<cairo_path_t, cairo_path_destroy>>;
using TkxScaledFont =
    std::unique_ptr<cairo_scaled_font_t, TkxCairoDestroy<cairo_scaled_font_t, cairo_scaled_font_destroy>>;
using TkxFontOptions =
    std::unique_ptr<cairo_font_options_t, TkxCairoDestroy<cairo_font_options_t, cairo_font_options_destroy>>;

// cairo_save on construction, cairo_restore on every way out.
class TkxSavedState {
 public:
  explicit TkxSavedState(cairo_t* cr) : FCr(cr) { cairo_save(cr); }
  ~TkxSavedState() { cairo_restore(FCr); }
  TkxSavedState(const TkxSavedState&) = delete;
  TkxSavedState& operator=(const TkxSavedState&) = delete;

 private:
  cairo_t* FCr;
};

}  // namespace kx
