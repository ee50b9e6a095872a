// Arbitrary bytes as a bitmap file for the PNG module's reader.
#include <cstdint>
#include <string>

#include "pngmodule/bmpread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kxpng::TkxImage img;
  std::string why;
  if (kxpng::ReadBmp(std::string(reinterpret_cast<const char*>(data), size), img, why)) {
    size_t bytes = img.Bits == 24 ? 3 : 1;
    for (const auto& row : img.Rows)
      if (row.size() != img.Width * bytes) __builtin_trap();
    if (img.Rows.size() != img.Height) __builtin_trap();
  }
  return 0;
}
