// The bitmap with its pixel formats, the BMP bytes, the metafile holder and the
// EMF player on synthetic metafiles.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cstring>

#include "convert/emfbuild.h"
#include "emf/bitmap.h"
#include "emf/emfplayer.h"
#include "emf/emfrecords.h"
#include "emf/metafile.h"
#include "platform/clipboard.h"
#include "pngmodule/bmpread.h"
#include "testutil.h"

using namespace kx;
using namespace kx::emf;
using kxtest::EmfBuilder;

namespace {

uint32_t U32(const std::string& b, size_t o) {
  return uint32_t(uint8_t(b[o]) | uint8_t(b[o + 1]) << 8 | uint8_t(b[o + 2]) << 16 | uint32_t(uint8_t(b[o + 3])) << 24);
}
uint16_t U16(const std::string& b, size_t o) { return uint16_t(uint8_t(b[o]) | uint8_t(b[o + 1]) << 8); }

TkxMetafile RedSquarePage() {
  // A 1 inch page at 96 dpi with a red square over its top-left quarter.
  TkxMetafile mf;
  mf.LoadFromBytes(EmfBuilder(2540, 2540, 96, 96, 25, 25)
                       .HimetricMapping()
                       .SolidBrush(1, 0x0000FF)
                       .Select(1)
                       .Pen(2, PS_NULL, 0, 0)
                       .Select(2)
                       .Rectangle(0, 0, 1270, 1270)
                       .Bytes());
  return mf;
}

}  // namespace

TEST(Metafile, HeaderNaturalSizeAndClipboard) {
  TkxMetafile mf;
  EXPECT_THROW(mf.LoadFromBytes("not an emf"), std::runtime_error);
  mf.LoadFromBytes(EmfBuilder(21590, 27940, 816, 1056, 215, 279).Bytes());
  // frame x device pixels / (device millimetres x 100), halves away from zero
  EXPECT_EQ(mf.Width(), 819);    // 21590 x 816 / 21500 = 819.4
  EXPECT_EQ(mf.Height(), 1058);  // 27940 x 1056 / 27900 = 1057.5
  ClipboardClear();
  TkxMetafile clip;
  try {
    clip.LoadFromClipboard();
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Unsupported clipboard format");
  }
  ClipboardSetMetafile(mf.Bytes());
  clip.LoadFromClipboard();
  EXPECT_EQ(clip.Bytes(), mf.Bytes());
}

TEST(Metafile, FilesRoundTripAndFailuresNameTheCause) {
  kxtest::TempDir d;
  TkxMetafile mf = RedSquarePage();
  mf.SaveToFile(d / "page.emf");
  TkxMetafile back;
  back.LoadFromFile(d / "page.emf");
  EXPECT_EQ(back.Bytes(), mf.Bytes());
  EXPECT_EQ(kxtest::FailureText([&] { back.LoadFromFile(d / "none.emf"); }),
            "Cannot open file \"" + d / "none.emf" + "\". No such file or directory");
  EXPECT_EQ(kxtest::FailureText([&] { back.LoadFromFile(d.Path()); }),
            "Cannot read file \"" + d.Path() + "\". Is a directory");
  EXPECT_EQ(kxtest::FailureText([&] { mf.SaveToFile(d / "no/page.emf"); }),
            "Cannot create file \"" + d / "no/page.emf" + "\". No such file or directory");
  TkxBitmap bmp;
  bmp.SetSize(3, 2);
  bmp.SaveToFile(d / "page.bmp");
  EXPECT_EQ(kxtest::ReadFile(d / "page.bmp"), bmp.BmpBytes());
  EXPECT_EQ(kxtest::FailureText([&] { bmp.SaveToFile(d / "no/page.bmp"); }),
            "Cannot create file \"" + d / "no/page.bmp" + "\". No such file or directory");
}

TEST(Bitmap, SizesAreWhiteAndFormatsAreChecked) {
  TkxBitmap b;
  EXPECT_THROW(b.SetPixelFormat(TkxPixelFormat::pfCustom), std::runtime_error);
  b.SetSize(10, 5);
  EXPECT_EQ(b.PixelAt(9, 4), 0xFFFFFFu);
  EXPECT_THROW(b.SetSize(40000, 40000), std::runtime_error);
  EXPECT_EQ(b.Width(), 10);  // unchanged by the refused size
}

TEST(Bitmap, EveryPixelFormatInTheBmpBytes) {
  TkxMetafile mf = RedSquarePage();
  struct Want {
    TkxPixelFormat Pf;
    int Bits;
    uint32_t Compression, Colors;
  };
  for (Want w : {Want{TkxPixelFormat::pf1bit, 1, 0, 2}, Want{TkxPixelFormat::pf4bit, 4, 0, 16},
                 Want{TkxPixelFormat::pf8bit, 8, 0, 256}, Want{TkxPixelFormat::pf15bit, 16, 0, 0},
                 Want{TkxPixelFormat::pf16bit, 16, 3, 0}, Want{TkxPixelFormat::pf24bit, 24, 0, 0},
                 Want{TkxPixelFormat::pf32bit, 32, 0, 0}}) {
    TkxBitmap b;
    b.SetPixelFormat(w.Pf);
    b.SetSize(96, 96);
    b.Draw(mf, 0, 0);
    std::string bmp = b.BmpBytes();
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(U32(bmp, 2), bmp.size());
    EXPECT_EQ(U16(bmp, 28), w.Bits);
    EXPECT_EQ(U32(bmp, 30), w.Compression);
    EXPECT_EQ(U32(bmp, 46), w.Colors);
    uint32_t rowBytes = ((96u * uint32_t(w.Bits) + 31) / 32) * 4;
    EXPECT_EQ(U32(bmp, 10) + rowBytes * 96, bmp.size());
    if (w.Compression == 3) {
      EXPECT_EQ(U32(bmp, 54), 0xF800u);
      EXPECT_EQ(U32(bmp, 58), 0x07E0u);
      EXPECT_EQ(U32(bmp, 62), 0x001Fu);
    }
    // Decode with the PNG module's reader: top-left is red (or black in 1 bit), bottom-right white.
    kxpng::TkxImage img;
    std::string why;
    ASSERT_TRUE(kxpng::ReadBmp(bmp, img, why)) << why;
    auto rgb = [&](int x, int y) {
      const auto& row = img.Rows[size_t(y)];
      if (img.Bits == 24)
        return uint32_t(row[size_t(x) * 3] << 16 | row[size_t(x) * 3 + 1] << 8 | row[size_t(x) * 3 + 2]);
      size_t i = row[size_t(x)];
      return uint32_t(img.Palette[i * 3] << 16 | img.Palette[i * 3 + 1] << 8 | img.Palette[i * 3 + 2]);
    };
    uint32_t expectRed = w.Bits == 1 ? 0x000000u : 0xFF0000u;  // red is nearer to black than to white
    EXPECT_EQ(rgb(10, 10) & 0xF8F8F8u, expectRed & 0xF8F8F8u) << w.Bits;
    EXPECT_EQ(rgb(90, 90) & 0xF8F8F8u, 0xF8F8F8u) << w.Bits;
  }
}

TEST(Player, MappingFillsAndStretching) {
  TkxMetafile mf = RedSquarePage();
  EXPECT_EQ(mf.Width(), 98);  // 2540 x 96 / 2500: the reference device's own rounding
  TkxBitmap b;
  b.SetSize(200, 200);
  b.StretchDraw(mf, 0, 0, 200, 200);
  EXPECT_EQ(b.PixelAt(10, 10), 0xFF0000u);
  EXPECT_EQ(b.PixelAt(90, 90), 0xFF0000u);  // the frame maps onto the rectangle
  EXPECT_EQ(b.PixelAt(110, 110), 0xFFFFFFu);
}

TEST(Player, TextIsPlacedFromTheAdvanceArray) {
  auto draw = [](const std::vector<int32_t>& dx) {
    std::string emf = EmfBuilder(2540, 2540, 96, 96, 25, 25)
                          .HimetricMapping()
                          .Font(1, -600, u"DejaVuSans")
                          .Select(1)
                          .Record(EMR_SETTEXTALIGN, {TA_BASELINE})
                          .TextOut(100, 1200, u"II", dx)
                          .Bytes();
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 96, 96);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    TkxEmfPlayStats st = PlayEnhMetafile(cr, emf, 0, 0, 96, 96);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    // The rightmost dark column on the text's line.
    int right = -1;
    for (int x = 0; x < 96; ++x)
      for (int y = 20; y < 46; ++y) {
        uint32_t p =
            reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s))[x];
        if ((p & 0xFF) < 128) right = x;
      }
    cairo_surface_destroy(s);
    EXPECT_EQ(st.Glyphs, 2);
    return right;
  };
  int near = draw({300, 300}), far = draw({1500, 300});
  // The second glyph moves by the extra 1200 logical units: 1200 x 96 / 2540 = 45 pixels.
  EXPECT_NEAR(far - near, 45, 2);
}

TEST(Player, GlyphsKeepTheirPlaceAlongABaselineOnThePixelGrid) {
  // The ink of "Hx" drawn at (x, y) logical units, as darkness per pixel.
  auto ink = [](int32_t x, int32_t y) {
    std::string emf = EmfBuilder(2540, 2540, 96, 96, 25, 25)
                          .HimetricMapping()
                          .Font(1, -600, u"DejaVuSans")
                          .Select(1)
                          .Record(EMR_SETTEXTALIGN, {TA_BASELINE})
                          .TextOut(x, y, u"Hx", {400, 400})
                          .Bytes();
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 96, 96);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    PlayEnhMetafile(cr, emf, 0, 0, 96, 96);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    std::vector<int> dark;
    for (int py = 0; py < 96; ++py)
      for (int px = 0; px < 96; ++px)
        dark.push_back(255 - int(reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) +
                                                             py * cairo_image_surface_get_stride(s))[px] &
                                 0xFF));
    cairo_surface_destroy(s);
    return dark;
  };
  auto centreX = [](const std::vector<int>& dark) {
    double sum = 0, weighted = 0;
    for (size_t i = 0; i < dark.size(); ++i) sum += dark[i], weighted += dark[i] * double(i % 96);
    return weighted / sum;
  };
  // Half a pixel (13 units of 26.46) to the right moves the ink by half a pixel, not by 0 or 1.
  double shift = centreX(ink(1013, 1200)) - centreX(ink(1000, 1200));
  EXPECT_GT(shift, 0.3);
  EXPECT_LT(shift, 0.7);
  // Moved down by a quarter pixel at a time, the text keeps its pixels or moves by a
  // whole row: the baseline stays on the pixel grid.
  auto down = [](std::vector<int> d) {
    d.insert(d.begin(), 96, 0);
    d.resize(96 * 96);
    return d;
  };
  int same = 0, rows = 0;
  for (int32_t y = 1200; y < 1260; y += 6) {
    std::vector<int> a = ink(1000, y), b = ink(1000, y + 6);
    same += a == b;
    rows += b == down(a);
  }
  EXPECT_EQ(same + rows, 10);
  EXPECT_GE(same, 5);
  EXPECT_GE(rows, 1);
}

TEST(Player, FillsThinnerThanAPixelBecomeOneSharpPixel) {
  // Pixels as logical units of 1/100, on a frame of exactly 100 x 100 pixels.
  auto f = [](float v) {
    int32_t i;
    std::memcpy(&i, &v, 4);
    return i;
  };
  std::string emf = EmfBuilder(2500, 2500, 100, 100, 25, 25)
                        .Record(EMR_SETWORLDTRANSFORM, {f(0.01f), 0, 0, f(0.01f), 0, 0})
                        .SolidBrush(1, 0)
                        .Select(1)
                        .Pen(2, PS_NULL, 0, 0)
                        .Select(2)
                        .Rectangle(1000, 5059, 9000, 5127)  // rows 50.59 to 51.27: mostly row 50
                        .Rectangle(2060, 6000, 2090, 9000)  // columns 20.60 to 20.90
                        .Bytes();
  TkxMetafile mf;
  mf.LoadFromBytes(emf);
  TkxBitmap b;
  b.SetSize(100, 100);
  b.Draw(mf, 0, 0);
  // Each edge goes to its nearest pixel boundary, as PDF renderers adjust strokes.
  EXPECT_EQ(b.PixelAt(50, 50), 0xFFFFFFu);
  EXPECT_EQ(b.PixelAt(50, 51), 0u);
  EXPECT_EQ(b.PixelAt(50, 52), 0xFFFFFFu);
  EXPECT_EQ(b.PixelAt(20, 70), 0xFFFFFFu);
  EXPECT_EQ(b.PixelAt(21, 70), 0u);
  EXPECT_EQ(b.PixelAt(22, 70), 0xFFFFFFu);
}

TEST(Player, DamagedDataNeverCrashesAndStopsAtTheBreak) {
  std::string good = EmfBuilder().HimetricMapping().SolidBrush(1, 0).Select(1).Rectangle(0, 0, 100, 100).Bytes();
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 50, 50);
  cairo_t* cr = cairo_create(s);
  for (size_t cut = 0; cut < good.size(); cut += 7) PlayEnhMetafile(cr, good.substr(0, cut), 0, 0, 50, 50);
  std::string broken = good;
  broken[header::MinSize + kRecordSize] = char(0xFF);  // the first record claims more bytes than there are
  TkxEmfPlayStats st = PlayEnhMetafile(cr, broken, 0, 0, 50, 50);
  EXPECT_TRUE(st.Truncated);
  EXPECT_EQ(st.Records, 1);
  const uint32_t kNoSuchType = 200;
  std::string unknown = EmfBuilder().Record(kNoSuchType, {1, 2, 3}).Bytes();
  EXPECT_EQ(PlayEnhMetafile(cr, unknown, 0, 0, 50, 50).Skipped, 1);
  cairo_destroy(cr);
  cairo_surface_destroy(s);
}
