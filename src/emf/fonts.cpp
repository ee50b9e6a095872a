#include "emf/fonts.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <map>
#include <mutex>
#include <tuple>

#include "emf/fontname.h"

namespace kx {

namespace {

std::mutex Lock;  // guards everything below

// The family a metafile's face name stands for; names as PDFs write them are taken apart
// (the weight and slant they carry come with the record anyway).
std::string FamilyOf(const std::string& face) { return ParsePdfFontName(face).Family; }

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

std::mutex& FontFaceLock() {
  static std::mutex faces;
  return faces;
}

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
  // Names as PDFs write them carry a weight and slant; the caller's win where they say more.
  TkxFontStyle named = ParsePdfFontName(face);
  FcPattern* p = StyledPattern(weight == 0 || weight == 400 ? named.Weight : weight, italic || named.Italic);
  FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(named.Family.c_str()));
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
