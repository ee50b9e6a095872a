#pragma once
// Draw lays a text out again with its own rounded advances, so a page's lines in
// its metafile run up to a percent longer or shorter than Writer set them. The PDF
// still holds Writer's glyph places: each text record of the metafile that spells
// the glyphs found at its place gets their advances instead.
#include <string>

#include "office/pdftext.h"

namespace kx::office {

// Rewrites, in place, the start and advances of every text record of `emf` that
// matches glyphs of `page`; records that do not match, and all records while the
// mapping is not 0.01 mm per logical unit, stay as they are. Returns how many
// records were changed.
int PlaceTextFromPdf(std::string& emf, const TkxPdfPage& page);

}  // namespace kx::office
