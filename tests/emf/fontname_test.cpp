// PDF font names taken apart into the installed family, weight and slant.
#include <gtest/gtest.h>

#include "emf/fontname.h"

using namespace kx;

TEST(PdfFontName, SubsetTagsStyleSuffixesAndRunInStyles) {
  struct {
    const char* Name;
    const char* Family;
    int Weight;
    bool Italic;
  } cases[] = {
      {"LiberationSerif", "Liberation Serif", 400, false},
      {"ABCDEF+LiberationSerif-BoldItalic", "Liberation Serif", 700, true},
      {"DejaVuSans-Bold", "DejaVu Sans", 700, false},
      {"DejaVuSans-Oblique", "DejaVu Sans", 400, true},
      {"DejaVuSans-ExtraLight", "DejaVu Sans", 200, false},
      {"DejaVuSansCondensed-BoldOblique", "DejaVu Sans Condensed", 700, true},
      {"DejaVuMathTeXGyre-Regular", "DejaVu Math TeX Gyre", 400, false},
      {"DejaVuSerifBoldItalic", "DejaVu Serif", 700, true},  // style run into the name
      {"OpenSymbol", "OpenSymbol", 400, false},
      // Families that are not installed keep their name for fontconfig's aliases.
      {"Z003MediumItalic", "Z003", 500, true},
      {"TimesNewRomanPS-BoldItalicMT", "Times New Roman", 700, true},
      {"TimesNewRoman", "Times New Roman", 400, false},
      {"ArialMT", "Arial", 400, false},
      {"Arial,BoldItalic", "Arial", 700, true},
      {"XYZ+Odd", "XYZ+Odd", 400, false},  // not a subset tag: six capitals are needed
  };
  for (auto c : cases) {
    TkxFontStyle s = ParsePdfFontName(c.Name);
    EXPECT_EQ(s.Family, c.Family) << c.Name;
    EXPECT_EQ(s.Weight, c.Weight) << c.Name;
    EXPECT_EQ(s.Italic, c.Italic) << c.Name;
  }
}

TEST(PdfFontName, AverageWidthComesFromTheFace) {
  // Monospaced faces have every advance equal to the average; a serif face is narrower.
  double mono = AverageCharWidth({"Liberation Mono", 400, false});
  EXPECT_NEAR(mono, 0.6, 0.01);
  double serif = AverageCharWidth({"Liberation Serif", 400, false});
  EXPECT_GT(serif, 0.3);
  EXPECT_LT(serif, mono);
}
