// The DIB decoder that the player and the PNG module's bitmap reader share.
#include "emf/dib.h"

#include <gtest/gtest.h>

#include "emf/emfrecords.h"
#include "pngmodule/bmpread.h"

using namespace kx;
using namespace kx::emf;

namespace {

void Put(std::string& s, uint32_t v, int bytes = 4) {
  for (int i = 0; i < bytes; ++i) s.push_back(char(v >> (8 * i) & 0xFF));
}

// A BITMAPINFOHEADER and its colour table (0xRRGGBB entries).
std::string Info(int32_t w, int32_t h, int bits, uint32_t comp, const std::vector<uint32_t>& palette = {},
                 uint32_t clrUsed = 0) {
  std::string s;
  Put(s, bmi::InfoSize);
  Put(s, uint32_t(w));
  Put(s, uint32_t(h));
  Put(s, 1, 2);
  Put(s, uint32_t(bits), 2);
  Put(s, comp);
  for (int i = 0; i < 5; ++i) Put(s, i == 3 ? clrUsed : 0);
  for (uint32_t c : palette) Put(s, c);  // blue, green, red, reserved
  return s;
}

std::string Bytes(std::initializer_list<int> l) {
  std::string s;
  for (int v : l) s.push_back(char(v));
  return s;
}

// Every row of a decoded bitmap, top row first.
std::vector<std::vector<uint32_t>> Rows(const std::string& info, const std::string& bits, TkxDibValues values,
                                        uint32_t blank = 0xEEEEEEEE) {
  TkxDib dib;
  std::string why;
  std::vector<std::vector<uint32_t>> rows;
  if (!ReadDibHeader(reinterpret_cast<const uint8_t*>(info.data()), info.size(), 1 << 20, dib, why)) {
    ADD_FAILURE() << why;
    return rows;
  }
  DecodeDibRows(dib, reinterpret_cast<const uint8_t*>(bits.data()), bits.size(), values, blank,
                [&](uint32_t y, const uint32_t* v) {
                  EXPECT_EQ(y, rows.size());
                  rows.emplace_back(v, v + dib.Width);
                });
  return rows;
}

using R = std::vector<std::vector<uint32_t>>;

}  // namespace

TEST(Dib, PaletteFormatsGiveIndicesOrColoursInEitherRowOrder) {
  const std::vector<uint32_t> pal = {0x000000, 0xFF0000, 0x00FF00};
  // 1 bit, top-down (negative height): 1 0 1 / 0 1 0.
  std::string one = Info(3, -2, 1, BI_RGB, {0x000000, 0xFFFFFF});
  EXPECT_EQ(Rows(one, Bytes({0xA0, 0, 0, 0, 0x40, 0, 0, 0}), TkxDibValues::Indices), (R{{1, 0, 1}, {0, 1, 0}}));
  // 4 bits, bottom-up: the first row in the data is the bottom one.
  std::string four = Info(2, 2, 4, BI_RGB, pal, 3);
  EXPECT_EQ(Rows(four, Bytes({0x12, 0, 0, 0, 0x20, 0, 0, 0}), TkxDibValues::Colors),
            (R{{0xFF00FF00, 0xFF000000}, {0xFFFF0000, 0xFF00FF00}}));
  // 8 bits: an index past the three colours the header declares is index 0.
  std::string eight = Info(2, 1, 8, BI_RGB, pal, 3);
  EXPECT_EQ(Rows(eight, Bytes({2, 7, 0, 0}), TkxDibValues::Indices), (R{{2, 0}}));
}

TEST(Dib, RunLengthDataWithJumpsLeavesWhatItSkipsBlank) {
  const std::vector<uint32_t> pal = {0x000000, 0xFF0000, 0x0000FF};
  // RLE8, 4 x 3, bottom-up: row 0 "1 1 1" then end of line; row 1 jumps 2 right and 1 up;
  // row 2 gets the absolute run "2 1 2" at x = 2 (cut at the edge), then the end.
  std::string rle8 = Bytes({3, 1, 0, 0, 0, 2, 2, 1, 0, 3, 2, 1, 2, 0, 0, 1});
  EXPECT_EQ(Rows(Info(4, 3, 8, BI_RLE8, pal, 3), rle8, TkxDibValues::Indices, 9),
            (R{{9, 9, 2, 1}, {9, 9, 9, 9}, {1, 1, 1, 9}}));
  // RLE4: a run alternates its two nibbles.
  std::string rle4 = Bytes({4, 0x12, 0, 1});
  EXPECT_EQ(Rows(Info(4, 1, 4, BI_RLE4, pal, 3), rle4, TkxDibValues::Colors),
            (R{{0xFFFF0000, 0xFF0000FF, 0xFFFF0000, 0xFF0000FF}}));
}

TEST(Dib, HighColourFormatsBitFieldsAndAlpha) {
  // 16 bits: 5-5-5 without masks, 5-6-5 with BI_BITFIELDS.
  EXPECT_EQ(Rows(Info(2, 1, 16, BI_RGB), Bytes({0x00, 0x7C, 0x1F, 0x00}), TkxDibValues::Colors),
            (R{{0xFFFF0000, 0xFF0000FF}}));
  std::string fields = Info(1, 1, 16, BI_BITFIELDS);
  Put(fields, 0xF800), Put(fields, 0x07E0), Put(fields, 0x001F);
  EXPECT_EQ(Rows(fields, Bytes({0xE0, 0x07, 0, 0}), TkxDibValues::Colors), (R{{0xFF00FF00}}));
  // 24 bits, rows padded to 4 bytes.
  EXPECT_EQ(Rows(Info(1, 2, 24, BI_RGB), Bytes({0xFF, 0, 0, 0, 0, 0, 0xFF, 0}), TkxDibValues::Colors),
            (R{{0xFFFF0000}, {0xFF0000FF}}));
  // 32 bits keep their alpha only when asked to.
  std::string px = Bytes({0x10, 0x20, 0x30, 0x80});
  EXPECT_EQ(Rows(Info(1, 1, 32, BI_RGB), px, TkxDibValues::ColorsWithAlpha), (R{{0x80302010}}));
  EXPECT_EQ(Rows(Info(1, 1, 32, BI_RGB), px, TkxDibValues::Colors), (R{{0xFF302010}}));
  // Rows the data does not reach are blank.
  EXPECT_EQ(Rows(Info(1, 2, 24, BI_RGB), Bytes({0xFF, 0, 0, 0}), TkxDibValues::Colors, 7), (R{{7}, {0xFF0000FF}}));
}

TEST(Dib, HeadersThatCannotBeDecodedSafelyAreRefused) {
  auto refused = [](const std::string& info, uint64_t maxPixels = 1 << 20) {
    TkxDib dib;
    std::string why;
    bool ok = ReadDibHeader(reinterpret_cast<const uint8_t*>(info.data()), info.size(), maxPixels, dib, why);
    return !ok && !why.empty();
  };
  EXPECT_TRUE(refused(Info(2, 2, 2, BI_RGB)));         // no such depth
  EXPECT_TRUE(refused(Info(2, 2, 24, BI_JPEG)));       // compressed pictures inside
  EXPECT_TRUE(refused(Info(2, 2, 4, BI_RLE8)));        // runs of bytes in nibbles
  EXPECT_TRUE(refused(Info(2, 2, 16, BI_BITFIELDS)));  // the masks are missing
  EXPECT_TRUE(refused(Info(0, 2, 24, BI_RGB)));
  EXPECT_TRUE(refused(Info(2000, 2000, 24, BI_RGB)));  // more pixels than allowed
  EXPECT_TRUE(refused(Info(2, 2, 24, BI_RGB).substr(0, 30)));
  EXPECT_FALSE(refused(Info(2, 2, 24, BI_RGB)));
}

TEST(Dib, TheBitmapFileReaderChecksTheFileAroundTheDib) {
  auto file = [](const std::string& info, const std::string& bits, uint32_t offBits = 0) {
    std::string f = "BM";
    Put(f, uint32_t(14 + info.size() + bits.size()));
    Put(f, 0);
    Put(f, offBits ? offBits : uint32_t(14 + info.size()));
    return f + info + bits;
  };
  kxpng::TkxImage img;
  std::string why;
  std::string rle = file(Info(4, 1, 8, BI_RLE8, {0x000000, 0x123456}, 2), Bytes({2, 1, 0, 1}));
  ASSERT_TRUE(kxpng::ReadBmp(rle, img, why)) << why;
  EXPECT_EQ(img.Bits, 8);
  EXPECT_EQ(img.Rows, (std::vector<std::vector<uint8_t>>{{1, 1, 0, 0}}));
  EXPECT_EQ(img.Palette, (std::vector<uint8_t>{0, 0, 0, 0x12, 0x34, 0x56}));
  std::string rgb = file(Info(1, 1, 24, BI_RGB), Bytes({0x56, 0x34, 0x12, 0}));
  ASSERT_TRUE(kxpng::ReadBmp(rgb, img, why)) << why;
  EXPECT_EQ(img.Rows, (std::vector<std::vector<uint8_t>>{{0x12, 0x34, 0x56}}));
  EXPECT_FALSE(kxpng::ReadBmp(rgb.substr(0, rgb.size() - 2), img, why));  // pixels cut off
  EXPECT_EQ(why, "pixels run past the end of the file");
  // The colour table must end where the pixels begin.
  std::string info = Info(1, 1, 8, BI_RGB, {0, 0}, 2);
  EXPECT_FALSE(kxpng::ReadBmp(file(info, Bytes({1, 0, 0, 0}), uint32_t(14 + info.size() - 4)), img, why));
  EXPECT_EQ(why, "palette runs past the pixels");
}
