#include "ui/kxLumipixAbout.h"

#include "ui/images.h"

namespace kx {

TkxFrmLumipixAbout::TkxFrmLumipixAbout(QWidget* parent) : TkxFrmAbout(parent) {
  QPixmap logo = LumipixLogo(devicePixelRatioF());
  img->setFixedSize(logo.deviceIndependentSize().toSize());
  img->setPixmap(logo);
  img->setAttribute(Qt::WA_TranslucentBackground);
  resize(minimumSize().expandedTo(sizeHint()));
  CentreOnScreen();
}

}  // namespace kx
