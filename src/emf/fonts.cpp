#include "emf/fonts.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

#include "emf/fontname.h"

namespace kx {

namespace {

std::mutex MatchLock;  // guards the cache of matches

std::string Squash(const std::string& s) {
  std::string r;
  for (char c : s)
    if (c != ' ' && c != '-' && c != '_') r.push_back(char(std::tolower(static_cast<unsigned char>(c))));
  return r;
}

std::string WithoutSubsetTag(const std::string& name) {
  if (name.size() > 7 && name[6] == '+' &&
      std::all_of(name.begin(), name.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; }))
    return name.substr(7);
  return name;
}

std::string StringOf(FcPattern* p, const char* object, int n = 0) {
  FcChar8* s = nullptr;
  return FcPatternGetString(p, object, n, &s) == FcResultMatch ? reinterpret_cast<const char*>(s) : std::string();
}

FcPattern* Styled(int weight, bool italic) {
  FcPattern* p = FcPatternCreate();
  FcPatternAddInteger(p, FC_WEIGHT, FcWeightFromOpenType(std::clamp(weight <= 0 ? 400 : weight, 1, 1000)));
  FcPatternAddInteger(p, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(p, FC_SCALABLE, FcTrue);
  return p;
}

// fontconfig's best face for the pattern, which it takes over; null when there is none.
FcPattern* Best(FcPattern* p) {
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, p, &result);
  FcPatternDestroy(p);
  return match;
}

TkxFaceMatch FromPattern(FcPattern* m, int weight, bool italic, const char* how) {
  TkxFaceMatch r;
  if (!m) return r;
  r.File = StringOf(m, FC_FILE);
  FcPatternGetInteger(m, FC_INDEX, 0, &r.Index);
  r.Family = StringOf(m, FC_FAMILY);
  r.Style = StringOf(m, FC_STYLE);
  r.PostScriptName = StringOf(m, FC_POSTSCRIPT_NAME);
  int w = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(m, FC_WEIGHT, 0, &w);
  FcPatternGetInteger(m, FC_SLANT, 0, &slant);
  r.Weight = std::clamp(FcWeightToOpenType(w), 100, 900);
  r.Italic = slant != FC_SLANT_ROMAN;
  r.Embolden = weight >= 600 && r.Weight < 600;
  r.Oblique = italic && !r.Italic;
  r.How = how ? how : "";
  FcPatternDestroy(m);
  return r;
}

// The families the configuration falls back to for every name: those it gives the
// generic families ("serif", "sans-serif", ...), squashed.
const std::vector<std::string>& DefaultFamilies() {
  static const std::vector<std::string> families = [] {
    std::vector<std::string> r;
    for (const char* g : {"sans-serif", "serif", "monospace", "cursive", "fantasy", "system-ui", "emoji", "math"}) {
      FcPattern* p = FcPatternCreate();
      FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(g));
      FcConfigSubstitute(nullptr, p, FcMatchPattern);
      for (int i = 0;; ++i) {
        std::string f = StringOf(p, FC_FAMILY, i);
        if (f.empty()) break;
        r.push_back(Squash(f));
      }
      FcPatternDestroy(p);
    }
    return r;
  }();
  return families;
}

// The face whose PostScript name is `ps`, found by fontconfig's own matching on that
// property; null when the best it has carries another name.
FcPattern* ByPostScriptName(const std::string& ps, int weight, bool italic) {
  FcPattern* p = FcPatternCreate();
  FcPatternAddString(p, FC_POSTSCRIPT_NAME, reinterpret_cast<const FcChar8*>(ps.c_str()));
  FcPatternAddBool(p, FC_SCALABLE, FcTrue);
  FcPattern* m = Best(p);
  if (!m) return nullptr;
  int w = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(m, FC_WEIGHT, 0, &w);
  FcPatternGetInteger(m, FC_SLANT, 0, &slant);
  // A bolder or slanted face asked for by the record wins over a plain face's name.
  bool styleAgrees = !(weight >= 600 && FcWeightToOpenType(w) < 600) && !(italic && slant == FC_SLANT_ROMAN);
  if (Squash(StringOf(m, FC_POSTSCRIPT_NAME)) == Squash(ps) && styleAgrees) return m;
  FcPatternDestroy(m);
  return nullptr;
}

// The configuration's substitute for a family that is not installed: a family the
// configuration puts after it before those it puts after every name (the generic
// families' own).
FcPattern* ByAlias(const std::string& family, int weight, bool italic) {
  FcPattern* p = Styled(weight, italic);
  FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  std::vector<std::string> wanted;
  const std::vector<std::string>& defaults = DefaultFamilies();
  for (int i = 0;; ++i) {
    std::string f = Squash(StringOf(p, FC_FAMILY, i));
    if (f.empty() || (i > 0 && std::find(defaults.begin(), defaults.end(), f) != defaults.end())) break;
    wanted.push_back(f);
  }
  FcDefaultSubstitute(p);
  FcResult result;
  FcPattern* m = FcFontMatch(nullptr, p, &result);
  FcPatternDestroy(p);
  if (!m) return nullptr;
  if (std::find(wanted.begin() + (wanted.empty() ? 0 : 1), wanted.end(), Squash(StringOf(m, FC_FAMILY))) !=
      wanted.end())
    return m;
  FcPatternDestroy(m);
  return nullptr;
}

TkxFaceMatch Resolve(const std::string& face, int weight, bool italic) {
  const std::string name = WithoutSubsetTag(face);
  TkxFontStyle named = ParsePdfFontName(name);
  // The record's weight and slant win where they say more than the name.
  int w = weight == 0 || weight == 400 ? named.Weight : weight;
  bool it = italic || named.Italic;
  if (FcPattern* m = ByPostScriptName(name, w, it)) return FromPattern(m, w, it, "postscript name");
  if (IsInstalledFamily(named.Family)) {
    FcPattern* p = Styled(w, it);
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(named.Family.c_str()));
    return FromPattern(Best(p), w, it, "family");
  }
  if (FcPattern* m = ByAlias(named.Family, w, it)) return FromPattern(m, w, it, "alias");
  FcPattern* p = Styled(w, it);
  FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(named.Family.c_str()));
  return FromPattern(Best(p), w, it, nullptr);  // fontconfig's last resort, not a match
}

// A FreeType library of one thread. Faces made with it may be freed later on another
// thread (cairo drops a face when its last scaled font goes), so making and freeing
// faces, the only library calls that touch its list of faces, are serialised.
struct TLibrary {
  FT_Library Lib = nullptr;
  std::mutex Faces;
  TLibrary() { FT_Init_FreeType(&Lib); }
  ~TLibrary() {
    if (Lib) FT_Done_FreeType(Lib);
  }
};

struct TFaceOwner {
  FT_Face Face;
  std::shared_ptr<TLibrary> Library;
  TkxFontProgram Bytes;  // the program a memory face reads from
};

const cairo_user_data_key_t kOwnerKey{};

void FreeOwner(void* p) {
  std::unique_ptr<TFaceOwner> o(static_cast<TFaceOwner*>(p));
  std::lock_guard<std::mutex> g(o->Library->Faces);
  FT_Done_Face(o->Face);
}

uint64_t Fnv(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

constexpr size_t kMaxFaces = 512;  // per kind and thread; a hostile file cannot grow them without bound

template <class Map>
void Bound(Map& m) {
  if (m.size() < kMaxFaces) return;
  for (auto& e : m) cairo_font_face_destroy(e.second.Face);
  m.clear();
}

}  // namespace

TkxFaceMatch MatchFace(const std::string& name, int weight, bool italic) {
  std::lock_guard<std::mutex> g(MatchLock);
  static std::map<std::tuple<std::string, int, bool>, TkxFaceMatch> cache;
  auto key = std::make_tuple(name, weight, italic);
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  TkxFaceMatch m = Resolve(name, weight, italic);
  if (cache.size() < 4096) cache[key] = m;
  return m;
}

std::string ResolveFontFamily(const std::string& face) { return MatchFace(face, 400, false).Family; }

struct TkxThreadFaces::TImpl {
  struct TEntry {
    cairo_font_face_t* Face = nullptr;  // one reference held here
    FT_Face Ft = nullptr;               // its FreeType face
  };
  std::shared_ptr<TLibrary> Library = std::make_shared<TLibrary>();
  std::map<std::tuple<std::string, int, bool, bool>, TEntry> Files;  // file, index, embolden, oblique
  std::map<std::pair<uint64_t, size_t>, TEntry> Programs;            // by content
  // Programs seen, held so that their addresses stay theirs, with their content's key.
  std::map<const std::string*, std::pair<TkxFontProgram, std::pair<uint64_t, size_t>>> Seen;
  std::pair<uint64_t, size_t> KeyOf(const TkxFontProgram& p) {
    if (auto it = Seen.find(p.get()); it != Seen.end()) return it->second.second;
    if (Seen.size() >= kMaxFaces) Seen.clear();
    auto key = std::make_pair(Fnv(*p), p->size());
    Seen[p.get()] = {p, key};
    return key;
  }
  std::map<std::tuple<std::string, int, bool>, TEntry> Names;
  std::map<std::tuple<char32_t, int, bool>, TEntry> Fallbacks;

  // A cairo face over a new FreeType face of this thread's library; null on failure.
  cairo_font_face_t* Make(const std::string& file, int index, const TkxFontProgram& bytes, int synthesize,
                          FT_Face* ft = nullptr) {
    if (!Library->Lib) return nullptr;
    FT_Face face = nullptr;
    {
      std::lock_guard<std::mutex> g(Library->Faces);
      FT_Error e = bytes ? FT_New_Memory_Face(Library->Lib, reinterpret_cast<const FT_Byte*>(bytes->data()),
                                              FT_Long(bytes->size()), 0, &face)
                         : FT_New_Face(Library->Lib, file.c_str(), index, &face);
      if (e != 0) return nullptr;
    }
    auto owner = std::make_unique<TFaceOwner>(TFaceOwner{face, Library, bytes});
    cairo_font_face_t* cf = cairo_ft_font_face_create_for_ft_face(face, 0);
    if (cairo_font_face_status(cf) != CAIRO_STATUS_SUCCESS ||
        cairo_font_face_set_user_data(cf, &kOwnerKey, owner.get(), FreeOwner) != CAIRO_STATUS_SUCCESS) {
      cairo_font_face_destroy(cf);
      FreeOwner(owner.release());
      return nullptr;
    }
    owner.release();  // the face's user data now, freed with the face
    if (synthesize) cairo_ft_font_face_set_synthesize(cf, unsigned(synthesize));
    if (ft) *ft = face;
    return cf;
  }

  cairo_font_face_t* OfMatch(const TkxFaceMatch& m) {
    if (m.File.empty()) return nullptr;
    auto key = std::make_tuple(m.File, m.Index, m.Embolden, m.Oblique);
    if (auto it = Files.find(key); it != Files.end()) return it->second.Face;
    if (Files.size() >= kMaxFaces) Names.clear(), Fallbacks.clear();  // they point into Files
    Bound(Files);
    int synth = (m.Embolden ? CAIRO_FT_SYNTHESIZE_BOLD : 0) | (m.Oblique ? CAIRO_FT_SYNTHESIZE_OBLIQUE : 0);
    cairo_font_face_t* f = Make(m.File, m.Index, nullptr, synth);
    if (f) Files[key].Face = f;
    return f;
  }
};

TkxThreadFaces::TkxThreadFaces() : F(std::make_unique<TImpl>()) {}

TkxThreadFaces::~TkxThreadFaces() {
  // Faces still drawn with (held by cairo's caches) go when cairo lets them go.
  for (auto& e : F->Files) cairo_font_face_destroy(e.second.Face);
  for (auto& e : F->Programs) cairo_font_face_destroy(e.second.Face);
}

cairo_font_face_t* TkxThreadFaces::Named(const std::string& name, int weight, bool italic) {
  auto key = std::make_tuple(name, weight, italic);
  if (auto it = F->Names.find(key); it != F->Names.end()) return it->second.Face;
  if (F->Names.size() >= kMaxFaces) F->Names.clear();  // the faces themselves are held by Files
  cairo_font_face_t* f = F->OfMatch(MatchFace(name, weight, italic));
  F->Names[key].Face = f;
  return f;
}

cairo_font_face_t* TkxThreadFaces::Program(const TkxFontProgram& program) {
  if (!program || program->empty()) return nullptr;
  auto key = F->KeyOf(program);
  if (auto it = F->Programs.find(key); it != F->Programs.end()) return it->second.Face;
  Bound(F->Programs);
  FT_Face ft = nullptr;
  cairo_font_face_t* f = F->Make({}, 0, program, 0, &ft);
  if (f) F->Programs[key] = {f, ft};
  return f;
}

bool TkxThreadFaces::HasGlyphs(const TkxFontProgram& program, const std::vector<uint32_t>& chars) {
  if (!Program(program)) return false;
  // This thread's own face, and cairo uses it only on this thread: no lock needed.
  FT_Face ft = F->Programs[F->KeyOf(program)].Ft;
  return std::all_of(chars.begin(), chars.end(),
                     [&](uint32_t c) { return c <= 0x20 || FT_Get_Char_Index(ft, c) != 0; });
}

cairo_font_face_t* TkxThreadFaces::Fallback(char32_t codePoint, int weight, bool italic) {
  auto key = std::make_tuple(codePoint, weight >= 600 ? 700 : 400, italic);
  if (auto it = F->Fallbacks.find(key); it != F->Fallbacks.end()) return it->second.Face;
  if (F->Fallbacks.size() >= kMaxFaces * 64) F->Fallbacks.clear();  // the faces themselves are held by Files
  TkxFaceMatch m;
  {
    std::lock_guard<std::mutex> g(MatchLock);
    FcPattern* p = Styled(std::get<1>(key), italic);
    FcCharSet* cs = FcCharSetCreate();
    FcCharSetAddChar(cs, codePoint);
    FcPatternAddCharSet(p, FC_CHARSET, cs);
    FcCharSetDestroy(cs);
    m = FromPattern(Best(p), std::get<1>(key), italic, "character");
  }
  cairo_font_face_t* f = F->OfMatch(m);
  F->Fallbacks[key].Face = f;
  return f;
}

TkxThreadFaces& FaceSet() {
  thread_local TkxThreadFaces faces;
  return faces;
}

}  // namespace kx
