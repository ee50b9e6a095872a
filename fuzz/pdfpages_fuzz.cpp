// The page translation on arbitrary reader output: the first two bytes give the length
// of the text part, the rest is the binary part (fonts, images).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pdf/pdfpage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t textSize = std::min<size_t>(size - 2, size_t(data[0]) | size_t(data[1]) << 8);
  std::string_view all(reinterpret_cast<const char*>(data) + 2, size - 2);
  bool complete = false;
  kx::pdf::TranslatePdfPages(all.substr(0, textSize), all.substr(textSize), &complete);
  return 0;
}
