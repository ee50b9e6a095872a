#pragma once
// Reads a Windows bitmap file into rows of palette indices or RGB pixels.
#include <cstdint>
#include <string>
#include <vector>

#include "emf/dib.h"

namespace kxpng {

struct TkxImage {
  uint32_t Width = 0, Height = 0;
  int Bits = 24;                           // 1, 4 or 8: palette indices; 24: RGB
  std::vector<uint8_t> Palette;            // RGB triples
  std::vector<std::vector<uint8_t>> Rows;  // top row first; one byte per index, or 3 per RGB pixel
};

// False for anything that is not a bitmap this reader can decode safely.
bool ReadBmp(const std::string& bytes, TkxImage& out, std::string& why);

// A bitmap file read a row at a time, so that its size costs no memory: an
// uncompressed one whose header and pixels the file holds whole. `Open` reads the
// header into `Image` (with no rows); `Row` gives row y, top row first.
class TkxBmpRows {
 public:
  bool Open(int fd, std::string& why);
  const TkxImage& Image() const { return FImage; }
  // One byte per index, or 3 per RGB pixel; null when the file cannot be read there.
  const uint8_t* Row(uint32_t y);

 private:
  int FFd = -1;
  uint64_t FOffBits = 0;
  kx::TkxDib FDib;
  TkxImage FImage;
  std::string FRaw;
  std::vector<uint8_t> FRow;
};

}  // namespace kxpng
