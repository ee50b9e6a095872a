#pragma once
// Runs LibreOffice's own PDF reader (xpdfimport, in its program folder) on a PDF and
// keeps both of its outputs: the drawing operations as text, and the binary parts
// (fonts, images) that its standard error carries in step with them.
#include <string>

namespace kx::pdf {

struct TkxPdfReaderOutput {
  std::string Text, Binary;
};

// False when the reader is missing, cannot start, fails, or runs past `timeoutMs`
// (it is then killed).
bool RunPdfReader(const std::string& reader, const std::string& pdf, int timeoutMs, TkxPdfReaderOutput& out);

}  // namespace kx::pdf
