// Pages of the PDF reader's output translated into metafiles: sizes to the pixel,
// text runs with fonts and directions, clipping, pens, images and translucency; and
// the pixels the player draws from them.
#include <gtest/gtest.h>

#include <cstdio>

#include <jpeglib.h>

#include "emf/emfpixels.h"
#include "emf/emfrecords.h"
#include "emf/emfwalk.h"
#include "emf/metafile.h"
#include "pdf/pdfpage.h"

using namespace kx;
using namespace kx::pdf;
using namespace kxtest;

namespace {

// A page of `w` x `h` points with the reader's usual start: its transformation and clip.
std::string PageStart(double w, double h) {
  char s[512];
  std::snprintf(s, sizeof s,
                "setPageNum 1\nstartPage %f %f\nupdateCtm 100 0 0 -100 0 %f\nupdateLineDash\n"
                "updateFillColor 0 0 0 1\nclipPath subpath 1 0 0 0 %f 0 0 %f %f 0 0 %f 0 0 0 0\n",
                w * 100, h * 100, h * 100, w, w, h, h);
  return s;
}

std::string OnePage(const std::string& body, const std::string& binary = "", double w = 100, double h = 100) {
  bool complete = false;
  std::vector<std::string> pages = TranslatePdfPages(PageStart(w, h) + body + "endPage\n", binary, &complete);
  EXPECT_TRUE(complete);
  return pages.empty() ? std::string() : pages[0];
}

std::string JpegBytes(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = JDIMENSION(w), c.image_height = JDIMENSION(h), c.input_components = 3, c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(size_t(w) * 3);
  for (int x = 0; x < w; ++x) row[size_t(x) * 3] = r, row[size_t(x) * 3 + 1] = g, row[size_t(x) * 3 + 2] = b;
  while (c.next_scanline < c.image_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  std::string out(reinterpret_cast<char*>(mem), size);
  jpeg_destroy_compress(&c);
  free(mem);
  return out;
}

}  // namespace

TEST(PdfPages, EveryPageHasItsOwnSizeToThePixel) {
  // Letter, A4, landscape Letter, A5 and a wide page, as LibreOffice's PDFs give them.
  std::string text = "setPageNum 5\n";
  double sizes[][2] = {
      {612, 792}, {595.303937, 841.889764}, {792, 612}, {419.527559, 595.275591}, {1133.858268, 425.19685}};
  for (auto& s : sizes) text += PageStart(s[0], s[1]).substr(13) + "endPage\n";
  bool complete = false;
  std::vector<std::string> pages = TranslatePdfPages(text, "", &complete);
  ASSERT_TRUE(complete);
  ASSERT_EQ(pages.size(), 5u);
  int expected[][2] = {{816, 1056}, {794, 1123}, {1056, 816}, {560, 794}, {1512, 567}};
  for (size_t i = 0; i < pages.size(); ++i) {
    TkxMetafile mf;
    mf.LoadFromBytes(pages[i]);
    EXPECT_EQ(mf.Width(), expected[i][0]) << i;
    EXPECT_EQ(mf.Height(), expected[i][1]) << i;
    // The frame is the page to within a pixel (0.265 mm).
    EXPECT_NEAR(mf.Header().FrameR / 100.0, sizes[i][0] * 25.4 / 72, 0.27) << i;
    EXPECT_NEAR(mf.Header().FrameB / 100.0, sizes[i][1] * 25.4 / 72, 0.27) << i;
  }
  // pdftoppm's rounding: up.
  EXPECT_EQ(PagePixels(940.507), 1255);
  EXPECT_EQ(PagePixels(612), 816);
}

TEST(PdfPages, TextRunsCarryWritersPlacesFontAndColour) {
  std::string emf = OnePage(
      "updateFillColor 1 0 0 1\n"
      "updateFont 14 1 0 0 0 1200.000000 0 ABCDEF+LiberationSerif-BoldItalic\n"
      "drawChar 10.000000 50.000000 18.208000 50.000000 1.000000 0.000000 0.000000 1.000000 12.000000 A\n"
      "drawChar 18.196000 50.000000 22.000000 50.000000 1.000000 0.000000 0.000000 1.000000 12.000000  \n"
      "drawChar 40.000000 50.000000 46.240000 50.000000 1.000000 0.000000 0.000000 1.000000 12.000000 fi\n"
      "drawChar 10.000000 30.000000 16.000000 30.000000 1.000000 0.000000 0.000000 1.000000 12.000000 x\n"
      "endTextObject\n");
  auto texts = EmfRecordsOf(emf, emf::EMR_EXTTEXTOUTW);
  ASSERT_EQ(texts.size(), 2u);  // one run per baseline
  EXPECT_EQ(EmfText(emf, texts[0]), u"A fi");
  EXPECT_EQ(EmfDx(emf, texts[0]), (std::vector<int32_t>{820, 2180, 624, 0}));
  EXPECT_EQ(EmfI32(emf, texts[0].Offset + emf::text::Reference), 1000);
  EXPECT_EQ(EmfI32(emf, texts[0].Offset + emf::text::Reference + 4), 5000);  // 100 - 50 pt from the top
  EXPECT_EQ(EmfU32(emf, texts[0].Offset + emf::text::Options), 0u);
  auto fonts = EmfRecordsOf(emf, emf::EMR_EXTCREATEFONTINDIRECTW);
  ASSERT_EQ(fonts.size(), 1u);
  EXPECT_EQ(EmfI32(emf, fonts[0].Offset + emf::font::Height), -1200);
  EXPECT_EQ(EmfI32(emf, fonts[0].Offset + emf::font::Weight), 700);
  EXPECT_EQ(emf[fonts[0].Offset + emf::font::Italic], 1);
  std::u16string face(reinterpret_cast<const char16_t*>(emf.data() + fonts[0].Offset + emf::font::FaceName), 16);
  EXPECT_EQ(face, u"Liberation Serif");
  auto colors = EmfRecordsOf(emf, emf::EMR_SETTEXTCOLOR);
  ASSERT_EQ(colors.size(), 1u);
  EXPECT_EQ(EmfU32(emf, colors[0].Offset + 8), 0x0000FFu);
  auto align = EmfRecordsOf(emf, emf::EMR_SETTEXTALIGN);
  ASSERT_EQ(align.size(), 1u);
  EXPECT_EQ(EmfU32(emf, align[0].Offset + 8), uint32_t(emf::TA_BASELINE));
}

TEST(PdfPages, RightToLeftRunsAreLogicalAndSplitFromDigits) {
  // "שלום 123" as LibreOffice's PDF of a right-to-left paragraph has it.
  std::string emf = OnePage(
      "updateFont 24 1 0 0 0 1400.000000 0 DejaVuSans\n"
      "drawChar 50.0 80.0 54.0 80.0 1 0 0 1 14  \n"
      "drawChar 54.0 80.0 63.0 80.0 1 0 0 1 14 ם\n"
      "drawChar 63.0 80.0 71.0 80.0 1 0 0 1 14 ו\n"
      "drawChar 71.0 80.0 75.0 80.0 1 0 0 1 14 ל\n"
      "drawChar 75.0 80.0 84.0 80.0 1 0 0 1 14 ש\n"
      "drawChar 20.0 80.0 28.0 80.0 1 0 0 1 14 1\n"
      "drawChar 28.0 80.0 36.0 80.0 1 0 0 1 14 2\n"
      "drawChar 36.0 80.0 44.0 80.0 1 0 0 1 14 3\n");
  auto texts = EmfRecordsOf(emf, emf::EMR_EXTTEXTOUTW);
  ASSERT_EQ(texts.size(), 2u);
  // The blank at its end is left out: readers that lay the string out from the left
  // would otherwise put it on the wrong side of the word.
  EXPECT_EQ(EmfText(emf, texts[0]), u"שלום");
  EXPECT_EQ(EmfU32(emf, texts[0].Offset + emf::text::Options), uint32_t(emf::ETO_RTLREADING));
  EXPECT_EQ(EmfI32(emf, texts[0].Offset + emf::text::Reference), 5400);  // the visual left end
  EXPECT_EQ(EmfDx(emf, texts[0]), (std::vector<int32_t>{900, 400, 800, 900}));
  EXPECT_EQ(EmfText(emf, texts[1]), u"123");
  EXPECT_EQ(EmfU32(emf, texts[1].Offset + emf::text::Options), 0u);
}

TEST(PdfPages, TurnedScaledAndSlantedText) {
  std::string emf = OnePage(
      "updateFont 14 1 0 0 0 2000.000000 0 LiberationSerif\n"
      "drawChar 50 20 50 33.32 0.000000 -1.000000 1.000000 0.000000 20.000000 R\n"  // up the page
      "drawChar 10 60 15 60 0.500000 0.000000 0.000000 1.000000 20.000000 S\n"      // half width
      "drawChar 10 90 16 90 1.000000 0.267949 0.000000 1.000000 20.000000 I\n"      // slanted
      "setTextRenderMode 3\n"
      "drawChar 10 10 16 10 1 0 0 1 20 hidden\n");
  auto fonts = EmfRecordsOf(emf, emf::EMR_EXTCREATEFONTINDIRECTW);
  ASSERT_EQ(fonts.size(), 3u);
  EXPECT_EQ(EmfI32(emf, fonts[0].Offset + emf::font::Escapement), 900);
  EXPECT_EQ(EmfI32(emf, fonts[0].Offset + emf::font::Height), -2000);
  int32_t width = EmfI32(emf, fonts[1].Offset + emf::font::Width);
  EXPECT_GT(width, 300);  // half of the face's average width at 20 pt (about 440)
  EXPECT_LT(width, 600);
  EXPECT_EQ(emf[fonts[1].Offset + emf::font::Italic], 0);
  EXPECT_EQ(emf[fonts[2].Offset + emf::font::Italic], 1);
  EXPECT_EQ(EmfI32(emf, fonts[2].Offset + emf::font::Width), 0);
  auto texts = EmfRecordsOf(emf, emf::EMR_EXTTEXTOUTW);
  ASSERT_EQ(texts.size(), 3u);  // invisible text is left out
  EXPECT_EQ(EmfDx(emf, texts[0]), std::vector<int32_t>{1332});
}

TEST(PdfPages, ClipsNestWithTheStatesAndCropPictures) {
  // A 2 x 2 picture (red, green / blue, white) over the whole page, clipped to its top-left
  // quarter inside a saved state; then a black square outside any clip.
  std::string ppm = std::string("P6\n2 2\n255\n") + std::string("\xff\0\0\0\xff\0\0\0\xff\xff\xff\xff", 12);
  std::string emf = OnePage(
      "saveState\n"
      "eoClipPath subpath 1 0 37.5 0 37.5 37.5 0 37.5 75 0 0 75 0 0 37.5 0\n"
      "saveState\n"
      "updateCtm 7500 0 0 -7500 0 7500\n"
      "drawImage 2 2 0 PPM 23\n"
      "restoreState\n"
      "restoreState\n"
      "fillPath subpath 1 50 10 0 70 10 0 70 40 0 50 40 0\n",
      ppm, 75, 75);
  auto all = EmfRecords(emf);
  int depth = 0, most = 0;
  for (const EmfRecord& r : all) {
    if (r.Type == emf::EMR_SAVEDC) most = std::max(most, ++depth);
    if (r.Type == emf::EMR_RESTOREDC) --depth;
  }
  EXPECT_EQ(depth, 1);  // the page's own clip stays to the end
  EXPECT_EQ(most, 2);
  ASSERT_EQ(EmfRecordsOf(emf, emf::EMR_STRETCHDIBITS).size(), 1u);
  EmfPixels p(emf);                    // 100 x 100 pixels
  EXPECT_EQ(p.At(20, 20), 0xFF0000u);  // the picture's red quarter
  EXPECT_EQ(p.At(80, 20), 0xFFFFFFu);  // its green quarter is cropped away
  EXPECT_EQ(p.At(20, 80), 0xFFFFFFu);  // and its blue one
  EXPECT_EQ(p.At(80, 70), 0x000000u);  // the square after the restore is not clipped
}

TEST(PdfPages, PensFollowWidthDashCapAndJoin) {
  std::string emf = OnePage(
      "updateStrokeColor 0 0 1 1\nupdateLineWidth 2\nupdateLineCap 1\nupdateLineJoin 2\n"
      "updateLineDash 0 2 6 3\n"
      "strokePath subpath 0 10 10 0 90 10 0\n"
      "updateLineDash\nupdateLineWidth 0\nupdateLineCap 0\nupdateLineJoin 0\n"
      "strokePath subpath 0 10 20 0 90 20 0 80 30 1 70 40 1 60 50 0\n");
  auto pens = EmfRecordsOf(emf, emf::EMR_EXTCREATEPEN);
  ASSERT_EQ(pens.size(), 2u);
  uint32_t style = EmfU32(emf, pens[0].Offset + emf::extpen::Style);
  EXPECT_EQ(style, emf::PS_GEOMETRIC | emf::PS_ENDCAP_ROUND | emf::PS_JOIN_BEVEL | uint32_t(emf::PS_USERSTYLE));
  EXPECT_EQ(EmfU32(emf, pens[0].Offset + emf::extpen::Width), 200u);
  EXPECT_EQ(EmfU32(emf, pens[0].Offset + emf::extpen::Color), 0xFF0000u);
  ASSERT_EQ(EmfU32(emf, pens[0].Offset + emf::extpen::NumEntries), 2u);
  EXPECT_EQ(EmfU32(emf, pens[0].Offset + emf::extpen::Entries), 600u);
  EXPECT_EQ(EmfU32(emf, pens[0].Offset + emf::extpen::Entries + 4), 300u);
  // A zero width is the device's thinnest line.
  EXPECT_EQ(EmfU32(emf, pens[1].Offset + emf::extpen::Style), uint32_t(emf::PS_COSMETIC));
  EXPECT_EQ(EmfU32(emf, pens[1].Offset + emf::extpen::Width), 1u);
  auto curves = EmfRecordsOf(emf, emf::EMR_POLYBEZIERTO);
  ASSERT_EQ(curves.size(), 1u);
  EXPECT_EQ(EmfU32(emf, curves[0].Offset + 24), 3u);
  EXPECT_EQ(EmfRecordsOf(emf, emf::EMR_STROKEPATH).size(), 2u);
}

TEST(PdfPages, ImagesOfEveryFormatAndTranslucency) {
  // A JPEG, a PNG with a soft mask, a stencil in the fill colour, an image turned a quarter,
  // and a half-transparent fill.
  std::string jpeg = JpegBytes(16, 8, 0, 0, 255);
  std::string png = PngFromRgba(2, 1, {0, 255, 0, 255, 0, 255, 0, 0});
  std::string ppm = std::string("P6\n1 1\n255\n\xff\0\0", 14);
  char body[1024];
  std::snprintf(body, sizeof body,
                "saveState\nupdateCtm 1500 0 0 -750 0 2250\ndrawImage 16 8 0 JPEG %zu\nrestoreState\n"
                "saveState\nupdateCtm 1500 0 0 -750 3000 2250\ndrawImage 2 1 0 PNG %zu\nrestoreState\n"
                "saveState\nupdateCtm 0 -1500 -1500 0 6000 4500\ndrawImage 1 1 0 PPM %zu\nrestoreState\n"
                "updateFillColor 0 0 0 0.5\nfillPath subpath 1 0 0 0 20 0 0 20 20 0 0 20 0\n",
                jpeg.size(), png.size(), ppm.size());
  std::string emf = OnePage(body, jpeg + png + ppm, 100, 100);
  // Each picture with alpha comes first as a PNG, for readers without ALPHABLEND.
  std::vector<EmfRecord> dibs, twins;
  for (const EmfRecord& r : EmfRecordsOf(emf, emf::EMR_STRETCHDIBITS))
    (EmfU32(emf, r.Offset + emf::stretchdib::MinSize + 16) == emf::BI_PNG ? twins : dibs).push_back(r);
  ASSERT_EQ(dibs.size(), 2u);
  EXPECT_EQ(twins.size(), 2u);
  EXPECT_EQ(EmfI32(emf, dibs[0].Offset + emf::stretchdib::CxSrc), 16);
  EXPECT_EQ(EmfI32(emf, dibs[0].Offset + emf::stretchdib::CxDest), 1500);
  EXPECT_EQ(EmfI32(emf, dibs[0].Offset + emf::stretchdib::CyDest), 750);
  EXPECT_EQ(EmfI32(emf, dibs[0].Offset + emf::stretchdib::YDest), 1500);
  auto blends = EmfRecordsOf(emf, emf::EMR_ALPHABLEND);
  ASSERT_EQ(blends.size(), 2u);  // the soft-masked PNG and the translucent fill
  EXPECT_EQ(EmfI32(emf, blends[1].Offset + emf::blt::CxDest), 2000);
  EXPECT_EQ(EmfRecordsOf(emf, emf::EMR_SETWORLDTRANSFORM).size(), 1u);  // the turned one
  EmfPixels p(emf);
  uint32_t jpegPixel = p.At(10, 25);
  EXPECT_LT(jpegPixel >> 16, 0x20u);  // blue
  EXPECT_GT(jpegPixel & 0xFF, 0xE0u);
  EXPECT_EQ(p.At(42, 25), 0x00FF00u);             // the PNG's opaque half
  EXPECT_EQ(p.At(58, 25), 0xFFFFFFu);             // and its transparent one
  EXPECT_EQ(p.At(70, 50), 0xFF0000u);             // the turned picture lies at (60..80, 40..60)
  EXPECT_NEAR(int(p.At(5, 120) & 0xFF), 127, 3);  // half-transparent black over white
}

TEST(PdfPages, BrokenOutputKeepsThePagesBeforeIt) {
  std::string text = "setPageNum 2\n" + PageStart(100, 100).substr(13) + "endPage\n" + PageStart(100, 100).substr(13) +
                     "drawImage 4 4 0 PNG 99\nendPage\n";
  bool complete = true;
  std::vector<std::string> pages = TranslatePdfPages(text, "short", &complete);
  EXPECT_FALSE(complete);
  EXPECT_EQ(pages.size(), 1u);
  EXPECT_TRUE(TranslatePdfPages("", "", &complete).empty());
  EXPECT_TRUE(complete);
}

TEST(PdfPages, PicturesKeepTheResolutionTheirPlaceNeeds) {
  // A 64 x 64 JPEG and a 200 x 200 PNG, each shown 5 pt wide: 300 dpi there are 21 pixels.
  std::string jpeg = JpegBytes(64, 64, 255, 0, 0);
  std::string png = PngFromRgba(200, 200, std::vector<uint8_t>(200 * 200 * 4, 255));
  char body[512];
  std::snprintf(body, sizeof body,
                "saveState\nupdateCtm 500 0 0 -500 0 1000\ndrawImage 64 64 0 JPEG %zu\nrestoreState\n"
                "saveState\nupdateCtm 500 0 0 -500 1000 1000\ndrawImage 200 200 0 PNG %zu\nrestoreState\n",
                jpeg.size(), png.size());
  std::string emf = OnePage(body, jpeg + png);
  auto dibs = EmfRecordsOf(emf, emf::EMR_STRETCHDIBITS);
  ASSERT_EQ(dibs.size(), 2u);
  EXPECT_EQ(EmfI32(emf, dibs[0].Offset + emf::stretchdib::CxSrc), 24);  // decoded at 3/8 of its size
  EXPECT_EQ(EmfI32(emf, dibs[1].Offset + emf::stretchdib::CxSrc), 25);  // halved while twice the need
  EXPECT_EQ(EmfI32(emf, dibs[1].Offset + emf::stretchdib::CxDest), 500);
}

TEST(PdfPages, SymbolFontCodesBecomeTheCharactersTheyShow) {
  // Writer's PDF names the glyphs of the symbol fonts by their codes (U+F000 plus the
  // code). Without the glyphs Writer drew (no program embedded here) nothing tells the
  // font apart, and the codes read as the Symbol font's; no private-use code remains.
  std::string emf = OnePage(
      "updateFont 24 0 0 0 0 1200.000000 0 GAAAAA+OpenSymbol\n"
      "drawChar 10 50 16 50 1 0 0 1 12 \xEF\x82\xB7\n"
      "drawChar 16 50 22 50 1 0 0 1 12 \xEF\x82\xA7\n"
      "drawChar 22 50 28 50 1 0 0 1 12 \xEF\x83\x98\n"
      "drawChar 28 50 34 50 1 0 0 1 12 \xEF\x80\xA1\n"  // a code with no glyph of its own
      "drawChar 34 50 40 50 1 0 0 1 12 \xE2\x80\xA2\n"
      "updateFont 24 0 0 0 0 1200.000000 0 DejaVuSans\n"
      "drawChar 10 30 16 30 1 0 0 1 12 \xEF\x82\xB7\n");
  auto texts = EmfRecordsOf(emf, emf::EMR_EXTTEXTOUTW);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(EmfText(emf, texts[0]), u"\u2022\u2663\u00AC!\u2022");
  EXPECT_EQ(EmfText(emf, texts[1]), u"\u2022");
}
