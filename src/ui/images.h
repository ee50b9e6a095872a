#pragma once
// The pictures the program draws itself: the 16 images of the main window's
// image list and the edition's about logo.
#include <QIcon>
#include <QList>
#include <QPixmap>

namespace kx {

inline constexpr int kImageCount = 16;

// Image `index` (0..15) of the list with a transparent background, drawn for a
// square of `pixels` (its design size is 16 by 16).
QPixmap ListImage(int index, int pixels = 16);
// The same picture as an icon that is drawn afresh for each size and pixel density.
QIcon ListIcon(int index);
QList<QIcon> ImageList();

// The product's icon (the packaged SVG) at the sizes desktops ask for.
QIcon ProductIcon();

// Background of the logo, treated as transparent where it is shown.
inline constexpr QRgb kLogoKey = qRgb(51, 153, 102);
// 128 by 128, 24-bit: a document and a picture in white frames joined by two green arrows.
QImage LumipixLogoBitmap();
// The same with the key colour masked out, drawn for a screen of pixel ratio `scale`.
QPixmap LumipixLogo(qreal scale = 1.0);

}  // namespace kx
