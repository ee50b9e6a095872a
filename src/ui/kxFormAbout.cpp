#include "ui/kxFormAbout.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "core/project.h"
#include "platform/text.h"

namespace kx {

TkxFrmAbout* FrmAbout = nullptr;

static QLabel* AboutLabel(QWidget* parent, const char* name, QRect r, int pixels, bool bold) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  l->setGeometry(r);
  QFont f("Verdana");
  f.setFamilies({"Verdana", "DejaVu Sans"});
  f.setPixelSize(pixels);
  f.setBold(bold);
  l->setFont(f);
  QPalette pal = l->palette();
  pal.setColor(QPalette::WindowText, QColor(221, 221, 221));
  l->setPalette(pal);
  return l;
}

TkxFrmAbout::TkxFrmAbout(QWidget* parent) : TkxFrmBase(parent) {
  setObjectName("frmAbout");
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setWindowTitle("About");  // not shown; lets desktop tools find the window
  setFixedSize(472, 243);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0, 85, 255));
  setPalette(pal);
  setAutoFillBackground(true);
  setWindowOpacity(200 / 255.0);
  QFont f = font();
  f.setFamilies({"Verdana", "DejaVu Sans"});
  setFont(f);

  img = new QLabel(this);
  img->setObjectName("img");
  img->setGeometry(40, 40, 80, 80);
  lblProduct = AboutLabel(this, "lblProduct", QRect(163, 40, 250, 50), 21, true);
  lblProduct->setAlignment(Qt::AlignCenter);
  lblProduct->setWordWrap(true);
  // With a buddy the label reads "&&" as one ampersand, as the title is written for it.
  lblProduct->setBuddy(this);
  lblVersion = AboutLabel(this, "lblVersion", QRect(176, 96, 224, 16), 13, true);
  lblVersion->setAlignment(Qt::AlignCenter);
  lblCopright = AboutLabel(this, "lblCopright", QRect(184, 208, 264, 16), 13, false);
  lblCopright->setText("Copyright \u00A9 2022 Lumipix Software");
  CentreOnScreen();
}

void TkxFrmAbout::ShowAbout() { exec(); }

void TkxFrmAbout::FormShow() {
  if (!lblProduct->text().isEmpty() || !Project) return;
  lblProduct->setText(QString::fromStdString(ReplaceAll(Project->Title, "&", "&&")));
  lblVersion->setText(QString::fromStdString(Project->Version));
}

void TkxFrmAbout::FormClick() { done(QDialog::Accepted); }
void TkxFrmAbout::FormKeyPress() { FormClick(); }

void TkxFrmAbout::showEvent(QShowEvent* e) {
  FormShow();
  TkxFrmBase::showEvent(e);
}

// Labels and the logo leave their clicks to the window, so one handler serves them all.
void TkxFrmAbout::mousePressEvent(QMouseEvent* e) {
  e->accept();
  FormClick();
}

void TkxFrmAbout::keyPressEvent(QKeyEvent* e) {
  e->accept();
  FormKeyPress();
}

}  // namespace kx
