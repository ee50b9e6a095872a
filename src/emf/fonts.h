#pragma once
// Fonts for drawing metafiles. A face name resolves once for the process, through
// fontconfig, to an installed face file (or to nothing); the FreeType faces made from
// those files belong to one thread each, so pages drawn on several threads never share
// a FreeType face and need no lock around their text.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct _cairo_font_face cairo_font_face_t;

namespace kx {

// The installed face a font name resolves to.
struct TkxFaceMatch {
  std::string File;  // empty: nothing installed matches the name
  int Index = 0;
  std::string Family, Style, PostScriptName;
  int Weight = 400;  // the face's own, 100 to 900 as in LOGFONT
  bool Italic = false;
  bool Embolden = false, Oblique = false;  // to be synthesised: the name asks for more than the face has
  // How it matched: "postscript name", "family", "alias" (the configuration's substitute
  // for a family that is not installed); empty when nothing matched.
  std::string How;
  bool Found() const { return !How.empty(); }
};

// Resolves a face name as metafiles and PDFs write it ("P052", "ABCDEF+P052Roman",
// "URWBookman-Demi", "Times New Roman") with the weight and slant asked for (0 or 400
// and false: whatever the name says): first fontconfig's own match on the PostScript
// name, then the family and style words, then the configuration's substitute for that
// family. A name that none of them matches is not Found(); fontconfig's last resort is
// then in File, for the caller to use knowingly.
TkxFaceMatch MatchFace(const std::string& name, int weight, bool italic);

// A face program of its own (TrueType, CFF or Type 1, as FreeType reads from memory),
// shared by whoever draws with it.
using TkxFontProgram = std::shared_ptr<const std::string>;

// The faces of the calling thread. Only FaceSet() gives one out, and it is the calling
// thread's own: faces made here are used on this thread only.
class TkxThreadFaces {
 public:
  TkxThreadFaces(const TkxThreadFaces&) = delete;
  TkxThreadFaces& operator=(const TkxThreadFaces&) = delete;
  ~TkxThreadFaces();

  // The face a name resolves to (MatchFace), its last resort included; nullptr when
  // there is no font at all. Owned by the set.
  cairo_font_face_t* Named(const std::string& name, int weight, bool italic);
  // A face made from a program; nullptr when FreeType cannot read it.
  cairo_font_face_t* Program(const TkxFontProgram& program);
  // Whether the program's face has a glyph for every one of `chars` (code points).
  bool HasGlyphs(const TkxFontProgram& program, const std::vector<uint32_t>& chars);
  // An installed face that has a glyph for `codePoint`, or nullptr.
  cairo_font_face_t* Fallback(char32_t codePoint, int weight, bool italic);

 private:
  friend TkxThreadFaces& FaceSet();
  TkxThreadFaces();
  struct TImpl;
  std::unique_ptr<TImpl> F;
};

// The calling thread's faces.
TkxThreadFaces& FaceSet();

// The family name fontconfig resolves a metafile face name to (for tests).
std::string ResolveFontFamily(const std::string& face);

}  // namespace kx
