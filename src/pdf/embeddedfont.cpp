#include "pdf/embeddedfont.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>

#include "emf/fonts.h"

namespace kx::pdf {

namespace {

// A FreeType library with one face: of the program, when one is given.
struct TFreeType {
  FT_Library Lib = nullptr;
  FT_Face Face = nullptr;
  explicit TFreeType(std::string_view program) {
    if (FT_Init_FreeType(&Lib) != 0) return;
    if (!program.empty() &&
        FT_New_Memory_Face(Lib, reinterpret_cast<const FT_Byte*>(program.data()), FT_Long(program.size()), 0, &Face))
      Face = nullptr;
  }
  ~TFreeType() {
    if (Face) FT_Done_Face(Face);
    if (Lib) FT_Done_FreeType(Lib);
  }
  TFreeType(const TFreeType&) = delete;
  TFreeType& operator=(const TFreeType&) = delete;
};

// The character a glyph stands for in the metafile's text: its one character, or the
// ligature character of its letters ("fi" -> U+FB01), which the player draws for them.
char32_t CharOf(const std::u32string& shown) {
  if (shown.size() == 1) return shown[0];
  static const struct {
    const char32_t* Seq;
    char32_t Lig;
  } kLigatures[] = {{U"ff", 0xFB00},  {U"fi", 0xFB01}, {U"fl", 0xFB02}, {U"ffi", 0xFB03},
                    {U"ffl", 0xFB04}, {U"ft", 0xFB05}, {U"st", 0xFB06}};
  for (const auto& l : kLigatures)
    if (shown == l.Seq) return l.Lig;
  return 0;
}

uint32_t Get32(std::string_view s, size_t at) {
  return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 | uint32_t(uint8_t(s[at + 2])) << 8 |
         uint8_t(s[at + 3]);
}
uint16_t Get16(std::string_view s, size_t at) { return uint16_t(uint8_t(s[at]) << 8 | uint8_t(s[at + 1])); }
void Put32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(char(v >> (8 * i) & 0xFF));
}
void Put16(std::string& s, uint16_t v) {
  s.push_back(char(v >> 8));
  s.push_back(char(v & 0xFF));
}

uint32_t Checksum(const std::string& t) {
  uint32_t sum = 0;
  std::string padded = t;
  padded.resize((t.size() + 3) / 4 * 4, '\0');
  for (size_t i = 0; i < padded.size(); i += 4) sum += Get32(padded, i);
  return sum;
}

// A character map of one format 12 subtable (Windows, full Unicode).
std::string Cmap(const std::map<char32_t, uint32_t>& glyphs) {
  std::string t;
  Put16(t, 0);  // version
  Put16(t, 1);  // subtables
  Put16(t, 3);
  Put16(t, 10);
  Put32(t, 12);
  Put16(t, 12);  // format
  Put16(t, 0);
  Put32(t, uint32_t(16 + 12 * glyphs.size()));
  Put32(t, 0);  // language
  Put32(t, uint32_t(glyphs.size()));
  for (auto [c, g] : glyphs) Put32(t, c), Put32(t, c), Put32(t, g);
  return t;
}

// The TrueType program with its 'cmap' table replaced; empty when its table directory
// cannot be read.
std::string WithCmap(std::string_view font, const std::string& cmap) {
  if (font.size() < 12) return {};
  uint16_t n = Get16(font, 4);
  if (font.size() < 12 + size_t(n) * 16) return {};
  std::map<uint32_t, std::string> tables;  // by tag, in the order a directory wants them
  for (uint16_t i = 0; i < n; ++i) {
    size_t rec = 12 + size_t(i) * 16;
    uint32_t tag = Get32(font, rec), off = Get32(font, rec + 8), len = Get32(font, rec + 12);
    if (off > font.size() || len > font.size() - off) return {};
    tables[tag] = std::string(font.substr(off, len));
  }
  tables[0x636D6170] = cmap;  // 'cmap'
  std::string out;
  Put32(out, Get32(font, 0));
  uint16_t count = uint16_t(tables.size()), power = 1, log = 0;
  while (power * 2 <= count) power = uint16_t(power * 2), ++log;
  Put16(out, count);
  Put16(out, uint16_t(power * 16));
  Put16(out, log);
  Put16(out, uint16_t(count * 16 - power * 16));
  size_t at = 12 + size_t(count) * 16;
  std::string body;
  for (const auto& [tag, data] : tables) {
    Put32(out, tag);
    Put32(out, Checksum(data));
    Put32(out, uint32_t(at + body.size()));
    Put32(out, uint32_t(data.size()));
    body += data;
    body.resize((body.size() + 3) / 4 * 4, '\0');
  }
  return out + body;
}

// The program's own map of codes: a symbol map puts the codes at U+F000 and up.
void SelectCodeMap(FT_Face face) {
  if (face->num_charmaps > 0) FT_Set_Charmap(face, face->charmaps[0]);
  for (int i = 0; i < face->num_charmaps; ++i)
    if (face->charmaps[i]->encoding != FT_ENCODING_UNICODE) FT_Set_Charmap(face, face->charmaps[i]);
}

FT_UInt CodeGlyph(FT_Face face, uint32_t code) {
  FT_UInt g = FT_Get_Char_Index(face, code);
  return g ? g : FT_Get_Char_Index(face, 0xF000 + code);
}

uint64_t OutlineOf(FT_Face face, FT_UInt glyph) {
  if (!glyph || FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0) return 0;
  const FT_GlyphSlot slot = face->glyph;
  if (slot->format != FT_GLYPH_FORMAT_OUTLINE || slot->outline.n_points == 0) return 0;
  uint64_t h = 1469598103934665603ull;
  auto mix = [&](int64_t v) {
    for (int i = 0; i < 8; ++i) h = (h ^ uint64_t((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
  };
  mix(slot->metrics.horiAdvance);
  const FT_Outline& o = slot->outline;
  for (int i = 0; i < o.n_points; ++i) mix(o.points[i].x), mix(o.points[i].y), mix(o.tags[i] & 1);
  for (int i = 0; i < o.n_contours; ++i) mix(o.contours[i]);
  return h;
}

}  // namespace

struct TkxEmbeddedFont::TFt : TFreeType {
  using TFreeType::TFreeType;
};

TkxEmbeddedFont::TkxEmbeddedFont(std::string_view program) : F(new TFt(program)) {
  if (F->Face) SelectCodeMap(F->Face);
}

TkxEmbeddedFont::~TkxEmbeddedFont() { delete F; }

unsigned TkxEmbeddedFont::GlyphOfCode(uint32_t code) const { return F->Face ? CodeGlyph(F->Face, code) : 0; }

bool TkxEmbeddedFont::TrueType() const { return F->Face && FT_IS_SFNT(F->Face); }

uint64_t TkxEmbeddedFont::Outline(unsigned glyph) const { return F->Face ? OutlineOf(F->Face, glyph) : 0; }

namespace {

// An installed face file, open, with the characters of its glyphs by outline (read
// when first asked for).
struct TInstalled {
  std::unique_ptr<TFreeType> Ft;
  bool Indexed = false;
  std::map<uint64_t, char32_t> Characters;
};

std::mutex InstalledLock;  // guards the faces below, which any thread may ask

TInstalled& Installed(const std::string& file, int index) {
  static std::map<std::pair<std::string, int>, TInstalled> faces;
  TInstalled& f = faces[std::make_pair(file, index)];
  if (!f.Ft) {
    f.Ft = std::make_unique<TFreeType>(std::string_view());
    if (f.Ft->Lib && FT_New_Face(f.Ft->Lib, file.c_str(), index, &f.Ft->Face) != 0) f.Ft->Face = nullptr;
    if (f.Ft->Face) FT_Select_Charmap(f.Ft->Face, FT_ENCODING_UNICODE);
  }
  return f;
}

}  // namespace

char32_t InstalledCharacter(const std::string& file, int index, uint64_t outline) {
  std::lock_guard<std::mutex> g(InstalledLock);
  TInstalled& f = Installed(file, index);
  FT_Face face = f.Ft->Face;
  if (!f.Indexed && face) {
    f.Indexed = true;
    FT_UInt glyph;
    for (FT_ULong c = FT_Get_First_Char(face, &glyph); glyph; c = FT_Get_Next_Char(face, c, &glyph)) {
      auto [it, added] = f.Characters.emplace(OutlineOf(face, glyph), char32_t(c));
      bool privateUse = it->second >= 0xE000 && it->second < 0xF900;
      if (!added && privateUse && !(c >= 0xE000 && c < 0xF900)) it->second = char32_t(c);
    }
    f.Characters[OutlineOf(face, 0)] = 0xFFFD;
    f.Characters.erase(0);
  }
  auto it = f.Characters.find(outline);
  return outline && it != f.Characters.end() ? it->second : 0;
}

bool InstalledGlyphIs(const std::string& file, int index, char32_t c, uint64_t outline) {
  std::lock_guard<std::mutex> g(InstalledLock);
  FT_Face face = Installed(file, index).Ft->Face;
  FT_UInt glyph = face ? FT_Get_Char_Index(face, c) : 0;
  return glyph && OutlineOf(face, glyph) == outline;
}

std::string DrawableProgram(std::string_view program, const std::vector<TkxCodeUse>& codes) {
  TFreeType ft(program);
  if (!ft.Face) return {};
  FT_Face face = ft.Face;
  bool unicode = FT_Select_Charmap(face, FT_ENCODING_UNICODE) == 0;
  if (unicode && std::all_of(codes.begin(), codes.end(), [&](const TkxCodeUse& u) {
        char32_t c = CharOf(u.Shown);
        return c == 0 || c <= 0x20 || FT_Get_Char_Index(face, c) != 0;
      }))
    return std::string(program);
  if (!FT_IS_SFNT(face) || face->num_charmaps == 0 || face->units_per_EM == 0) return {};
  SelectCodeMap(face);
  std::map<char32_t, uint32_t> glyphs;
  size_t checked = 0, wrong = 0;
  for (size_t k = 0; k < codes.size(); ++k) {
    FT_UInt g = CodeGlyph(face, uint32_t(k + 1));
    if (!g) continue;
    if (codes[k].Advance > 0 && FT_Load_Glyph(face, g, FT_LOAD_NO_SCALE) == 0) {
      double em = double(face->glyph->metrics.horiAdvance) / face->units_per_EM;
      ++checked;
      wrong += std::fabs(em - codes[k].Advance) > 0.02;
    }
    if (char32_t c = CharOf(codes[k].Shown); c > 0x20) glyphs.emplace(c, g);
  }
  // Text drawn with character spacing may differ a little; a wrong order differs everywhere.
  if (glyphs.empty() || (checked > 0 && wrong * 4 > checked)) return {};
  return WithCmap(program, Cmap(glyphs));
}

}  // namespace kx::pdf
