// The player on the drawing records pages are made of: polygons, beziers, paths,
// clipping by paths and rectangles in saved states, stretched and alpha-blended bitmaps.
#include <gtest/gtest.h>

#include "convert/emfbuild.h"
#include "emf/canvas.h"
#include "emf/emfrecords.h"

using namespace kx::emf;
using kxtest::Canvas;
using kxtest::EmfBuilder;

namespace {

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000;  // COLORREFs
constexpr uint32_t kRgbRed = 0xFF0000, kRgbGreen = 0x00FF00, kRgbBlue = 0x0000FF, kRgbWhite = 0xFFFFFF;

// A page of 192 x 96 pixels, ten logical units to a pixel, with a null pen selected.
EmfBuilder Page() {
  EmfBuilder b(5080, 2540, 9600, 9600, 2540, 2540);
  b.PixelMapping(10).Pen(1, PS_NULL, 0, 0).Select(1);
  return b;
}

// A closed rectangle as a path bracket, as the page translator writes clip paths.
EmfBuilder& PathRect(EmfBuilder& b, int32_t l, int32_t t, int32_t r, int32_t bt) {
  return b.Record(EMR_BEGINPATH, {})
      .MoveTo(l, t)
      .Record(EMR_LINETO, {r, t})
      .Record(EMR_LINETO, {r, bt})
      .Record(EMR_LINETO, {l, bt})
      .Record(EMR_CLOSEFIGURE, {})
      .Record(EMR_ENDPATH, {});
}

// Within `tolerance` in every channel: stretched bitmaps are smoothed between their pixels.
::testing::AssertionResult Near(uint32_t got, uint32_t want, int tolerance = 12) {
  for (int k = 0; k < 24; k += 8)
    if (std::abs(int(got >> k & 0xFF) - int(want >> k & 0xFF)) > tolerance)
      return ::testing::AssertionFailure() << std::hex << got << " is not near " << want;
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(PlayerDrawing, PolygonsBeziersAndFilledPaths) {
  EmfBuilder b = Page();
  b.SolidBrush(2, kRed).Select(2).Poly(EMR_POLYGON, {{100, 100}, {900, 100}, {100, 900}});  // a triangle
  // A disc of radius 30 px round (140, 48) from four beziers in a filled path.
  const int32_t cx = 1400, cy = 480, r = 300, k = 166;  // 0.5523 of the radius
  b.SolidBrush(3, kBlue).Select(3).Record(EMR_BEGINPATH, {}).MoveTo(cx + r, cy);
  b.Poly(EMR_POLYBEZIERTO, {{cx + r, cy + k},
                            {cx + k, cy + r},
                            {cx, cy + r},
                            {cx - k, cy + r},
                            {cx - r, cy + k},
                            {cx - r, cy},
                            {cx - r, cy - k},
                            {cx - k, cy - r},
                            {cx, cy - r},
                            {cx + k, cy - r},
                            {cx + r, cy - k},
                            {cx + r, cy}});
  b.Record(EMR_CLOSEFIGURE, {}).Record(EMR_ENDPATH, {}).Record(EMR_FILLPATH, {0, 0, 0, 0});
  // A polyline with a pen two pixels wide.
  b.Pen(4, PS_SOLID, 20, kGreen).Select(4).Poly(EMR_POLYLINE, {{1000, 900}, {1900, 900}});
  Canvas c(192, 96);
  EXPECT_FALSE(c.Play(b.Bytes()).Truncated);
  EXPECT_EQ(c.At(20, 20), kRgbRed);
  EXPECT_EQ(c.At(70, 70), kRgbWhite);  // beyond the triangle's slanted side
  EXPECT_EQ(c.At(140, 48), kRgbBlue);
  EXPECT_EQ(c.At(140 + 28, 48), kRgbBlue);
  EXPECT_EQ(c.At(140 + 25, 48 + 25), kRgbWhite);  // the box's corner is outside the round
  EXPECT_EQ(c.At(150, 90), kRgbGreen);
  EXPECT_EQ(c.At(150, 93), kRgbWhite);
}

TEST(PlayerDrawing, ClipPathsNarrowOrReplaceTheClipAndSavedStatesRestoreIt) {
  EmfBuilder b = Page();
  b.SolidBrush(2, kBlue).SolidBrush(3, kGreen).SolidBrush(4, kRed);
  // RGN_AND inside a saved state: only the path's inside is painted.
  b.Record(EMR_SAVEDC, {});
  PathRect(b, 100, 100, 500, 500).Record(EMR_SELECTCLIPPATH, {RGN_AND});
  b.Select(2).Rectangle(0, 0, 960, 960);
  b.Record(EMR_RESTOREDC, {-1});
  // Restored: the same fill reaches everywhere again.
  b.Select(3).Rectangle(0, 600, 960, 700);
  // RGN_COPY replaces a clip rectangle on the left with a path on the right.
  b.Record(EMR_SAVEDC, {}).IntersectClip(1000, 0, 1400, 960);
  PathRect(b, 1500, 100, 1800, 500).Record(EMR_SELECTCLIPPATH, {RGN_COPY});
  b.Select(4).Rectangle(960, 0, 1920, 960);
  b.Record(EMR_RESTOREDC, {-1});
  Canvas c(192, 96);
  c.Play(b.Bytes());
  EXPECT_EQ(c.At(30, 30), kRgbBlue);
  EXPECT_EQ(c.At(5, 30), kRgbWhite);
  EXPECT_EQ(c.At(55, 30), kRgbWhite);
  EXPECT_EQ(c.At(5, 65), kRgbGreen);
  EXPECT_EQ(c.At(90, 65), kRgbGreen);
  EXPECT_EQ(c.At(160, 30), kRgbRed);
  EXPECT_EQ(c.At(120, 30), kRgbWhite);  // inside the replaced rectangle, outside the path
  EXPECT_EQ(c.At(160, 70), kRgbWhite);
}

TEST(PlayerDrawing, ClipPathDifferenceTakesThePathOut) {
  EmfBuilder b = Page();
  PathRect(b, 500, 300, 900, 600).Record(EMR_SELECTCLIPPATH, {RGN_DIFF});
  b.SolidBrush(2, kBlue).Select(2).Rectangle(0, 0, 1920, 960);
  Canvas c(192, 96);
  c.Play(b.Bytes());
  EXPECT_EQ(c.At(70, 45), kRgbWhite);
  EXPECT_EQ(c.At(30, 45), kRgbBlue);
  EXPECT_EQ(c.At(150, 80), kRgbBlue);
}

TEST(PlayerDrawing, StretchedBitmapsKeepTheirOrientationAndTheirCrop) {
  // Red, green / blue, white: stretched onto 40 x 40 pixels.
  const std::vector<uint32_t> quad = {kRgbRed, kRgbGreen, kRgbBlue, kRgbWhite};
  EmfBuilder b = Page();
  b.StretchDib(100, 100, 400, 400, 2, 2, quad);
  // A cropped picture: a clip rectangle in a saved state around a bitmap larger than it.
  b.Record(EMR_SAVEDC, {}).IntersectClip(1000, 200, 1400, 400);
  b.StretchDib(900, 0, 600, 960, 2, 2, quad);
  b.Record(EMR_RESTOREDC, {-1});
  b.SolidBrush(2, 0).Select(2).Rectangle(1500, 500, 1600, 600);  // no longer clipped
  Canvas c(192, 96);
  EXPECT_EQ(c.Play(b.Bytes()).Images, 2);
  EXPECT_TRUE(Near(c.At(20, 20), kRgbRed));
  EXPECT_TRUE(Near(c.At(40, 20), kRgbGreen));
  EXPECT_TRUE(Near(c.At(20, 40), kRgbBlue));
  EXPECT_TRUE(Near(c.At(40, 40), kRgbWhite));
  EXPECT_TRUE(Near(c.At(105, 24), kRgbRed));  // the crop's top half lies in the bitmap's top half
  EXPECT_TRUE(Near(c.At(135, 24), kRgbGreen));
  EXPECT_EQ(c.At(110, 15), kRgbWhite);  // above the crop
  EXPECT_EQ(c.At(110, 70), kRgbWhite);  // below it the blue half is cut away
  EXPECT_EQ(c.At(95, 30), kRgbWhite);
  EXPECT_EQ(c.At(155, 55), 0u);
}

TEST(PlayerDrawing, StretchDibSourceRectanglesCountFromTheBottomRow) {
  // One source pixel at (0, 0) of a bottom-up DIB is its bottom-left pixel.
  EmfBuilder b = Page();
  std::string emf =
      b.StretchDib(0, 0, 400, 400, 2, 2, {kRgbRed, kRgbGreen, kRgbBlue, kRgbWhite}).SourceRect(0, 0, 1, 1).Bytes();
  Canvas c(192, 96);
  c.Play(emf);
  // Drawn alone: its edges are not smoothed into its neighbours.
  EXPECT_EQ(c.At(1, 1), kRgbBlue);
  EXPECT_EQ(c.At(20, 20), kRgbBlue);
  EXPECT_EQ(c.At(38, 38), kRgbBlue);
}

TEST(PlayerDrawing, BitmapsDrawnSmallerAreAveragedOverTheWholePixelsTheyTouch) {
  // Columns of black and white, 40 across, drawn 10 pixels wide: every pixel is the mean
  // of its four columns, grey, not a sample of one or two of them.
  std::vector<uint32_t> stripes(40 * 8);
  for (size_t i = 0; i < stripes.size(); ++i) stripes[i] = (i % 40) % 2 ? kRgbWhite : 0;
  EmfBuilder b = Page();
  b.StretchDib(100, 100, 100, 20, 40, 8, stripes);
  // Black drawn smaller from x = 10.3 to 14.7 pixels covers pixels 10 to 14 whole.
  b.StretchDib(103, 400, 44, 40, 8, 8, std::vector<uint32_t>(64, 0));
  // Drawn larger, the columns stay apart.
  b.StretchDib(1000, 100, 400, 20, 10, 1, std::vector<uint32_t>(stripes.begin(), stripes.begin() + 10));
  Canvas c(192, 96);
  EXPECT_EQ(c.Play(b.Bytes()).Images, 3);
  for (int x = 10; x < 20; ++x) EXPECT_TRUE(Near(c.At(x, 11), 0x808080, 2)) << x;
  for (int x = 10; x <= 14; ++x) EXPECT_EQ(c.At(x, 42), 0u) << x;
  EXPECT_EQ(c.At(9, 42), kRgbWhite);
  EXPECT_EQ(c.At(15, 42), kRgbWhite);
  EXPECT_TRUE(Near(c.At(101, 10), 0, 40));
  EXPECT_TRUE(Near(c.At(105, 10), kRgbWhite, 40));
}

TEST(PlayerDrawing, BitmapsDrawnSmallerKeepTheirOrientationMirrorsAndAlpha) {
  // 40 x 8: the left half red above and black below, the right half white; drawn 10 x 4
  // pixels as it is, mirrored across by a negative width and down by a negative height.
  std::vector<uint32_t> quarters(40 * 8);
  for (size_t i = 0; i < quarters.size(); ++i) quarters[i] = i % 40 >= 20 ? kRgbWhite : i / 40 < 4 ? kRgbRed : 0;
  EmfBuilder b = Page();
  b.StretchDib(100, 100, 100, 40, 40, 8, quarters);
  b.StretchDib(500, 100, -100, 40, 40, 8, quarters);
  b.StretchDib(600, 140, 100, -40, 40, 8, quarters);
  // Premultiplied black at half alpha drawn smaller over white: grey.
  b.AlphaBlend(1000, 100, 100, 40, 40, 8, std::vector<uint32_t>(40 * 8, 0x80000000));
  Canvas c(192, 96);
  EXPECT_EQ(c.Play(b.Bytes()).Images, 4);
  EXPECT_EQ(c.At(11, 10), kRgbRed);
  EXPECT_EQ(c.At(11, 13), 0u);
  EXPECT_EQ(c.At(18, 11), kRgbWhite);
  EXPECT_EQ(c.At(41, 11), kRgbWhite);  // mirrored across: white on the left
  EXPECT_EQ(c.At(48, 10), kRgbRed);
  EXPECT_EQ(c.At(48, 13), 0u);
  EXPECT_EQ(c.At(61, 10), 0u);  // mirrored down: black above, red below
  EXPECT_EQ(c.At(61, 13), kRgbRed);
  EXPECT_EQ(c.At(68, 11), kRgbWhite);
  EXPECT_TRUE(Near(c.At(105, 12), 0x7F7F7F, 2));
}

TEST(PlayerDrawing, AlphaBlendTakesPremultipliedPixelsAndTheConstantAlpha) {
  EmfBuilder b = Page();
  b.SolidBrush(2, kBlue).Select(2).Rectangle(0, 0, 1920, 960);
  // Opaque red, white at half alpha (premultiplied: 0x80 of each), fully transparent, and
  // black at a quarter alpha.
  b.AlphaBlend(0, 0, 800, 200, 4, 1, {0xFFFF0000, 0x80808080, 0x00000000, 0x40000000});
  // Opaque red at a constant alpha of one half over white.
  b.SolidBrush(3, 0xFFFFFF).Select(3).Rectangle(0, 400, 1920, 960);
  b.AlphaBlend(0, 500, 400, 200, 1, 1, {0xFFFF0000}, 128);
  Canvas c(192, 96);
  EXPECT_EQ(c.Play(b.Bytes()).Images, 2);
  EXPECT_TRUE(Near(c.At(10, 10), kRgbRed));
  // src + (1 - alpha) x dst: 0x80 + 0.498 x (0, 0, 255)
  EXPECT_TRUE(Near(c.At(30, 10), 0x8080FF));
  EXPECT_TRUE(Near(c.At(50, 10), kRgbBlue));
  EXPECT_TRUE(Near(c.At(70, 10), 0x0000BF));
  EXPECT_TRUE(Near(c.At(20, 60), 0xFF7F7F, 3));
}
