#include "ui/kxFormBase.h"

#include <QGuiApplication>
#include <QScreen>

namespace kx {

QFont BaseFont() {
  QFont f;
  f.setFamilies({"Tahoma", "Liberation Sans", "DejaVu Sans"});
  f.setPixelSize(11);
  f.setStyleHint(QFont::SansSerif);
  return f;
}

TkxFrmBase::TkxFrmBase(QWidget* parent) : QDialog(parent) {
  setFont(BaseFont());
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, QGuiApplication::palette().color(QPalette::WindowText));
  setPalette(pal);
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
