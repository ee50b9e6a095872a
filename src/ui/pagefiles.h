#pragma once
// The page files of a converted document, found from the row's result text.
#include <string>
#include <vector>

namespace kx {

// `resultText` names the document's pages with "*" standing for the page number
// ("/out/report-*.png"). Returns the files of that folder whose names fit the
// pattern with a page number (digits only) in place of the "*", in page order.
// Nothing for a text that is no such pattern (an error message, an empty result).
std::vector<std::string> PageFilesOf(const std::string& resultText);

}  // namespace kx
