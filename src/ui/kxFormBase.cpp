#include "ui/kxFormBase.h"

#include <QGuiApplication>
#include <QScreen>

namespace kx {

TkxFrmBase::TkxFrmBase(QWidget* parent) : QDialog(parent) {
  setGeometry(100, 100, 1200, 600);
  CentreOnScreen();
}

void TkxFrmBase::CentreOnScreen() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = screen->availableGeometry();
  QRect r = frameGeometry();
  move(area.center() - QPoint(r.width() / 2, r.height() / 2) + (geometry().topLeft() - r.topLeft()));
}

}  // namespace kx
