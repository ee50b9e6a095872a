#include "ui/thumbnail.h"

#include <exception>
#include <stdexcept>

#include <QBuffer>
#include <QImageReader>

#include "emf/bitmap.h"
#include "emf/metafile.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

namespace {

// A page image larger than this is no page of ours.
constexpr size_t kMaxImageFile = size_t(512) << 20;

QSize Fitted(QSize natural, QSize box) {
  if (natural.isEmpty()) return QSize();
  QSize s = natural.scaled(box, Qt::KeepAspectRatio);
  return s.expandedTo(QSize(1, 1));
}

QImage MetafileThumbnail(const std::string& path, QSize box) {
  TkxMetafile mf;
  mf.LoadFromFile(path);
  QSize natural(mf.Width(), mf.Height());
  QSize size = Fitted(natural, box);
  if (size.isEmpty()) throw std::runtime_error("The metafile has no size");
  // Letters a few pixels high come out as blots; the page is drawn larger (at most
  // its own size) and reduced smoothly, as the image edition's pages are.
  QSize drawn = Fitted(natural, (box * 4).boundedTo(natural.expandedTo(box)));
  TkxBitmap bmp;
  bmp.SetSize(drawn.width(), drawn.height());
  bmp.StretchDraw(mf, 0, 0, drawn.width(), drawn.height());
  std::string bytes = bmp.BmpBytes();
  QImage img = QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), int(bytes.size()), "BMP");
  return img.isNull() ? img : img.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage ImageThumbnail(const std::string& path, QSize box, std::string& why) {
  // Read by the name's bytes: Qt takes file names as text, and not every name is text.
  QByteArray bytes;
  try {
    std::string data = ReadWholeFile(path, kMaxImageFile);
    bytes = QByteArray(data.data(), qsizetype(data.size()));
  } catch (const std::exception& e) {
    why = e.what();
    return QImage();
  }
  QBuffer buffer(&bytes);
  QImageReader reader(&buffer);
  QSize natural = reader.size();
  if (natural.isValid()) reader.setScaledSize(Fitted(natural, box));
  QImage img = reader.read();
  if (img.isNull()) why = reader.errorString().toStdString();
  return img;
}

}  // namespace

QImage PageThumbnail(const std::string& path, QSize box, std::string& why) {
  why.clear();
  if (!SameText(ExtractFileExt(path), ".emf")) return ImageThumbnail(path, box, why);
  try {
    QImage img = MetafileThumbnail(path, box);
    if (img.isNull()) why = "The metafile could not be drawn";
    return img;
  } catch (const std::exception& e) {
    why = e.what();
  }
  return QImage();
}

}  // namespace kx
