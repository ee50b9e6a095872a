#include "ui/kxLumipixAbout.h"

#include "ui/images.h"

namespace kx {

TkxFrmLumipixAbout::TkxFrmLumipixAbout(QWidget* parent) : TkxFrmAbout(parent) {
  QPixmap logo = LumipixLogo();
  img->setGeometry(16, 16, logo.width(), logo.height());
  img->setPixmap(logo);
  img->setAttribute(Qt::WA_TranslucentBackground);
}

}  // namespace kx
