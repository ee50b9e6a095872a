#pragma once
// Device-independent bitmaps: the header with its colour masks and colour table, and
// the pixel rows of every classic format (1, 4 and 8 bits with a palette, RLE8, RLE4,
// 16, 24 and 32 bits, bit fields). One decoder for the metafile player and the PNG
// module's bitmap reader.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kx {

struct TkxDib {
  int32_t Width = 0, Height = 0;  // the height without its sign
  bool BottomUp = true;           // the bottom row comes first in the data
  int Bits = 0;                   // 1, 4, 8, 16, 24 or 32
  uint32_t Compression = 0;       // BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS or BI_ALPHABITFIELDS
  uint32_t Masks[4] = {};         // red, green, blue, alpha of 16- and 32-bit pixels
  uint32_t PaletteSize = 0;       // the entries the header asks for (up to 8 bits)
  std::vector<uint32_t> Palette;  // 0xFFRRGGBB, the entries that the header's bytes hold

  bool Rle() const;
  uint64_t RowBytes() const;    // one uncompressed row with its padding to 4 bytes
  uint64_t PixelBytes() const;  // every uncompressed row
};

// Reads the BITMAPCOREHEADER or BITMAPINFOHEADER (and later) at `info`, with the masks
// and the colour table that follow it within `size` bytes. False, with the reason, for
// anything that cannot be decoded safely or has more than `maxPixels` pixels.
bool ReadDibHeader(const uint8_t* info, size_t size, uint64_t maxPixels, TkxDib& dib, std::string& why);

enum class TkxDibValues {
  Colors,           // 0xFFRRGGBB
  ColorsWithAlpha,  // 0xAARRGGBB: 32-bit pixels keep their alpha, the others are opaque
  Indices,          // palette indices up to 8 bits, colours above
};

// Hands the rows to `row` top row first, each as `Width` values. An index beyond the
// palette is index 0. Pixels the data does not reach (short data, RLE jumps and early
// ends) are `blank`.
void DecodeDibRows(const TkxDib& dib, const uint8_t* bits, size_t size, TkxDibValues values, uint32_t blank,
                   const std::function<void(uint32_t y, const uint32_t* values)>& row);

}  // namespace kx
