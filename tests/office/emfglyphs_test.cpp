// Text records of a page metafile taking the glyph places of the PDF.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "convert/emfbuild.h"
#include "office/emfglyphs.h"

using namespace kx;

namespace {
struct TText {
  int32_t X;
  std::vector<int32_t> Dx;
};

int32_t At(const std::string& b, size_t at) {
  int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

std::vector<TText> Texts(const std::string& emf) {
  std::vector<TText> r;
  for (size_t at = 0; at + 8 <= emf.size();) {
    uint32_t type = uint32_t(At(emf, at)), size = uint32_t(At(emf, at + 4));
    if (type == 84) {
      TText t{At(emf, at + 36), {}};
      uint32_t n = uint32_t(At(emf, at + 44)), off = uint32_t(At(emf, at + 72));
      for (uint32_t i = 0; i < n; ++i) t.Dx.push_back(At(emf, at + off + 4 * i));
      r.push_back(t);
    }
    at += size;
  }
  return r;
}

office::TkxPdfGlyph G(double x0, double x1, double baseline, const char* chars) {
  return {x0, x1, baseline, 8, chars};
}

// "ab fli" with a ligature on one line; "Yes" without its trailing blank and "No"
// on the next.
const office::TkxPdfPage kPage = {
    G(1000, 1180, 2000, "a"), G(1180, 1360, 2000, "b"), G(1360, 1450, 2000, " "), G(1450, 1630, 2000, "fl"),
    G(1630, 1710, 2000, "i"), G(5000, 5200, 3000, "Y"), G(5200, 5380, 3000, "e"), G(5380, 5530, 3000, "s"),
    G(6000, 6200, 3000, "N"), G(6200, 6380, 3000, "o"),
};
const std::vector<int32_t> kOldDx = {190, 190, 95, 182, 0, 82};
const std::vector<int32_t> kNewDx = {180, 180, 90, 180, 0, 80};
}  // namespace

TEST(PdfGlyphs, MetafileTextTakesThePdfPlaces) {
  kxtest::EmfBuilder b;
  b.HimetricMapping().Record(22, {24}).Font(1, -282, u"DejaVu Sans").Select(1);
  b.TextOut(1003, 2000, u"ab fli", kOldDx);             // ligature: its second letter advances 0
  b.TextOut(5004, 3000, u"Yes ", {205, 185, 150, 93});  // the blank the PDF did not draw keeps its advance
  b.TextOut(6000, 3000, u"Nope", {200, 180, 180, 180});  // spelt otherwise
  b.TextOut(9000, 2000, u"ab", {190, 190});              // nothing starts there
  // A rotated font, centred text and a state restored from before them.
  b.Record(82, {2, -282, 0, 900, 900, 400, 0, 0}).Select(2).TextOut(1003, 2000, u"ab fli", kOldDx).Select(1);
  b.Record(33, {}).Record(22, {24 | 6}).TextOut(1003, 2000, u"ab fli", kOldDx).Record(34, {-1});
  b.TextOut(1003, 2000, u"ab fli", kOldDx);
  std::string emf = b.Bytes();
  size_t size = emf.size();
  EXPECT_EQ(office::PlaceTextFromPdf(emf, kPage), 3);
  EXPECT_EQ(emf.size(), size);
  std::vector<TText> t = Texts(emf);
  ASSERT_EQ(t.size(), 7u);
  EXPECT_EQ(t[0].X, 1000);
  EXPECT_EQ(t[0].Dx, kNewDx);
  EXPECT_EQ(t[1].X, 5000);
  EXPECT_EQ(t[1].Dx, (std::vector<int32_t>{200, 180, 150, 93}));
  EXPECT_EQ(t[2].X, 6000);
  EXPECT_EQ(t[2].Dx, (std::vector<int32_t>{200, 180, 180, 180}));
  EXPECT_EQ(t[3].X, 9000);
  EXPECT_EQ(t[4].Dx, kOldDx);
  EXPECT_EQ(t[5].Dx, kOldDx);
  EXPECT_EQ(t[6].Dx, kNewDx);
}

TEST(PdfGlyphs, MetafileTextStaysInOtherUnitsOrWhenTruncated) {
  kxtest::EmfBuilder b;
  b.Record(17, {8}).Record(11, {96, 96}).Record(9, {1440, 1440});  // twips, not 0.01 mm
  b.Record(22, {24}).TextOut(1003, 2000, u"ab fli", kOldDx);
  std::string emf = b.Bytes();
  std::string before = emf;
  EXPECT_EQ(office::PlaceTextFromPdf(emf, kPage), 0);
  EXPECT_EQ(emf, before);
  // Cut inside the text record: nothing read past the end, nothing changed.
  kxtest::EmfBuilder c;
  c.HimetricMapping().Record(22, {24}).TextOut(1003, 2000, u"ab fli", kOldDx);
  std::string whole = c.Bytes();
  for (size_t cut : {whole.size() - 40, whole.size() - 30}) {
    std::string part = whole.substr(0, cut);
    std::string copy = part;
    office::PlaceTextFromPdf(part, kPage);
    EXPECT_EQ(part, copy);
  }
}
