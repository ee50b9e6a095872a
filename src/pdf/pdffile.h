#pragma once
// Reads a PDF file in this process with poppler and feeds its drawing operations to a
// sink, in the terms of pdf/pdfops.h: the same operations LibreOffice's PDF reader
// reports, and what that reader leaves out (transparency groups, soft masks, smooth
// shadings, the opacity of strokes).
#include <string>

#include "pdf/pdfops.h"

namespace kx::pdf {

// False when the file cannot be opened as a PDF or has no page; `error` then holds
// poppler's last message (or the reason). Pages that poppler reads only in part are
// still given as far as they go.
bool ReadPdfFile(const std::string& path, TkxPdfSink& sink, std::string& error);

}  // namespace kx::pdf
