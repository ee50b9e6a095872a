// The PDF reader's output read back into operations: lines as LibreOffice's
// xpdfimport writes them (captured from real documents), and binary parts taken in turn.
#include <gtest/gtest.h>

#include "pdf/pdfops.h"

using namespace kx::pdf;

namespace {

struct Recorder : TkxPdfSink {
  std::vector<std::string> Ops;
  std::vector<TkxPdfChar> Chars;
  std::vector<TkxPdfPath> Paths;
  std::vector<TkxPdfImage> Images;
  std::vector<TkxPdfFont> Fonts;
  std::vector<double> Dash;
  double Phase = -1, Ctm[6] = {};
  void StartPage(double w, double h) override {
    Ops.push_back("page " + std::to_string(int(w)) + " " + std::to_string(int(h)));
  }
  void EndPage() override { Ops.push_back("end"); }
  void SaveState() override { Ops.push_back("save"); }
  void RestoreState() override { Ops.push_back("restore"); }
  void SetCtm(const double (&m)[6]) override { std::copy(m, m + 6, Ctm); }
  void SetLineDash(double phase, const std::vector<double>& d) override { Phase = phase, Dash = d; }
  void SetFont(const TkxPdfFont& f) override { Fonts.push_back(f); }
  void DrawChar(const TkxPdfChar& c) override { Chars.push_back(c); }
  void Stroke(const TkxPdfPath& p) override { Ops.push_back("stroke"), Paths.push_back(p); }
  void Fill(const TkxPdfPath& p, bool eo) override { Ops.push_back(eo ? "eofill" : "fill"), Paths.push_back(p); }
  void Clip(const TkxPdfPath& p, bool eo) override { Ops.push_back(eo ? "eoclip" : "clip"), Paths.push_back(p); }
  void DrawImage(const TkxPdfImage& i) override { Ops.push_back(i.Stencil ? "mask" : "image"), Images.push_back(i); }
};

}  // namespace

TEST(PdfOps, PagesStatesPathsAndText) {
  std::string text =
      "setPageNum 1\n"
      "startPage 61200.000000 79200.000000\n"
      "updateCtm 100.000000 0.000000 0.000000 -100.000000 0.000000 79200.000000\n"
      "updateLineDash\n"
      "clipPath subpath 1 0.000000 0.000000 0 612.000000 0.000000 0 612.000000 792.000000 0\n"
      "saveState\n"
      "updateLineDash 1.000000 2 6.000000 3.000000\n"
      "strokePath subpath 0 50.000000 250.000000 0 500.000000 250.000000 0 300.000000 200.000000 1 "
      "400.000000 150.000000 1 500.000000 100.000000 0 subpath 1 1.0 2.0 0 3.0 4.0 0\n"
      "eoFillPath subpath 1 1.0 1.0 0 2.0 1.0 0 2.0 2.0 0\n"
      "updateFont 14 1 0 1 0 1200.000000 5 ABCDEF+DejaVuSans-Oblique\n"
      "drawChar 72.100000 708.800000 80.308000 708.800000 1.000000 0.000000 0.000000 1.000000 12.000000 A\n"
      "drawChar 80.296000 708.800000 84.100000 708.800000 1.000000 0.000000 0.000000 1.000000 12.000000  \n"
      "drawChar 178.04 763.489 183.58 763.489 1.000000 0.267949 0.000000 1.000000 20.000000 \\\\\n"
      "drawChar 1 2 3 4 0.000000 -1.000000 1.000000 0.000000 10.000000 \n"
      "drawChar 1 2 3\n"  // cut short: skipped
      "someFutureOperation 1 2\n"
      "restoreState\n"
      "endPage\n";
  Recorder r;
  EXPECT_TRUE(ReadPdfOps(text, "fontx", r));
  EXPECT_EQ(r.Ops,
            (std::vector<std::string>{"page 61200 79200", "clip", "save", "stroke", "eofill", "restore", "end"}));
  EXPECT_EQ(r.Ctm[3], -100);
  EXPECT_EQ(r.Ctm[5], 79200);
  EXPECT_EQ(r.Phase, 1);
  EXPECT_EQ(r.Dash, (std::vector<double>{6, 3}));
  // The stroke: an open subpath with a curve, then a closed one.
  const TkxPdfPath& s = r.Paths[1];
  ASSERT_EQ(s.size(), 2u);
  EXPECT_FALSE(s[0].Closed);
  ASSERT_EQ(s[0].Points.size(), 5u);
  EXPECT_TRUE(s[0].Points[2].Control && s[0].Points[3].Control && !s[0].Points[4].Control);
  EXPECT_EQ(s[0].Points[4].X, 500);
  EXPECT_TRUE(s[1].Closed);
  ASSERT_EQ(r.Fonts.size(), 1u);
  EXPECT_EQ(r.Fonts[0].Name, "ABCDEF+DejaVuSans-Oblique");
  EXPECT_TRUE(r.Fonts[0].Italic);
  EXPECT_EQ(r.Fonts[0].Size, 1200);
  ASSERT_EQ(r.Chars.size(), 4u);
  EXPECT_EQ(r.Chars[0].Text, "A");
  EXPECT_DOUBLE_EQ(r.Chars[0].X1, 80.308);
  EXPECT_EQ(r.Chars[1].Text, " ");
  EXPECT_EQ(r.Chars[2].Text, "\\");          // the reader's escape undone
  EXPECT_DOUBLE_EQ(r.Chars[2].C, 0.267949);  // written as a, c, b, d
  EXPECT_EQ(r.Chars[2].B, 0);
  EXPECT_EQ(r.Chars[3].Text, "");  // a glyph without characters
  EXPECT_EQ(r.Chars[3].B, 1);
  EXPECT_EQ(r.Chars[3].C, -1);
}

TEST(PdfOps, BinaryPartsAreTakenInTheOrderTheLinesAnnounceThem) {
  // A font of 3 bytes, a JPEG of 4, a colour-keyed PPM of 2 and its 6 key bytes, a stencil of 1.
  std::string text =
      "setPageNum 1\n"
      "startPage 100 100\n"
      "updateFont 1 1 0 0 0 1000.000000 3 F\n"
      "drawImage 600 401 0 JPEG 4\n"
      "updateFont 1 1 0 0 0 1000.000000 0 F\n"
      "drawImage 2 2 6 PPM 2\n"
      "drawMask 8 2 1 PNG 1\n"
      "endPage\n";
  std::string binary = "fffJJJJPPkkkkkkM";
  Recorder r;
  ASSERT_TRUE(ReadPdfOps(text, binary, r));
  ASSERT_EQ(r.Images.size(), 3u);
  EXPECT_EQ(r.Images[0].Format, TkxPdfImageFormat::Jpeg);
  EXPECT_EQ(r.Images[0].Width, 600);
  EXPECT_EQ(r.Images[0].Bytes, "JJJJ");
  EXPECT_EQ(r.Images[1].Format, TkxPdfImageFormat::Ppm);
  EXPECT_EQ(r.Images[1].Bytes, "PP");
  EXPECT_EQ(r.Images[1].MaskColors, "kkkkkk");
  EXPECT_TRUE(r.Images[2].Stencil);
  EXPECT_TRUE(r.Images[2].Invert);
  EXPECT_EQ(r.Images[2].Bytes, "M");
  // One byte short: the reading stops there, and says so.
  Recorder cut;
  EXPECT_FALSE(ReadPdfOps(text, binary.substr(0, binary.size() - 1), cut));
  EXPECT_EQ(cut.Images.size(), 2u);
}

TEST(PdfOps, OutputThatEndsEarlyOrMissesPagesIsIncomplete) {
  Recorder a;
  EXPECT_FALSE(ReadPdfOps("setPageNum 1\nstartPage 100 100\nsaveState\n", "", a));  // inside a page
  Recorder b;
  EXPECT_FALSE(ReadPdfOps("setPageNum 2\nstartPage 100 100\nendPage\n", "", b));  // one of two pages
  Recorder c;
  EXPECT_TRUE(ReadPdfOps("setPageNum 1\nstartPage 100 100\nendPage\n", "", c));
  Recorder d;
  EXPECT_FALSE(ReadPdfOps("setPageNum 1\nstartPage 100 100\nupdateFont 1 1 0 0 0 10 9 F\nendPage\n", "", d));
}
