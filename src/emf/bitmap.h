#pragma once
// A bitmap in one of the classic pixel formats, drawn on a 32-bit cairo surface
// and reduced to its format when saved as a Windows bitmap file.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emf/cairoptr.h"

namespace kx {

enum class TkxPixelFormat { pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

class TkxMetafile;

struct TkxRgb {
  uint8_t R, G, B;
};
// The palettes of the formats that have one: black and white, the 16-colour system
// palette, the 256-colour halftone palette.
const std::vector<TkxRgb>& PaletteOf(TkxPixelFormat pf);

class TkxBitmap {
 public:
  TkxBitmap() = default;
  TkxBitmap(const TkxBitmap&) = delete;
  TkxBitmap& operator=(const TkxBitmap&) = delete;

  // Raises "Invalid pixel format" for pfCustom.
  void SetPixelFormat(TkxPixelFormat pf);
  TkxPixelFormat PixelFormat() const { return FFormat; }
  // A newly sized area is white. Raises for sizes beyond what can be held.
  void SetSize(int32_t width, int32_t height);
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }

  void Draw(const TkxMetafile& mf, int32_t x, int32_t y);  // at its natural size
  void StretchDraw(const TkxMetafile& mf, int32_t left, int32_t top, int32_t right, int32_t bottom);

  // The file's bytes: BITMAPFILEHEADER, BITMAPINFOHEADER, masks or palette, bottom-up rows.
  std::string BmpBytes() const;
  void SaveToFile(const std::string& path) const;
  // 0x00RRGGBB of a pixel of the 32-bit drawing surface.
  uint32_t PixelAt(int32_t x, int32_t y) const;

 private:
  TkxSurface FSurface;
  int32_t FWidth = 0, FHeight = 0;
  TkxPixelFormat FFormat = TkxPixelFormat::pf32bit;
};

// A bitmap to draw a metafile into: its size and format, and the rectangle from (0, 0)
// that the metafile's frame fills.
struct TkxBitmapPlan {
  int32_t Width = 0, Height = 0;
  double DrawW = 0, DrawH = 0;
  TkxPixelFormat Format = TkxPixelFormat::pf32bit;
};

// Draws `mf` as `plan` says (white where nothing is drawn) and hands the Windows bitmap
// file's bytes to `write` in order, header first, drawing one band of rows at a time:
// the memory is the same whatever the size (64 MB of drawing surface at most, and one
// band's rows in the file's format). Raises for sides beyond 32767 pixels.
void WriteBitmapFile(const TkxMetafile& mf, const TkxBitmapPlan& plan,
                     const std::function<void(const std::string&)>& write);

}  // namespace kx
