// PDF font names taken apart into the installed family, weight and slant.
#include <gtest/gtest.h>

#include "emf/fontname.h"
#include "emf/fonts.h"

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

TEST(PdfFontName, NamesResolveToTheInstalledFaceOrToNothing) {
  // fontconfig's match on the PostScript name first ("P052Roman" is "P052-Roman"), then
  // the family and style, then the configuration's substitute for a family that is not
  // installed; a name none of them matches is not taken for the last resort.
  struct {
    const char* Name;
    int Weight;
    bool Italic;
    const char* Family;  // nullptr: nothing matches
    const char* How;
  } cases[] = {
      {"ABCDEF+P052Roman", 0, false, "P052", "postscript name"},
      {"URWBookmanDemi", 0, false, "URW Bookman", "postscript name"},
      {"C059-Italic", 0, false, "C059", "postscript name"},
      {"LiberationSans", 700, false, "Liberation Sans", "family"},  // the record asks for bold
      {"Times New Roman", 0, false, "Liberation Serif", "alias"},
      {"NoSuchFamilyAnywhere", 0, false, nullptr, ""},
  };
  for (auto c : cases) {
    TkxFaceMatch m = MatchFace(c.Name, c.Weight, c.Italic);
    EXPECT_EQ(m.How, c.How) << c.Name;
    if (c.Family) {
      EXPECT_EQ(m.Family, c.Family) << c.Name;
    }
    EXPECT_EQ(m.Found(), c.Family != nullptr) << c.Name;
  }
  EXPECT_EQ(MatchFace("URWBookmanLight", 0, false).Weight, 300);
  EXPECT_TRUE(MatchFace("LiberationSans", 700, false).Style.find("Bold") != std::string::npos);
}
