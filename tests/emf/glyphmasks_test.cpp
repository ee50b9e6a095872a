// Glyph masks against the glyph's own outline: the same ink at the same place, pen
// positions floored to quarter pixels across and whole pixels down, the context's clip
// obeyed, and glyphs too large to keep left to the caller.
#include "emf/glyphmasks.h"

#include <gtest/gtest.h>

#include <cmath>

#include "emf/canvas.h"

using kxtest::Canvas;

namespace {

cairo_scaled_font_t* UseFont(Canvas& c, double em) { return c.UseFont("DejaVu Sans", em); }

unsigned long GlyphOf(cairo_scaled_font_t* font, const char* utf8) {
  cairo_glyph_t* glyphs = nullptr;
  int n = 0;
  cairo_scaled_font_text_to_glyphs(font, 0, 0, utf8, -1, &glyphs, &n, nullptr, nullptr, nullptr);
  unsigned long index = n > 0 ? glyphs[0].index : 0;
  cairo_glyph_free(glyphs);
  return index;
}

// The ink-weighted mean column of a canvas.
double InkCentre(const Canvas& c) {
  double sum = 0, weight = 0;
  for (int y = 0; y < c.Height(); ++y)
    for (int x = 0; x < c.Width(); ++x) sum += double(c.Ink(x, y)) * x, weight += c.Ink(x, y);
  return weight > 0 ? sum / weight : -1;
}

}  // namespace

TEST(GlyphMasks, AGlyphHasTheInkOfItsOutlineAtTheQuarterPixelBelowItsPlace) {
  Canvas masked(64, 64), outline(64, 64);
  kx::TkxGlyphMasks masks;
  cairo_scaled_font_t* font = UseFont(masked, 30);
  unsigned long g = GlyphOf(font, "g");
  ASSERT_NE(g, 0u);
  ASSERT_TRUE(masks.Usable(font));
  EXPECT_TRUE(masks.Draw(masked.Context(), font, g, 20.6, 40));
  UseFont(outline, 30);
  cairo_glyph_t at{g, 20.5, 40};  // 20.6 floored to the quarter
  cairo_glyph_path(outline.Context(), &at, 1);
  cairo_fill(outline.Context());
  EXPECT_LT(masked.Difference(outline), 0.05);
  EXPECT_NEAR(InkCentre(masked), InkCentre(outline), 0.03);
}

TEST(GlyphMasks, PlacesMoveByQuarterPixelsAcrossAndWholePixelsDown) {
  auto masked = [](double x, double y, Canvas::Box* box = nullptr) {
    Canvas c(64, 64);
    kx::TkxGlyphMasks masks;
    cairo_scaled_font_t* font = UseFont(c, 16);
    EXPECT_TRUE(masks.Draw(c.Context(), font, GlyphOf(font, "l"), x, y));
    if (box) *box = c.InkBox(1);
    return InkCentre(c);
  };
  auto outline = [](double x) {
    Canvas c(64, 64);
    cairo_scaled_font_t* font = UseFont(c, 16);
    cairo_glyph_t at{GlyphOf(font, "l"), x, 30};
    cairo_glyph_path(c.Context(), &at, 1);
    cairo_fill(c.Context());
    return InkCentre(c);
  };
  const struct {
    double At, Quarter;
  } kPlaces[] = {{20.1, 20}, {20.3, 20.25}, {20.6, 20.5}, {20.99, 20.75}, {21.2, 21}};
  for (const auto& p : kPlaces) {
    EXPECT_NEAR(masked(p.At, 30), outline(p.Quarter), 0.02) << p.At;
    EXPECT_GT(std::fabs(masked(p.At, 30) - outline(p.At)), 0.03) << p.At;  // not the exact place
  }
  Canvas::Box whole{}, down{}, next{};
  masked(20, 30, &whole);
  masked(20, 30.8, &down);
  masked(20, 31, &next);
  EXPECT_EQ(down.T, whole.T);  // a fraction down stays on its row
  EXPECT_EQ(down.B, whole.B);
  EXPECT_EQ(next.B, whole.B + 1);
  // A place a rounding error short of a pixel belongs to that pixel.
  EXPECT_NEAR(masked(21 - 1e-9, 30), outline(21), 0.01);
}

TEST(GlyphMasks, TheClipHoldsAndLargeOrSpaceGlyphsAreHandledApart) {
  Canvas c(96, 64);
  kx::TkxGlyphMasks masks;
  cairo_scaled_font_t* font = UseFont(c, 40);
  cairo_rectangle(c.Context(), 0, 0, 30, 64);
  cairo_clip(c.Context());
  EXPECT_TRUE(masks.Draw(c.Context(), font, GlyphOf(font, "M"), 10, 50));
  Canvas::Box box = c.InkBox(1);
  EXPECT_LE(box.L, 16);
  EXPECT_EQ(box.R, 29);  // cut at the clip's edge
  // A blank draws nothing but is drawn.
  Canvas blank(64, 64);
  cairo_scaled_font_t* f2 = UseFont(blank, 20);
  EXPECT_TRUE(masks.Draw(blank.Context(), f2, GlyphOf(f2, " "), 10, 40));
  EXPECT_GT(blank.InkBox(1).L, blank.InkBox(1).R);
  // Glyphs larger than masks are kept for are refused, for the caller to fill.
  Canvas big(400, 400);
  cairo_scaled_font_t* huge = UseFont(big, 300);
  EXPECT_FALSE(masks.Usable(huge));
  EXPECT_FALSE(masks.Draw(big.Context(), huge, GlyphOf(huge, "M"), 10, 300));
}
