#include "ui/kxFormCfg.h"

#include "core/infoslot.h"
#include "core/project.h"
#include "platform/text.h"

namespace kx {

static QPushButton* CfgButton(QWidget* parent, const char* name, const char* caption, int left) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setGeometry(left, 233, 72, 25);
  b->setAutoDefault(false);
  return b;
}

TkxFrmCfg::TkxFrmCfg(QWidget* parent) : TkxFrmBase(parent) {
  setObjectName("frmCfg");
  setWindowTitle("Config");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(292, 273);
  txtCfg = new QPlainTextEdit(this);
  txtCfg->setObjectName("txtCfg");
  txtCfg->setGeometry(16, 16, 256, 200);
  txtCfg->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtCfg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtCfg->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtCfg->setToolTip("Please add/delete/modify the options by yourself");
  btnOk = CfgButton(this, "btnOk", "&Ok", 120);
  btnCancel = CfgButton(this, "btnCancel", "Cancel", 200);
  btnHelp = CfgButton(this, "btnHelp", "Help", 16);
  btnHelp->setToolTip("Click here to see the details about the options");
  connect(btnOk, &QPushButton::clicked, this, [this] {
    btnOkClick();
    accept();
  });
  connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(btnHelp, &QPushButton::clicked, this, [this] { btnHelpClick(); });
  CentreOnScreen();
}

void TkxFrmCfg::showEvent(QShowEvent* e) {
  FormShow();
  TkxFrmBase::showEvent(e);
}

void TkxFrmCfg::FormShow() {
  if (!Project) return;
  Project->StoreSettings(false);
  std::string text = ReplaceAll(Project->GetSettingsText(), "\r\n", "\n");
  txtCfg->setPlainText(QString::fromStdString(text));
}

void TkxFrmCfg::btnOkClick() {
  if (!Project) return;
  Project->SetSettingsText(txtCfg->toPlainText().toStdString());
  Project->ApplyToControls();
}

void TkxFrmCfg::btnHelpClick() {
  if (Info) Info->OpenLink("h", "", "");
}

}  // namespace kx
