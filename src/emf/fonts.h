#pragma once
// Fonts for drawing metafiles, found through fontconfig by face name, weight and
// slant. Faces are cached for the whole process and shared between threads.
#include <mutex>
#include <string>

typedef struct _cairo_font_face cairo_font_face_t;

namespace kx {

// The face that best matches a metafile's face name ("LiberationSerif",
// "ABCDEF+DejaVuSans-Bold", "Times New Roman"); a weight and slant run into the name
// count where `weight` is plain (0 or 400) and `italic` is false. Owned by the cache.
cairo_font_face_t* FindFontFace(const std::string& face, int weight, bool italic);
// A face that has a glyph for `codePoint`, or nullptr. Owned by the cache.
cairo_font_face_t* FallbackFontFace(char32_t codePoint, int weight, bool italic);
// Held by whoever measures, shapes or draws text with these faces. Their FreeType
// faces are shared by all threads, and cairo hands a face out unlocked
// (cairo_ft_scaled_font_lock_face), so two pages drawing text at once would load
// glyphs into one face together.
std::mutex& FontFaceLock();
// The family name fontconfig resolves a metafile face name to (for tests).
std::string ResolveFontFamily(const std::string& face);

}  // namespace kx
