#pragma once
// Every page of a PDF, as LibreOffice's PDF reader reports its drawing operations,
// translated into one complete enhanced metafile: the frame is the page, the
// reference device has exactly 96 dpi, and the logical unit is 1/100 pt, mapped so
// that the page at 96 dpi fills the frame to the pixel.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx::pdf {

// Pixels of a page side of `points` at 96 dpi, rounded up as pdftoppm rounds them.
int32_t PagePixels(double points);

// One metafile per page. `complete` becomes false when the output ends early or
// breaks off; the pages before that point are still given.
std::vector<std::string> TranslatePdfPages(std::string_view text, std::string_view binary, bool* complete = nullptr);

// The same for a PDF file read in this process (pdf/pdffile.h). `complete` becomes
// false, and `error` says why, when the file cannot be read as a PDF.
std::vector<std::string> TranslatePdfFile(const std::string& path, bool* complete = nullptr,
                                          std::string* error = nullptr);

}  // namespace kx::pdf
