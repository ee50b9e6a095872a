#include "platform/fonts.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <map>
#include <mutex>
#include <tuple>

namespace kx {

namespace {

std::mutex Lock;  // guards everything below

std::string Squash(const std::string& s) {
  std::string r;
  for (char c : s)
    if (c != ' ' && c != '-' && c != '_') r.push_back(char(std::tolower(static_cast<unsigned char>(c))));
  return r;
}

// Installed families by their name without blanks: "dejavusans" -> "DejaVu Sans".
std::map<std::string, std::string>& Families() {
  static std::map<std::string, std::string> m;
  static bool filled = false;
  if (filled) return m;
  filled = true;
  FcPattern* pat = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* set = FcFontList(nullptr, pat, os);
  if (set) {
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
}

// Strips a PDF subset prefix and style suffixes that the weight and slant carry anyway.
std::string BaseName(std::string face) {
  if (face.size() > 7 && face[6] == '+') {
    bool tag = true;
    for (int i = 0; i < 6; ++i) tag = tag && face[size_t(i)] >= 'A' && face[size_t(i)] <= 'Z';
    if (tag) face.erase(0, 7);
  }
  for (const char* cut : {",", "-Bold", "-Italic", "-Oblique", "-Regular", "-Roman", "-Book"}) {
    size_t p = face.find(cut);
    if (p != std::string::npos && p > 0) face.erase(p);
  }
  return face;
}

std::string FamilyOf(const std::string& face) {
  std::string base = BaseName(face);
  auto& fams = Families();
  auto it = fams.find(Squash(base));
  if (it != fams.end()) return it->second;
  for (const char* suffix : {"psmt", "mt", "ps"}) {  // TimesNewRomanPSMT, ArialMT
    std::string s = Squash(base);
    if (s.size() > strlen(suffix) && s.compare(s.size() - strlen(suffix), std::string::npos, suffix) == 0) {
      auto jt = fams.find(s.substr(0, s.size() - strlen(suffix)));
      if (jt != fams.end()) return jt->second;
    }
  }
  return base;  // fontconfig's own aliases take it from here
}

cairo_font_face_t* FaceFor(FcPattern* pattern) {
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return nullptr;
  cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(match);
  FcPatternDestroy(match);
  if (cairo_font_face_status(face) != CAIRO_STATUS_SUCCESS) {
    cairo_font_face_destroy(face);
    return nullptr;
  }
  return face;
}

FcPattern* StyledPattern(int weight, bool italic) {
  FcPattern* p = FcPatternCreate();
  FcPatternAddInteger(p, FC_WEIGHT, FcWeightFromOpenType(weight <= 0 ? 400 : std::min(weight, 1000)));
  FcPatternAddInteger(p, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(p, FC_SCALABLE, FcTrue);
  return p;
}

}  // namespace

std::string ResolveFontFamily(const std::string& face) {
  std::lock_guard<std::mutex> g(Lock);
  FcPattern* p = StyledPattern(400, false);
  FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(FamilyOf(face).c_str()));
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, p, &result);
  FcPatternDestroy(p);
  std::string family;
  FcChar8* fam = nullptr;
  if (match && FcPatternGetString(match, FC_FAMILY, 0, &fam) == FcResultMatch) family = reinterpret_cast<char*>(fam);
  if (match) FcPatternDestroy(match);
  return family;
}

cairo_font_face_t* FindFontFace(const std::string& face, int weight, bool italic) {
  std::lock_guard<std::mutex> g(Lock);
  static std::map<std::tuple<std::string, int, bool>, cairo_font_face_t*> cache;
  auto key = std::make_tuple(face, weight, italic);
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  FcPattern* p = StyledPattern(weight, italic);
  FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(FamilyOf(face).c_str()));
  cairo_font_face_t* f = FaceFor(p);
  if (cache.size() < 4096) cache[key] = f;  // a hostile file cannot grow it without bound
  return f;
}

cairo_font_face_t* FallbackFontFace(char32_t codePoint, int weight, bool italic) {
  std::lock_guard<std::mutex> g(Lock);
  static std::map<std::tuple<char32_t, int, bool>, cairo_font_face_t*> cache;
  auto key = std::make_tuple(codePoint, weight >= 600 ? 700 : 400, italic);
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  FcPattern* p = StyledPattern(std::get<1>(key), italic);
  FcCharSet* cs = FcCharSetCreate();
  FcCharSetAddChar(cs, codePoint);
  FcPatternAddCharSet(p, FC_CHARSET, cs);
  FcCharSetDestroy(cs);
  cairo_font_face_t* f = FaceFor(p);
  if (cache.size() < 65536) cache[key] = f;
  return f;
}

}  // namespace kx
