// Glyphs gathered into text runs: logical order, one advance per character in that
// order, one direction per run, the visual left end as the reference point.
#include <gtest/gtest.h>

#include "pdf/pdftextrun.h"

using namespace kx::pdf;

namespace {

// A glyph of a 20-unit font.
TkxPlacedGlyph G(double x, double adv, const std::string& text, double y = 1000) {
  TkxPlacedGlyph g{x, y, adv, text};
  g.Size = 20;
  return g;
}

}  // namespace

TEST(TextRuns, LeftToRightKeepsEveryGlyphsPlaceAndLigatures) {
  TkxTextRunBuilder b;
  b.Start(1, 0);
  ASSERT_TRUE(b.Add(G(100.4, 50, "A")));
  ASSERT_TRUE(b.Add(G(150.2, 20, " ")));
  ASSERT_TRUE(b.Add(G(260.0, 70, "fi")));  // after a wide justified space
  ASSERT_TRUE(b.Add(G(330.0, 30, "")));    // no characters: its place only
  ASSERT_TRUE(b.Add(G(360.6, 40, "x")));
  TkxTextRun r = b.Take();
  EXPECT_TRUE(b.Empty());
  EXPECT_FALSE(r.RightToLeft);
  EXPECT_EQ(r.X, 100);
  EXPECT_EQ(r.Y, 1000);
  EXPECT_EQ(r.Text, u"A fix");
  // Edges rounded from the first glyph's place, so that no rounding adds up along the line.
  EXPECT_EQ(r.Dx, (std::vector<int32_t>{50, 110, 100, 0, 40}));
}

TEST(TextRuns, RightToLeftInVisualOrderBecomesLogical) {
  // LibreOffice's PDF sets "שלום עולם" from the left: the words' last letters first.
  TkxTextRunBuilder b;
  b.Start(1, 0);
  const char* visual[] = {"ם", "ל", "ו", "ע", " ", "ם", "ו", "ל", "ש"};
  double x = 500;
  for (const char* g : visual) {
    ASSERT_TRUE(b.Add(G(x, 10, g)));
    x += 10;
  }
  // Latin digits do not continue the Hebrew run.
  EXPECT_FALSE(b.Add(G(470, 10, "1")));
  TkxTextRun r = b.Take();
  EXPECT_TRUE(r.RightToLeft);
  EXPECT_EQ(r.Text, u"שלום עולם");
  EXPECT_EQ(r.X, 500);  // the visual left end
  EXPECT_EQ(r.Dx, std::vector<int32_t>(9, 10));
}

TEST(TextRuns, ArabicLigaturesAndBackwardOrder) {
  // "لا" is one glyph of two letters; a producer may also set right-to-left text from the right.
  TkxTextRunBuilder b;
  b.Start(1, 0);
  ASSERT_TRUE(b.Add(G(300, 20, "م")));
  ASSERT_TRUE(b.Add(G(290, 10, " ")));
  ASSERT_TRUE(b.Add(G(270, 20, "لا")));
  EXPECT_FALSE(b.Add(G(400, 10, "ب")));  // going the other way now
  TkxTextRun r = b.Take();
  EXPECT_TRUE(r.RightToLeft);
  EXPECT_EQ(r.X, 270);
  EXPECT_EQ(r.Text, u"م لا");
  EXPECT_EQ(r.Dx, (std::vector<int32_t>{20, 10, 20, 0}));
}

TEST(TextRuns, WordsWhoseBlanksAndPunctuationAnotherFontDrew) {
  // "שלום עולם" set from the left, its blank left to the Latin font: a gap between the words.
  TkxTextRunBuilder b;
  b.Start(1, 0);
  const char* visual[] = {"ם", "ל", "ו", "ע", "ם", "ו", "ל", "ש"};
  double x = 500;
  for (const char* g : visual) {
    ASSERT_TRUE(b.Add(G(x, 10, g)));
    x += g == visual[3] ? 16 : 10;
  }
  TkxTextRun r = b.Take();
  EXPECT_EQ(r.Text, u"שלום עולם");
  EXPECT_EQ(r.X, 500);
  EXPECT_EQ(r.Dx, (std::vector<int32_t>{10, 10, 10, 10, 6, 10, 10, 10, 10}));
  // A gap wider than a letter holds what another run drew: the words go apart.
  b.Start(1, 0);
  ASSERT_TRUE(b.Add(G(500, 10, "ם")));
  EXPECT_FALSE(b.Add(G(530, 10, "ש")));
  EXPECT_EQ(b.Take().Text, u"ם");
  // Vowel points, drawn before their letter and above or below the baseline, go after
  // it in the string and take no room: neither gaps nor blanks.
  b.Start(1, 0);
  TkxPlacedGlyph point = G(498, 0, "\u05B8", 1006);
  ASSERT_TRUE(b.Add(point));
  ASSERT_TRUE(b.Add(G(500, 10, "ם")));
  point.X = 512;
  ASSERT_TRUE(b.Add(point));
  ASSERT_TRUE(b.Add(G(510, 10, "ל")));
  ASSERT_TRUE(b.Add(G(520, 10, "ש")));
  TkxTextRun pointed = b.Take();
  EXPECT_EQ(pointed.Text, u"של\u05B8ם\u05B8");
  EXPECT_EQ(pointed.Y, 1000);  // the letters' baseline
  EXPECT_EQ(pointed.Dx, (std::vector<int32_t>{10, 10, 0, 10, 0}));
  // Its blank and punctuation in the other font: each piece from its own place, no blanks.
  b.Start(1, 0);
  ASSERT_TRUE(b.Add(G(400, 6, " ")));
  EXPECT_FALSE(b.Add(G(450, 5, ",")));
  EXPECT_TRUE(b.Take().Text.empty());
  b.Start(1, 0);
  ASSERT_TRUE(b.Add(G(450, 5, ".")));
  ASSERT_TRUE(b.Add(G(455, 5, ")")));
  ASSERT_TRUE(b.Add(G(460, 6, " ")));
  TkxTextRun dots = b.Take();
  EXPECT_EQ(dots.Text, u".)");
  EXPECT_EQ(dots.X, 450);
}

TEST(TextRuns, RunsEndAtAnotherBaselineOrGoingBackwards) {
  TkxTextRunBuilder b;
  b.Start(1, 0);
  ASSERT_TRUE(b.Add(G(100, 10, "a")));
  EXPECT_FALSE(b.Add(G(110, 10, "b", 1002)));  // a superscript
  EXPECT_FALSE(b.Add(G(50, 10, "b")));         // left to right text does not go back
  EXPECT_TRUE(b.Add(G(109.5, 10, "b")));       // kerning may overlap a little
  EXPECT_EQ(b.Take().Text, u"ab");
  // Turned text: the baseline runs up the page.
  b.Start(0, -1);
  ASSERT_TRUE(b.Add(G(200, 10, "R", 500)));
  ASSERT_TRUE(b.Add(G(200, 12, "o", 490)));
  TkxTextRun up = b.Take();
  EXPECT_EQ(up.X, 200);
  EXPECT_EQ(up.Y, 500);
  EXPECT_EQ(up.Dx, (std::vector<int32_t>{10, 12}));
}

TEST(TextRuns, DirectionsOfCharacters) {
  EXPECT_EQ(DirectionOf("a"), TkxTextDirection::LeftToRight);
  EXPECT_EQ(DirectionOf("7"), TkxTextDirection::LeftToRight);
  EXPECT_EQ(DirectionOf("٣"), TkxTextDirection::LeftToRight);  // Arabic-Indic digits run left to right
  EXPECT_EQ(DirectionOf("ש"), TkxTextDirection::RightToLeft);
  EXPECT_EQ(DirectionOf("لا"), TkxTextDirection::RightToLeft);
  EXPECT_EQ(DirectionOf(" "), TkxTextDirection::Neutral);
  EXPECT_EQ(DirectionOf("(."), TkxTextDirection::Neutral);
  EXPECT_EQ(DirectionOf("\xff"), TkxTextDirection::Neutral);  // malformed
}
