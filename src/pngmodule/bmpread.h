#pragma once
// Reads a Windows bitmap file into rows of palette indices or RGB pixels.
#include <cstdint>
#include <string>
#include <vector>

namespace kxpng {

struct TkxImage {
  uint32_t Width = 0, Height = 0;
  int Bits = 24;                           // 1, 4 or 8: palette indices; 24: RGB
  std::vector<uint8_t> Palette;            // RGB triples
  std::vector<std::vector<uint8_t>> Rows;  // top row first; one byte per index, or 3 per RGB pixel
};

// False for anything that is not a bitmap this reader can decode safely.
bool ReadBmp(const std::string& bytes, TkxImage& out, std::string& why);

}  // namespace kxpng
