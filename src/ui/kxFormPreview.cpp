#include "ui/kxFormPreview.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "platform/paths.h"
#include "platform/shell.h"
#include "ui/pagefiles.h"
#include "ui/thumbnail.h"

namespace kx {

namespace {
const QSize kThumb(150, 200);

// The empty frame a page shows until its picture is drawn, and when it cannot be.
QIcon Placeholder(qreal dpr, const QString& text) {
  QPixmap pix(kThumb * dpr);
  pix.setDevicePixelRatio(dpr);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  p.setPen(QColor(160, 160, 160));
  p.setBrush(QColor(248, 248, 248));
  QRectF page(QPointF(0, 0), QSizeF(kThumb.width() * 0.75, kThumb.height() - 1));
  page.moveCenter(QRectF(QPointF(0, 0), QSizeF(kThumb)).center());
  p.drawRect(page);
  p.drawText(page.adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap, text);
  return QIcon(pix);
}
}  // namespace

TkxFrmPreview::TkxFrmPreview(QWidget* parent) : TkxFrmBase(parent) {
  setObjectName("frmPreview");
  setWindowFlags(Qt::Window);
  setWindowTitle("Preview");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(6);
  lblFile = new QLabel(this);
  lblFile->setObjectName("lblFile");
  lblFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblFile->setTextFormat(Qt::PlainText);
  layout->addWidget(lblFile);
  lblNote = new QLabel(this);
  lblNote->setObjectName("lblNote");
  lblNote->setTextFormat(Qt::PlainText);
  lblNote->setWordWrap(true);
  layout->addWidget(lblNote);
  lPages = new QListWidget(this);
  lPages->setObjectName("lPages");
  lPages->setViewMode(QListView::IconMode);
  lPages->setIconSize(kThumb);
  lPages->setMovement(QListView::Static);
  lPages->setResizeMode(QListView::Adjust);
  lPages->setUniformItemSizes(true);
  lPages->setSpacing(8);
  lPages->setWordWrap(true);
  lPages->setSelectionMode(QAbstractItemView::SingleSelection);
  lPages->setToolTip("Double-click a page to open it with the desktop's viewer");
  layout->addWidget(lPages, 1);
  connect(lPages, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) { OpenPage(lPages->row(item)); });
  FLoader.setInterval(0);
  connect(&FLoader, &QTimer::timeout, this, [this] { LoadNext(); });
  Clear();

  // Four pages side by side, as far as the screen allows.
  QSize size(4 * (kThumb.width() + 28) + 40, kThumb.height() * 2 + 150);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size() * 0.9);
  resize(size);
  CentreOnScreen();
}

void TkxFrmPreview::ShowDocument(int itemIndex, const std::string& fileName, int status, const std::string& resultText,
                                 const std::string& pagePattern) {
  FLoader.stop();
  lPages->clear();
  FItemIndex = itemIndex;
  // Found by the names' bytes: the shown result need not name them exactly.
  FPages = status == 1 ? PageFilesOf(pagePattern) : std::vector<std::string>();
  FNext = 0;
  setWindowTitle(QString::fromStdString("Preview - " + DisplayPath(ExtractFileName(fileName))));
  lblFile->setText(QString::fromStdString(DisplayPath(fileName) + (FPages.empty() ? "" : "  =>  " + resultText)));
  QString note;
  if (status == 0)
    note = "This document is not converted yet.";
  else if (status == 2)
    note = QString::fromStdString("This document failed: " + resultText);
  else if (FPages.empty())
    note = resultText.empty() ? "No page files: the document was skipped because its pages existed already."
                              : QString::fromStdString("No page files found for " + resultText);
  else
    note = QString("%1 page%2. Double-click a page to open it.").arg(FPages.size()).arg(FPages.size() == 1 ? "" : "s");
  lblNote->setText(note);
  const qreal dpr = devicePixelRatioF();
  for (size_t i = 0; i < FPages.size(); ++i) {
    auto* item = new QListWidgetItem(Placeholder(dpr, "..."), QString("Page %1").arg(i + 1), lPages);
    item->setToolTip(QString::fromStdString(DisplayPath(FPages[i])));
    item->setTextAlignment(Qt::AlignHCenter);
  }
  if (!FPages.empty()) FLoader.start();
}

void TkxFrmPreview::Clear() {
  FLoader.stop();
  lPages->clear();
  FItemIndex = -1;
  FPages.clear();
  FNext = 0;
  setWindowTitle("Preview");
  lblFile->clear();
  lblNote->setText("Double-click a row of the list to see the pages of its document.");
}

void TkxFrmPreview::LoadNext() {
  if (FNext >= FPages.size()) {
    FLoader.stop();
    return;
  }
  size_t i = FNext++;
  const qreal dpr = devicePixelRatioF();
  std::string why;
  QImage img = PageThumbnail(FPages[i], (kThumb - QSize(2, 2)) * dpr, why);
  QListWidgetItem* item = lPages->item(int(i));
  if (!item) return;
  if (img.isNull()) {
    item->setIcon(Placeholder(dpr, QString::fromStdString(DisplayPath(why))));
    item->setToolTip(QString::fromStdString(DisplayPath(FPages[i]) + "\n" + DisplayPath(why)));
    return;
  }
  // A white page on the list's background, with a thin frame.
  QPixmap pix(kThumb * dpr);
  pix.setDevicePixelRatio(dpr);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  QSizeF shown = QSizeF(img.size()) / dpr;  // fitted into the frame's inside
  QRectF at(QPointF((kThumb.width() - shown.width()) / 2, (kThumb.height() - shown.height()) / 2), shown);
  p.fillRect(at, Qt::white);
  p.drawImage(at, img);
  p.setPen(QColor(150, 150, 150));
  p.drawRect(at.adjusted(-0.5, -0.5, 0.5, 0.5));  // on the pixels just outside the page
  p.end();
  item->setIcon(QIcon(pix));
  if (FNext >= FPages.size()) FLoader.stop();
}

void TkxFrmPreview::OpenPage(int page) {
  if (page >= 0 && size_t(page) < FPages.size()) ShellOpen(FPages[size_t(page)]);
}

}  // namespace kx
