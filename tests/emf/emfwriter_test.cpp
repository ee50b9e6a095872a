// The metafile writer: its header against the metafile holder's natural size, its
// handles, the layout of its text records, and what the player draws from it.
#include <gtest/gtest.h>

#include <cmath>

#include "emf/emfpixels.h"
#include "emf/emfrecords.h"
#include "emf/emfwalk.h"
#include "emf/emfwriter.h"
#include "emf/metafile.h"

using namespace kx;
using namespace kxtest;

namespace {

// A page of w x h pixels whose logical unit is 1/75 pixel (1/100 pt), as pages are written.
TkxEmfWriter Page(int32_t w, int32_t h) {
  TkxEmfWriter e(int32_t(std::lround(w * 2540 / 96.0)), int32_t(std::lround(h * 2540 / 96.0)), w, h);
  e.SetMapMode(emf::MM_ANISOTROPIC);
  e.SetWindowExt(w * 75, h * 75);
  e.SetViewportExt(w, h);
  return e;
}

}  // namespace

TEST(EmfWriter, HeaderFramesGiveTheNaturalSizeToThePixel) {
  // Letter and A4 as pages are framed, and a frame in whole millimetres for contrast.
  struct {
    int32_t FrameW, FrameH, PxW, PxH;
  } cases[] = {{21590, 27940, 816, 1056}, {21008, 29712, 794, 1123}, {33205, 27940, 1255, 1056}};
  for (auto c : cases) {
    TkxEmfWriter w(c.FrameW, c.FrameH, c.PxW, c.PxH);
    w.SaveDC();
    w.RestoreDC();
    std::string emf = w.Finish();
    TkxMetafile mf;
    mf.LoadFromBytes(emf);
    EXPECT_EQ(mf.Width(), c.PxW);
    EXPECT_EQ(mf.Height(), c.PxH);
    const TkxEmfHeader& h = mf.Header();
    EXPECT_EQ(h.FrameR, c.FrameW);
    EXPECT_EQ(h.BoundsR, c.PxW - 1);
    EXPECT_EQ(h.DevicePxX * 2540, h.DeviceMmX * 9600);  // exactly 96 dpi
    EXPECT_EQ(h.Bytes, emf.size());
    auto recs = EmfRecords(emf);
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(h.Records, 4u);
    EXPECT_EQ(recs.back().Type, emf::EMR_EOF);
    EXPECT_EQ(recs.back().Offset + recs.back().Size, emf.size());
    EXPECT_EQ(EmfU32(emf, emf::header::DeviceUm), 2540000u);
  }
}

TEST(EmfWriter, HandlesAreReusedAndCountedAtTheirMost) {
  TkxEmfWriter w(100, 100, 4, 4);
  uint32_t a = w.CreateBrush(0x0000FF), b = w.CreatePen(emf::PS_GEOMETRIC, 10, 0), c = w.CreateBrush(0);
  EXPECT_EQ(a, 1u);
  EXPECT_EQ(b, 2u);
  EXPECT_EQ(c, 3u);
  w.DeleteObject(b);
  TkxEmfLogFont f;
  f.Face = u"DejaVu Sans";
  EXPECT_EQ(w.CreateFont(f), 2u);  // the freed slot
  std::string emf = w.Finish();
  TkxMetafile mf;
  mf.LoadFromBytes(emf);
  EXPECT_EQ(mf.Header().Handles, 4);  // slot 0 and three objects at most
  auto fonts = EmfRecordsOf(emf, emf::EMR_EXTCREATEFONTINDIRECTW);
  ASSERT_EQ(fonts.size(), 1u);
  EXPECT_EQ(fonts[0].Size, emf::font::MinSize);
  EXPECT_EQ(emf.substr(fonts[0].Offset + emf::font::FaceName, 6), std::string("D\0e\0j\0", 6));
}

TEST(EmfWriter, TextRecordCarriesStringAdvancesAndOptions) {
  TkxEmfWriter w(100, 100, 4, 4);
  w.ExtTextOutW(120, -40, emf::ETO_RTLREADING, u"abc", {10, 20, 30});
  std::string emf = w.Finish();
  auto t = EmfRecordsOf(emf, emf::EMR_EXTTEXTOUTW);
  ASSERT_EQ(t.size(), 1u);
  size_t o = t[0].Offset;
  EXPECT_EQ(EmfI32(emf, o + emf::text::Reference), 120);
  EXPECT_EQ(EmfI32(emf, o + emf::text::Reference + 4), -40);
  EXPECT_EQ(EmfU32(emf, o + emf::text::Options), uint32_t(emf::ETO_RTLREADING));
  EXPECT_EQ(EmfU32(emf, o + emf::text::GraphicsMode), uint32_t(emf::GM_COMPATIBLE));
  EXPECT_EQ(EmfText(emf, t[0]), u"abc");
  EXPECT_EQ(EmfDx(emf, t[0]), (std::vector<int32_t>{10, 20, 30}));
  EXPECT_EQ(t[0].Size % 4, 0u);
}

TEST(EmfWriter, BitmapsRunFromTheBottomRowWithPaddedRows) {
  uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};  // one column: (1,2,3) above (4,5,6)
  TkxDib d = DibFromRgb(1, 2, rgb, 3);
  ASSERT_EQ(d.Pixels.size(), 8u);                                    // 3 bytes a row, padded to 4
  EXPECT_EQ(d.Pixels.substr(0, 3), std::string("\x06\x05\x04", 3));  // bottom row first, blue first
  EXPECT_EQ(d.Pixels.substr(4, 3), std::string("\x03\x02\x01", 3));
  uint8_t rgba[4] = {200, 100, 50, 128};
  TkxDib a = DibFromRgba(1, 1, rgba, 4);
  ASSERT_EQ(a.Bits, 32);
  EXPECT_EQ(uint8_t(a.Pixels[0]), 25);  // colours premultiplied by alpha
  EXPECT_EQ(uint8_t(a.Pixels[1]), 50);
  EXPECT_EQ(uint8_t(a.Pixels[2]), 100);
  EXPECT_EQ(uint8_t(a.Pixels[3]), 128);
}

TEST(EmfWriter, ThePlayerDrawsPathsClipsBitmapsAndBlends) {
  TkxEmfWriter w = Page(20, 10);
  // A red square from (1,1) to (5,5) pixels, filled through a path.
  w.SelectObject(w.CreateBrush(0x0000FF));
  w.BeginPath();
  w.MoveTo(75, 75);
  w.PolylineTo({{375, 75}, {375, 375}, {75, 375}});
  w.CloseFigure();
  w.EndPath();
  w.FillPath();
  // A 2 x 1 bitmap (blue, green) stretched over (8,0)-(12,2), clipped to x < 10.
  uint8_t rgb[6] = {0, 0, 255, 0, 255, 0};
  w.SaveDC();
  w.IntersectClipRect(0, 0, 750, 750);
  w.StretchDIBits(600, 0, 300, 150, DibFromRgb(2, 1, rgb, 6));
  w.RestoreDC();
  // Half-transparent black over (14,0)-(16,2).
  uint8_t rgba[4] = {0, 0, 0, 128};
  w.AlphaBlend(1050, 0, 150, 150, DibFromRgba(1, 1, rgba, 4));
  std::string emf = w.Finish();
  EmfPixels r(emf);
  EXPECT_EQ(r.At(3, 3), 0xFF0000u);
  EXPECT_EQ(r.At(6, 3), 0xFFFFFFu);
  EXPECT_EQ(r.At(8, 1) & 0xFF, 0xFFu);  // blue at the bitmap's left end
  EXPECT_EQ(r.At(11, 1), 0xFFFFFFu);    // clipped away
  uint32_t grey = r.At(14, 1) & 0xFF;
  EXPECT_NEAR(int(grey), 127, 3);  // half of white, premultiplied once
}

TEST(EmfWriter, HairlinesLandOnThePixelsPdfRenderersGiveThem) {
  // Strokes of 0.1 pt (0.13 pixel) across the page at 5.67 and 2.2 pixels: each takes the
  // pixel row its top edge rounds to, as poppler adjusts strokes (rows 6 and 2).
  TkxEmfWriter w = Page(10, 10);
  w.SelectObject(w.CreatePen(emf::PS_GEOMETRIC | emf::PS_ENDCAP_FLAT, 10, 0));
  for (int32_t y : {425, 165}) {
    w.BeginPath();
    w.MoveTo(0, y);
    w.PolylineTo({{750, y}});
    w.EndPath();
    w.StrokePath();
  }
  EmfPixels r(w.Finish());
  for (int row = 0; row < 10; ++row) {
    bool line = row == 6 || row == 2;
    EXPECT_EQ(r.At(5, row) == 0, line) << "row " << row;
  }
}
