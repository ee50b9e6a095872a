#pragma once
// The common look of every window: opening place and size, the desktop's colours
// and font (the font and size the user chose for the desktop, never one of ours), hints.
#include <QDialog>

namespace kx {

class TkxFrmBase : public QDialog {
  Q_OBJECT
 public:
  explicit TkxFrmBase(QWidget* parent = nullptr);

  // Centres the window's frame on the screen it opens on.
  void CentreOnScreen();
};

}  // namespace kx
