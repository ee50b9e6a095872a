// The PNG module: rewrites a Windows bitmap file as a PNG image.
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fd.h"
#include "platform/hostid.h"
#include "pngmodule/bmpread.h"

namespace {

// The path's bytes. A lone U+DC80..U+DCFF stands for the byte of its low half: the
// caller's way of passing names that are not valid UTF-8, which no valid text gives.
std::string PathBytes(const char16_t* s) {
  std::string r;
  for (; s && *s; ++s) {
    uint32_t cp = *s;
    if (cp >= 0xD800 && cp <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(s[1]) - 0xDC00);
      ++s;
    } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
      r.push_back(char(cp - 0xDC00));
      continue;
    }
    if (cp < 0x80) {
      r.push_back(char(cp));
    } else if (cp < 0x800) {
      r.push_back(char(0xC0 | cp >> 6)), r.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      r.push_back(char(0xE0 | cp >> 12)), r.push_back(char(0x80 | (cp >> 6 & 0x3F))),
          r.push_back(char(0x80 | (cp & 0x3F)));
    } else {
      r.push_back(char(0xF0 | cp >> 18)), r.push_back(char(0x80 | (cp >> 12 & 0x3F)));
      r.push_back(char(0x80 | (cp >> 6 & 0x3F))), r.push_back(char(0x80 | (cp & 0x3F)));
    }
  }
  return r;
}

bool ReadAll(const std::string& path, std::string& data) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

std::vector<png_color> PaletteOf(const kxpng::TkxImage& img) {
  std::vector<png_color> pal;
  if (img.Bits > 8) return pal;
  for (size_t i = 0; i + 2 < img.Palette.size(); i += 3)
    pal.push_back({img.Palette[i], img.Palette[i + 1], img.Palette[i + 2]});
  if (pal.empty()) pal.push_back({0, 0, 0});
  return pal;
}

// libpng reports its errors by longjmp back to the setjmp here: no object with a
// destructor may live in this frame, so the caller owns the palette and the structs.
// The rows come from `rows` when given (read a row at a time), else from the image.
bool WritePngRows(png_structp png, png_infop info, FILE* f, const kxpng::TkxImage& img, std::vector<png_color>& pal,
                  kxpng::TkxBmpRows* rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, f);
  // Pages are mostly white: a fast level and the one "up" filter compress them
  // within a tenth of the best in half the time of trying every filter per row.
  // Palette images compress best unfiltered.
  png_set_compression_level(png, 2);
  bool palette = !pal.empty();
  png_set_filter(png, PNG_FILTER_TYPE_BASE, palette ? PNG_FILTER_NONE : PNG_FILTER_UP);
  png_set_IHDR(png, info, img.Width, img.Height, palette ? img.Bits : 8,
               palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (palette) png_set_PLTE(png, info, pal.data(), int(pal.size()));
  png_set_pHYs(png, info, 3780, 3780, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  if (palette && img.Bits < 8) png_set_packing(png);
  for (uint32_t y = 0; y < img.Height; ++y) {
    const uint8_t* row = rows ? rows->Row(y) : img.Rows[y].data();
    if (!row) return false;
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  return true;
}

bool WritePng(FILE* f, const kxpng::TkxImage& img, kxpng::TkxBmpRows* rows) {
  std::vector<png_color> pal = PaletteOf(img);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  bool ok = info && WritePngRows(png, info, f, img, pal, rows);
  png_destroy_write_struct(&png, info ? &info : nullptr);
  return ok;
}

}  // namespace

// Both paths may name the same file: the PNG is written first under the converter's
// kind of temporary name (host and process), in the target's folder (short whatever the target's name,
// and swept by the converter if the process dies), flushed to the disk, and then
// replaces the target atomically. An uncompressed bitmap is read a row at a time, so
// that a page of any size costs a row of memory; a compressed one is read whole.
extern "C" __attribute__((visibility("default"))) bool ConvertBMP2PNG(const char16_t* bmpFile,
                                                                      const char16_t* pngFile) {
  std::string src = PathBytes(bmpFile), dst = PathBytes(pngFile), data, why;
  if (src.empty() || dst.empty()) return false;
  kx::UniqueFd in(open(src.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return false;
  kxpng::TkxBmpRows rows;
  kxpng::TkxImage img;
  bool streamed = rows.Open(in.Get(), why);
  if (streamed) {
    img = rows.Image();
  } else {
    if (!ReadAll(src, data) || !kxpng::ReadBmp(data, img, why)) return false;
    data.clear();
    data.shrink_to_fit();
  }
  size_t slash = dst.rfind('/');
  std::string tmpl =
      (slash == std::string::npos ? std::string() : dst.substr(0, slash + 1)) + kx::TempNamePrefix() + "XXXXXX.tmp";
  kx::UniqueFd fd(mkstemps(tmpl.data(), 4));
  if (!fd) return false;
  FILE* f = fdopen(fd.Get(), "wb");
  if (!f) {
    unlink(tmpl.c_str());
    return false;
  }
  fd.Release();  // the stream owns it now
  bool ok = WritePng(f, img, streamed ? &rows : nullptr);
  ok = (std::fflush(f) == 0) && ok;
  ok = ok && fsync(fileno(f)) == 0;
  fchmod(fileno(f), 0644);
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(tmpl.c_str(), dst.c_str()) != 0) {
    int err = errno;  // the caller reports why
    unlink(tmpl.c_str());
    errno = err;
    return false;
  }
  return true;
}
