#pragma once
// The config dialog: every setting of the project as key=value lines, the warnings
// the console would give about them, and every option with its default.
#include <string>
#include <vector>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "ui/kxFormBase.h"

namespace kx {

class TkxFrmCfg : public TkxFrmBase {
  Q_OBJECT
 public:
  explicit TkxFrmCfg(QWidget* parent = nullptr);

  void FormShow();
  void btnOkClick();
  void btnHelpClick();
  // What the console would warn about in the text as it stands, one line each.
  std::vector<std::string> Warnings() const;

  QPlainTextEdit* txtCfg;
  QLabel* lblWarnings;    // the warnings, under the text; hidden while there are none
  QTreeWidget* lOptions;  // every option: the ones the text sets first, with their values
  QPushButton *btnOk, *btnCancel, *btnHelp;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  // The warnings and the option list follow the text as it is edited.
  void TextChanged();
  // A double-click on an option the text does not set adds its line.
  void AddOptionLine(QTreeWidgetItem* row);
};

}  // namespace kx
