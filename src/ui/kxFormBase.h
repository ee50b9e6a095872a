#pragma once
// The common look of every window: opening place and size, face colour, font, hints.
#include <QDialog>

namespace kx {

class TkxFrmBase : public QDialog {
  Q_OBJECT
 public:
  explicit TkxFrmBase(QWidget* parent = nullptr);

  // Centres the window's frame on the screen it opens on.
  void CentreOnScreen();
};

// "Tahoma", 11 pixels, with look-alikes for desktops that lack it.
QFont BaseFont();

}  // namespace kx
