// Text records drawn by the player against references that are right by construction:
// right-to-left and mixed records against their letters placed one by one where they
// belong, shaped Arabic against HarfBuzz's shaping of the same string drawn by cairo.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <gtest/gtest.h>
#include <hb.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

#include "convert/emfbuild.h"
#include "emf/canvas.h"
#include "emf/emfrecords.h"
#include "emf/lockedface.h"

using namespace kx::emf;
using kxtest::Canvas;
using kxtest::EmfBuilder;

namespace {

constexpr int32_t kLeft = 300, kBaseline = 605;  // 30 px; the baseline lands on row 60
constexpr double kEm = 20;                       // pixels: a font height of -200 units

// A page of 192 x 96 pixels, ten logical units to a pixel, with the font selected.
EmfBuilder Page(const std::u16string& face = u"DejaVu Sans", int32_t escapement = 0) {
  EmfBuilder b(5080, 2540, 9600, 9600, 2540, 2540);
  b.PixelMapping(10).Font(1, -200, face, 400, false, escapement).Select(1);
  b.Record(EMR_SETTEXTALIGN, {TA_BASELINE});
  return b;
}

// Each character alone, left to right in `visual` order (indices into the string), each
// taking the advance it has in the record.
EmfBuilder OneByOne(const std::u16string& s, const std::vector<int32_t>& dx, const std::vector<size_t>& visual) {
  EmfBuilder b = Page();
  int32_t x = kLeft;
  for (size_t i : visual) {
    b.TextOut(x, kBaseline, s.substr(i, 1), {dx[i]});
    x += dx[i];
  }
  return b;
}

std::vector<size_t> Order(std::initializer_list<size_t> l) { return l; }

// HarfBuzz's shaping of `s` in `dir` with the font file fontconfig finds for the family,
// drawn by cairo from the left end at the baseline; the advance of each character in
// logical units (a cluster's on its first character) comes back in `dx`.
void Shaped(Canvas& c, const char* family, const std::u16string& s, hb_direction_t dir, std::vector<int32_t>& dx) {
  FcPattern* p = FcNameParse(reinterpret_cast<const FcChar8*>(family));
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult res;
  FcPattern* m = FcFontMatch(nullptr, p, &res);
  FcChar8* file = nullptr;
  int index = 0;
  ASSERT_TRUE(m && FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch);
  FcPatternGetInteger(m, FC_INDEX, 0, &index);
  hb_blob_t* blob = hb_blob_create_from_file(reinterpret_cast<const char*>(file));
  hb_face_t* face = hb_face_create(blob, unsigned(index));
  hb_font_t* font = hb_font_create(face);
  hb_buffer_t* buf = hb_buffer_create();
  hb_buffer_add_utf16(buf, reinterpret_cast<const uint16_t*>(s.data()), int(s.size()), 0, int(s.size()));
  hb_buffer_set_direction(buf, dir);
  hb_buffer_guess_segment_properties(buf);
  hb_shape(font, buf, nullptr, 0);
  unsigned n = 0;
  hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf, &n);
  hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buf, nullptr);
  double scale = kEm / hb_face_get_upem(face);
  std::vector<cairo_glyph_t> glyphs;
  std::vector<double> adv(s.size(), 0);
  double pen = kLeft / 10.0;
  for (unsigned i = 0; i < n; ++i) {
    glyphs.push_back({info[i].codepoint, pen + pos[i].x_offset * scale, 60 - pos[i].y_offset * scale});
    pen += pos[i].x_advance * scale;
    adv[info[i].cluster] += pos[i].x_advance * scale;
  }
  dx.clear();
  for (double a : adv) dx.push_back(int32_t(std::lround(a * 10)));
  c.UseFont(family, kEm);
  cairo_glyph_path(c.Context(), glyphs.data(), int(glyphs.size()));
  cairo_fill(c.Context());
  hb_buffer_destroy(buf);
  hb_font_destroy(font);
  hb_face_destroy(face);
  hb_blob_destroy(blob);
  FcPatternDestroy(m);
  FcPatternDestroy(p);
}

}  // namespace

TEST(PlayerText, HebrewReadsRightToLeftAtItsAdvances) {
  const std::u16string word = u"\u05e9\u05dc\u05d5\u05dd";  // shalom, in logical order
  const std::vector<int32_t> dx = {130, 110, 60, 120};
  Canvas drawn(192, 96), right(192, 96), reversed(192, 96);
  EXPECT_EQ(drawn.Play(Page().TextOut(kLeft, kBaseline, word, dx, ETO_RTLREADING).Bytes()).Glyphs, 4);
  right.Play(OneByOne(word, dx, Order({3, 2, 1, 0})).Bytes());
  reversed.Play(OneByOne(word, dx, Order({0, 1, 2, 3})).Bytes());
  EXPECT_LT(drawn.Difference(right), 0.1);
  EXPECT_GT(drawn.Difference(reversed), 0.5);
  // The record spans from its reference point to the sum of its advances.
  Canvas::Box box = drawn.InkBox();
  EXPECT_GE(box.L, 30);
  EXPECT_LE(box.R, 30 + 42 + 2);
}

TEST(PlayerText, MixedRecordsAreReorderedAsTheBidirectionalAlgorithmSays) {
  // Left to right with a Hebrew word inside: "ab " then the word reversed, then " cd".
  const std::u16string mixed = u"ab \u05e9\u05dc\u05d5\u05dd cd";
  const std::vector<int32_t> dx = {120, 120, 60, 130, 110, 60, 120, 60, 120, 120};
  Canvas drawn(192, 96), right(192, 96);
  drawn.Play(Page().TextOut(kLeft, kBaseline, mixed, dx).Bytes());
  right.Play(OneByOne(mixed, dx, Order({0, 1, 2, 6, 5, 4, 3, 7, 8, 9})).Bytes());
  EXPECT_LT(drawn.Difference(right), 0.1);
  // Right to left with digits: the digits keep their own order, on the left.
  const std::u16string number = u"\u05e9\u05dc\u05d5\u05dd 12";
  const std::vector<int32_t> ndx = {130, 110, 60, 120, 60, 110, 110};
  Canvas drawnN(192, 96), rightN(192, 96), plainN(192, 96);
  drawnN.Play(Page().TextOut(kLeft, kBaseline, number, ndx, ETO_RTLREADING).Bytes());
  rightN.Play(OneByOne(number, ndx, Order({5, 6, 4, 3, 2, 1, 0})).Bytes());
  plainN.Play(OneByOne(number, ndx, Order({6, 5, 4, 3, 2, 1, 0})).Bytes());  // reversed as a whole
  EXPECT_LT(drawnN.Difference(rightN), 0.1);
  EXPECT_GT(drawnN.Difference(plainN), 0.3);
}

TEST(PlayerText, ArabicIsJoinedAndPlacedAsHarfBuzzShapesIt) {
  const std::u16string word = u"\u0633\u0644\u0627\u0645";  // salam: seen, lam, alef, meem
  Canvas reference(192, 96), drawn(192, 96);
  std::vector<int32_t> dx;
  Shaped(reference, "DejaVu Sans", word, HB_DIRECTION_RTL, dx);
  ASSERT_EQ(dx.size(), 4u);
  EXPECT_EQ(dx[2], 0);  // lam and alef make one glyph, whose advance the lam carries
  kx::TkxEmfPlayStats st = drawn.Play(Page().TextOut(kLeft, kBaseline, word, dx, ETO_RTLREADING).Bytes());
  EXPECT_EQ(st.Glyphs, 3);
  EXPECT_LT(drawn.Difference(reference), 0.1);
  // The same letters unjoined, one record each, look different.
  Canvas apart(192, 96);
  apart.Play(OneByOne(word, {90, 90, 90, 90}, Order({3, 2, 1, 0})).Bytes());
  EXPECT_GT(drawn.Difference(apart), 0.3);
  // A face without Arabic letters: a face that has them shapes the word all the same.
  Canvas fallback(192, 96);
  EXPECT_EQ(fallback.Play(Page(u"Liberation Serif").TextOut(kLeft, kBaseline, word, dx, ETO_RTLREADING).Bytes()).Glyphs,
            3);
  // Without an advance array the font's advances lay it out the same way.
  Canvas natural(192, 96);
  natural.Play(Page().TextOut(kLeft, kBaseline, word, {}, ETO_RTLREADING).Bytes());
  EXPECT_LT(natural.Difference(reference), 0.1);
}

TEST(PlayerText, ArabicBesideHebrewInOneRecordIsShapedByItsOwnScript) {
  // Right to left, the Hebrew word first: it stands on the right, the Arabic on the left.
  const std::u16string arabic = u"\u0633\u0644\u0627\u0645", hebrew = u"\u05e9\u05dc\u05d5\u05dd";
  const std::vector<int32_t> hdx = {130, 110, 60, 120};
  Canvas reference(192, 96), drawn(192, 96);
  std::vector<int32_t> adx;
  Shaped(reference, "DejaVu Sans", arabic, HB_DIRECTION_RTL, adx);
  ASSERT_EQ(adx.size(), 4u);
  int32_t x = kLeft + 60;
  for (int32_t a : adx) x += a;
  EmfBuilder letters = Page();
  for (size_t i : Order({3, 2, 1, 0})) {
    letters.TextOut(x, kBaseline, hebrew.substr(i, 1), {hdx[i]});
    x += hdx[i];
  }
  reference.Play(letters.Bytes());
  std::vector<int32_t> dx(hdx.size() + 1 + adx.size(), 60);  // the blank's between the words
  std::copy(hdx.begin(), hdx.end(), dx.begin());
  std::copy(adx.begin(), adx.end(), dx.begin() + long(hdx.size()) + 1);
  // Four Hebrew letters, the blank, and the Arabic word's three glyphs (lam and alef
  // joined into one).
  EXPECT_EQ(drawn.Play(Page().TextOut(kLeft, kBaseline, hebrew + u" " + arabic, dx, ETO_RTLREADING).Bytes()).Glyphs, 8);
  EXPECT_LT(drawn.Difference(reference), 0.1);
}

TEST(PlayerText, ABaselineAUnitShortOfAPixelRowStandsOnThatRow) {
  // 75 logical units to a pixel, as pages are written: a baseline rounded one unit short
  // of row 40 is drawn on row 40, three units short on the row above.
  auto inkBottom = [](int32_t baseline) {
    EmfBuilder b(5080, 2540, 9600, 9600, 2540, 2540);
    b.PixelMapping(75).Font(1, -1500, u"DejaVu Sans").Select(1).Record(EMR_SETTEXTALIGN, {TA_BASELINE});
    Canvas c(192, 96);
    c.Play(b.TextOut(750, baseline, u"HHH", {}).Bytes());
    return c.InkBox(1).B;
  };
  const int onRow = inkBottom(40 * 75);
  EXPECT_EQ(inkBottom(40 * 75 - 1), onRow);
  EXPECT_EQ(inkBottom(40 * 75 - 3), onRow - 1);
  EXPECT_EQ(inkBottom(40 * 75 + 73), onRow);  // below the row, up to the slack
}

TEST(PlayerText, EscapementTurnsTheLineAndPairsOfSurrogatesAreOneCharacter) {
  // Turned by 90 degrees the line runs upwards from the reference point, the letters on
  // its left.
  Canvas turned(192, 96);
  turned.Play(Page(u"DejaVu Sans", 900).TextOut(600, 800, u"HHHH", {150, 150, 150, 150}).Bytes());
  Canvas::Box box = turned.InkBox();
  EXPECT_LE(box.R, 61);
  EXPECT_GE(box.L, 60 - 20);
  EXPECT_LE(box.B, 80);
  EXPECT_LE(box.T, 80 - 55);
  EXPECT_GT(box.B - box.T, 3 * (box.R - box.L));
  // A character beyond the basic plane: one glyph, with the advances of both halves.
  Canvas wide(192, 96);
  EXPECT_EQ(
      wide.Play(Page(u"DejaVu Serif").TextOut(kLeft, kBaseline, u"A\U0001D400B", {150, 200, 50, 150}).Bytes()).Glyphs,
      3);
  Canvas::Box b = wide.InkBox();
  EXPECT_GE(b.R, 30 + 40 + 10);  // B starts 40 pixels after the A
  EXPECT_LE(b.R, 30 + 40 + 15);
}

TEST(PlayerText, LigaturesMarksAndAverageWidthsAreDrawnAsTheFaceDrawsThem) {
  // A ligature arrives as its letters, the first with the whole advance ("ti" in Carlito,
  // as Writer's PDF gives it): one glyph where HarfBuzz makes one, not a "t" and an "i"
  // pushed into the next letter.
  const std::u16string word = u"equation";
  Canvas reference(192, 96), drawn(192, 96);
  std::vector<int32_t> dx;
  Shaped(reference, "Carlito", word, HB_DIRECTION_LTR, dx);
  ASSERT_EQ(dx[5], 0);  // the font joins "ti"
  EXPECT_EQ(drawn.Play(Page(u"Carlito").TextOut(kLeft, kBaseline, word, dx).Bytes()).Glyphs, 7);
  EXPECT_LT(drawn.Difference(reference), 0.1);
  // A letter and its combining mark, the mark without an advance: the mark over its letter.
  Canvas marked(192, 96), composed(192, 96);
  Shaped(composed, "DejaVu Sans", u"\u00E9t\u00E9", HB_DIRECTION_LTR, dx);
  std::vector<int32_t> decomposed = {dx[0], 0, dx[1], dx[2], 0};
  marked.Play(Page().TextOut(kLeft, kBaseline, u"e\u0301te\u0301", decomposed).Bytes());
  EXPECT_LT(marked.Difference(composed), 0.1);
  // A font asking for its face's own average character width (the OS/2 table's, as
  // writers measure it) draws as one asking for none; half of it, half as wide.
  auto widthOf = [](int32_t width) {
    std::string emf = Page(u"OpenSymbol").TextOut(kLeft, kBaseline, u"\u2211\u2211\u2211\u2211", {}).Bytes();
    for (size_t at = 0; at + 8 <= emf.size();) {
      uint32_t type, size;
      std::memcpy(&type, &emf[at], 4), std::memcpy(&size, &emf[at + 4], 4);
      if (type == EMR_EXTCREATEFONTINDIRECTW) std::memcpy(&emf[at + font::Width], &width, 4);
      at += std::max<uint32_t>(size, 8);
    }
    auto c = std::make_unique<Canvas>(192, 96);
    c->Play(emf);
    return c;
  };
  Canvas probe(8, 8);
  int32_t average = 0;
  if (kx::TkxLockedFace ft(probe.UseFont("OpenSymbol", kEm)); ft) {
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft.Face(), FT_SFNT_OS2));
    ASSERT_TRUE(os2 && os2->xAvgCharWidth > 0);
    average = int32_t(std::lround(200.0 * os2->xAvgCharWidth / ft.Face()->units_per_EM));
  }
  ASSERT_GT(average, 0);
  auto natural = widthOf(0), same = widthOf(average), half = widthOf(average / 2);
  EXPECT_LT(same->Difference(*natural), 0.05);
  int fullInk = natural->InkBox().R - natural->InkBox().L, halfInk = half->InkBox().R - half->InkBox().L;
  EXPECT_NEAR(halfInk, fullInk / 2.0, 2.0);
}

TEST(PlayerText, FaceNamesAsPdfsWriteThemFindTheirFamilyWeightAndSlant) {
  auto draw = [](const std::u16string& face, int32_t weight, bool italic) {
    EmfBuilder b(5080, 2540, 9600, 9600, 2540, 2540);
    b.PixelMapping(10).Font(1, -200, face, weight, italic, 0).Select(1);
    b.Record(EMR_SETTEXTALIGN, {TA_BASELINE});
    auto c = std::make_unique<Canvas>(192, 96);
    c->Play(b.TextOut(kLeft, kBaseline, u"Hamburg", {}).Bytes());
    return c;
  };
  auto bold = draw(u"DejaVu Sans", 700, false), boldItalic = draw(u"DejaVu Sans", 700, true);
  auto plain = draw(u"DejaVu Sans", 400, false);
  EXPECT_LT(draw(u"ABCDEF+DejaVuSans-Bold", 400, false)->Difference(*bold), 0.05);
  EXPECT_LT(draw(u"DejaVuSans-BoldOblique", 400, false)->Difference(*boldItalic), 0.05);
  EXPECT_LT(draw(u"DejaVuSans", 700, true)->Difference(*boldItalic), 0.05);  // the record's own style counts
  EXPECT_GT(draw(u"DejaVuSans-Bold", 400, false)->Difference(*plain), 0.2);
  EXPECT_LT(draw(u"DejaVu Sans", 400, false)->Difference(*plain), 0.01);  // names with blanks as they are
}

TEST(TextThreads, PagesOfTextDrawnOnFourThreadsAtOnceMatchOneDrawnAlone) {
  // Each thread draws with faces of its own and no lock: pages drawn together must not
  // disturb each other's glyphs (each page renders its own glyph masks, so glyphs load
  // all the time).
  EmfBuilder b(5080, 2540, 9600, 9600, 2540, 2540);
  b.PixelMapping(10).Record(EMR_SETTEXTALIGN, {TA_BASELINE});
  const std::u16string faces[] = {u"DejaVu Sans", u"Liberation Serif", u"DejaVu Serif"};
  uint32_t font = 1;
  for (int32_t height : {-60, -90, -130, -200, -310}) {
    for (size_t f = 0; f < 3; ++f, ++font) {
      b.Font(font, height, faces[f], f == 1 ? 700 : 400, f == 2, font % 4 == 0 ? 300 : 0).Select(font);
      int32_t y = int32_t(60 + (font * 55) % 900);
      b.TextOut(int32_t(20 + f * 600), y, u"Quartz glyphs vex", {});
      b.TextOut(int32_t(20 + f * 600), y + 30, u"\u05e9\u05dc\u05d5\u05dd \u0633\u0644\u0627\u0645", {},
                ETO_RTLREADING);
    }
  }
  const std::string page = b.Bytes();
  Canvas alone(192, 96);
  ASSERT_GT(alone.Play(page).Glyphs, 200);
  std::atomic<int> differing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        Canvas c(192, 96);
        c.Play(page);
        if (c.Difference(alone) != 0 || alone.Difference(c) != 0) ++differing;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(differing.load(), 0);
}
