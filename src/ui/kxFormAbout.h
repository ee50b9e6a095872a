#pragma once
// The about window: title, version and copyright on a borderless,
// half-transparent blue panel that any click or key closes.
#include <QLabel>

#include "ui/kxFormBase.h"

namespace kx {

class TkxFrmAbout : public TkxFrmBase {
  Q_OBJECT
 public:
  explicit TkxFrmAbout(QWidget* parent = nullptr);

  void ShowAbout();  // modal

  void FormShow();
  void FormClick();
  void FormKeyPress();

  QLabel* img;
  QLabel* lblProduct;
  QLabel* lblVersion;
  QLabel* lblCopright;

 protected:
  void showEvent(QShowEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
};

// The one about window; null before start-up creates it.
extern TkxFrmAbout* FrmAbout;

}  // namespace kx
