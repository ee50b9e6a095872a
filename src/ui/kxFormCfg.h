#pragma once
// The config dialog: every setting of the project as key=value lines.
#include <QPlainTextEdit>
#include <QPushButton>

#include "ui/kxFormBase.h"

namespace kx {

class TkxFrmCfg : public TkxFrmBase {
  Q_OBJECT
 public:
  explicit TkxFrmCfg(QWidget* parent = nullptr);

  void FormShow();
  void btnOkClick();
  void btnHelpClick();

  QPlainTextEdit* txtCfg;
  QPushButton *btnOk, *btnCancel, *btnHelp;

 protected:
  void showEvent(QShowEvent* e) override;
};

}  // namespace kx
