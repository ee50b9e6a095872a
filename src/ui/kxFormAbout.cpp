#include "ui/kxFormAbout.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "core/project.h"
#include "platform/text.h"

namespace kx {

TkxFrmAbout* FrmAbout = nullptr;

// A label in the desktop's font, `scale` times its size.
static QLabel* AboutLabel(QWidget* parent, const char* name, double scale, bool bold) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  QFont f = parent->font();
  if (f.pointSizeF() > 0)
    f.setPointSizeF(f.pointSizeF() * scale);
  else
    f.setPixelSize(qRound(f.pixelSize() * scale));
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
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(0, 85, 255));
  setPalette(pal);
  setAutoFillBackground(true);
  setWindowOpacity(200 / 255.0);

  img = new QLabel(this);
  img->setObjectName("img");
  img->setFixedSize(80, 80);
  lblProduct = AboutLabel(this, "lblProduct", 1.9, true);
  lblProduct->setAlignment(Qt::AlignCenter);
  lblProduct->setWordWrap(true);
  // With a buddy the label reads "&&" as one ampersand, as the title is written for it.
  lblProduct->setBuddy(this);
  lblVersion = AboutLabel(this, "lblVersion", 1.15, true);
  lblVersion->setAlignment(Qt::AlignCenter);
  lblCopright = AboutLabel(this, "lblCopright", 1.0, false);
  lblCopright->setText("Copyright \u00A9 2022 Lumipix Software");
  lblCopright->setAlignment(Qt::AlignCenter);
  // The logo at the left, the words beside it; the panel grows with the desktop's font.
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(16, 16, 24, 16);
  row->setSpacing(20);
  row->addWidget(img, 0, Qt::AlignTop);
  auto* words = new QVBoxLayout;
  words->addSpacing(24);
  words->addWidget(lblProduct);
  words->addWidget(lblVersion);
  words->addStretch(1);
  words->addWidget(lblCopright);
  row->addLayout(words, 1);
  setMinimumSize(472, 243);
  resize(minimumSize().expandedTo(sizeHint()));
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
