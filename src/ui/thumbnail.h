#pragma once
// Small pictures of page files for the preview.
#include <string>

#include <QImage>
#include <QSize>

namespace kx {

// The page at `path` fitted into `box` pixels, keeping its proportions: images
// that Qt reads (PNG) through Qt, enhanced metafiles through the program's own
// player. A null image when the file cannot be shown; `why` then says why.
QImage PageThumbnail(const std::string& path, QSize box, std::string& why);

}  // namespace kx
