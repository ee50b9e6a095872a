#include "ui/kxLumipixAbout.h"

#include "ui/images.h"

namespace kx {

TkxFrmLumipixAbout::TkxFrmLumipixAbout(QWidget* parent) : TkxFrmAbout(parent) {
  QPixmap logo = LumipixLogo(devicePixelRatioF());
  img->setGeometry(QRect(QPoint(16, 16), logo.deviceIndependentSize().toSize()));
  img->setPixmap(logo);
  img->setAttribute(Qt::WA_TranslucentBackground);
}

}  // namespace kx
