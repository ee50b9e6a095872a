#pragma once
// Font names as PDFs carry them ("ABCDEF+LiberationSerif-BoldItalic", "Z003MediumItalic",
// "TimesNewRomanPS-BoldMT", "Arial,Bold") taken apart into the family that fontconfig
// knows, a weight and a slant.
#include <string>

namespace kx {

struct TkxFontStyle {
  std::string Family;  // an installed family's own name where one matches, else the name's family part
  int Weight = 400;    // 100 to 900, as in LOGFONT
  bool Italic = false;
};

TkxFontStyle ParsePdfFontName(const std::string& name);

// Whether a family of that name is installed (blanks, hyphens and case aside).
bool IsInstalledFamily(const std::string& family);

// The average character width (OS/2 xAvgCharWidth) of the face fontconfig picks for
// the style, in ems; what LOGFONT's width is measured against. 0.5 when unknown.
double AverageCharWidth(const TkxFontStyle& style);

}  // namespace kx
