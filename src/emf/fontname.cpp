#include "emf/fontname.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

namespace kx {

namespace {

std::string Squash(const std::string& s) {
  std::string r;
  for (char c : s)
    if (c != ' ' && c != '-' && c != '_') r.push_back(char(std::tolower(static_cast<unsigned char>(c))));
  return r;
}

// Installed families by their name without blanks: "dejavusans" -> "DejaVu Sans".
const std::map<std::string, std::string>& Families() {
  static const std::map<std::string, std::string> families = [] {
    std::map<std::string, std::string> m;
    FcPattern* pat = FcPatternCreate();
    FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
    if (FcFontSet* set = FcFontList(nullptr, pat, os)) {
      for (int i = 0; i < set->nfont; ++i) {
        FcChar8* fam = nullptr;
        for (int k = 0; FcPatternGetString(set->fonts[i], FC_FAMILY, k, &fam) == FcResultMatch; ++k)
          m.emplace(Squash(reinterpret_cast<const char*>(fam)), reinterpret_cast<const char*>(fam));
      }
      FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(os);
    FcPatternDestroy(pat);
    return m;
  }();
  return families;
}

// Style words as PostScript names run them together.
struct StyleWord {
  const char* Word;
  int Weight;  // 0: not a weight
  bool Italic;
  bool RunIn;  // also stripped from the end of a name without a hyphen ("TimesNewRoman" keeps its "Roman")
};
constexpr StyleWord kStyles[] = {
    {"Thin", 100, false, true},       {"Hairline", 100, false, true}, {"ExtraLight", 200, false, true},
    {"UltraLight", 200, false, true}, {"Light", 300, false, true},    {"Book", 400, false, true},
    {"Regular", 400, false, true},    {"Normal", 400, false, true},   {"Roman", 400, false, false},
    {"Plain", 400, false, false},     {"Medium", 500, false, true},   {"SemiBold", 600, false, true},
    {"DemiBold", 600, false, true},   {"Demi", 600, false, false},    {"ExtraBold", 800, false, true},
    {"UltraBold", 800, false, true},  {"Bold", 700, false, true},     {"Black", 900, false, true},
    {"Heavy", 900, false, true},      {"Italic", 0, true, true},      {"Oblique", 0, true, true},
    {"Slanted", 0, true, true},       {"Inclined", 0, true, true},    {"MT", 0, false, true},
};

bool EqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Reads `style` as a row of style words; false when anything else is in it.
bool ReadStyle(const std::string& style, TkxFontStyle& out) {
  TkxFontStyle r = out;
  size_t p = 0;
  while (p < style.size()) {
    if (style[p] == ' ' || style[p] == '-' || style[p] == '_') {
      ++p;
      continue;
    }
    size_t best = 0;
    const StyleWord* word = nullptr;
    for (const StyleWord& w : kStyles) {
      size_t n = std::strlen(w.Word);
      if (n > best && p + n <= style.size() && EqualNoCase(style.c_str() + p, w.Word, n)) best = n, word = &w;
    }
    if (!word) return false;
    if (word->Weight) r.Weight = word->Weight;
    r.Italic = r.Italic || word->Italic;
    p += best;
  }
  out = r;
  return true;
}

// Strips style words that end a run-together name ("Z003MediumItalic"): each must
// begin with a capital after a lower-case letter or digit.
std::string StripRunInStyle(const std::string& name, TkxFontStyle& out) {
  std::string base = name;
  TkxFontStyle r = out;
  for (bool found = true; found;) {
    found = false;
    for (const StyleWord& w : kStyles) {
      size_t n = std::strlen(w.Word);
      if (base.size() <= n || base.compare(base.size() - n, n, w.Word) != 0) continue;
      char before = base[base.size() - n - 1];
      if (!w.RunIn && !std::isdigit(static_cast<unsigned char>(before))) continue;  // "P052Roman", not "TimesNewRoman"
      if (!(std::islower(static_cast<unsigned char>(before)) || std::isdigit(static_cast<unsigned char>(before))))
        continue;
      base.erase(base.size() - n);
      if (w.Weight) r.Weight = r.Weight == 400 ? w.Weight : r.Weight;
      r.Italic = r.Italic || w.Italic;
      found = true;
      break;
    }
  }
  out = r;
  return base;
}

// The installed family for a name part, trying the Monotype suffixes too; else the
// name with blanks between its words ("TimesNewRoman" -> "Times New Roman"), which
// fontconfig's aliases understand.
std::string FamilyOf(const std::string& base) {
  const auto& fams = Families();
  std::string s = Squash(base);
  if (auto it = fams.find(s); it != fams.end()) return it->second;
  for (const char* suffix : {"psmt", "mt", "ps"}) {
    size_t n = std::strlen(suffix);
    if (s.size() > n && s.compare(s.size() - n, n, suffix) == 0) {
      if (auto it = fams.find(s.substr(0, s.size() - n)); it != fams.end()) return it->second;
    }
  }
  std::string plain = base;
  for (const char* suffix : {"PSMT", "MT", "PS"}) {
    size_t n = std::strlen(suffix);
    if (plain.size() > n && plain.compare(plain.size() - n, n, suffix) == 0) {
      plain.erase(plain.size() - n);
      break;
    }
  }
  std::string spaced;
  for (size_t i = 0; i < plain.size(); ++i) {
    char c = plain[i];
    if (c == '-' || c == '_') c = ' ';
    if (i > 0 && std::isupper(static_cast<unsigned char>(c)) && std::islower(static_cast<unsigned char>(plain[i - 1])))
      spaced.push_back(' ');
    spaced.push_back(c);
  }
  return spaced;
}

}  // namespace

TkxFontStyle ParsePdfFontName(const std::string& pdfName) {
  TkxFontStyle r;
  std::string name = pdfName;
  if (name.size() > 7 && name[6] == '+') {  // subset tag
    bool tag = true;
    for (int i = 0; i < 6; ++i) tag = tag && std::isupper(static_cast<unsigned char>(name[size_t(i)]));
    if (tag) name.erase(0, 7);
  }
  if (size_t comma = name.find(','); comma != std::string::npos) {  // "Arial,BoldItalic"
    ReadStyle(name.substr(comma + 1), r);
    name.erase(comma);
  }
  if (Families().count(Squash(name))) {  // an installed family's whole name
    r.Family = Families().at(Squash(name));
    return r;
  }
  std::string base = name;
  if (size_t dash = name.rfind('-'); dash != std::string::npos && dash > 0) {
    TkxFontStyle styled = r;
    if (ReadStyle(name.substr(dash + 1), styled)) {
      base = name.substr(0, dash);
      r = styled;
    }
  }
  if (!Families().count(Squash(base))) base = StripRunInStyle(base, r);
  r.Family = FamilyOf(base);
  return r;
}

bool IsInstalledFamily(const std::string& family) { return Families().count(Squash(family)) != 0; }

double AverageCharWidth(const TkxFontStyle& style) {
  static std::mutex lock;
  static std::map<std::tuple<std::string, int, bool>, double> cache;
  std::lock_guard<std::mutex> g(lock);
  auto key = std::make_tuple(style.Family, style.Weight, style.Italic);
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  double width = 0.5;
  FcPattern* p = FcPatternCreate();
  FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(style.Family.c_str()));
  FcPatternAddInteger(p, FC_WEIGHT, FcWeightFromOpenType(std::clamp(style.Weight, 1, 1000)));
  FcPatternAddInteger(p, FC_SLANT, style.Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, p, &result);
  FcPatternDestroy(p);
  FcChar8* file = nullptr;
  int index = 0;
  FT_Library ft = nullptr;
  if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && FT_Init_FreeType(&ft) == 0) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    FT_Face face = nullptr;
    if (FT_New_Face(ft, reinterpret_cast<const char*>(file), index, &face) == 0) {
      auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
      if (os2 && face->units_per_EM > 0 && os2->xAvgCharWidth > 0)
        width = double(os2->xAvgCharWidth) / face->units_per_EM;
      FT_Done_Face(face);
    }
    FT_Done_FreeType(ft);
  }
  if (match) FcPatternDestroy(match);
  if (cache.size() < 1024) cache[key] = width;
  return width;
}

}  // namespace kx
