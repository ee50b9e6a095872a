#include "ui/images.h"

#include <QApplication>
#include <QBitmap>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>

namespace kx {

namespace {

const QColor Blue(30, 90, 210), Green(30, 150, 50), Red(210, 35, 35), Outline(70, 70, 70);

void Triangle(QPainter& p) {
  QPolygonF t({QPointF(4, 2), QPointF(13, 8), QPointF(4, 14)});
  p.setPen(QPen(Blue.darker(130), 1));
  p.setBrush(Blue);
  p.drawPolygon(t);
}

void Tick(QPainter& p) {
  QPainterPath path;
  path.moveTo(2.5, 8.5);
  path.lineTo(6.5, 12.5);
  path.lineTo(13.5, 3.5);
  p.setPen(QPen(Green, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(path);
}

void Cross(QPainter& p) {
  p.setPen(QPen(Red, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
  p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& c) {
  p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(from, to);
  QLineF l(to, from);
  QLineF a = l, b = l;
  a.setLength(4);
  b.setLength(4);
  a.setAngle(l.angle() + 35);
  b.setAngle(l.angle() - 35);
  p.setBrush(c);
  p.setPen(QPen(c, 1));
  p.drawPolygon(QPolygonF({to, a.p2(), b.p2()}));
}

void Folder(QPainter& p) {
  p.setPen(QPen(QColor(160, 120, 20), 1));
  p.setBrush(QColor(240, 200, 80));
  p.drawRect(QRectF(1.5, 4.5, 11, 9));
  p.drawRect(QRectF(1.5, 3.5, 5, 2));
  p.setBrush(QColor(250, 220, 120));
  p.drawPolygon(QPolygonF({QPointF(3.5, 7.5), QPointF(14.5, 7.5), QPointF(12.5, 13.5), QPointF(1.5, 13.5)}));
  Arrow(p, QPointF(8, 6), QPointF(14, 1.5), Green);
}

void Sheet(QPainter& p, QRectF r) {
  p.setPen(QPen(Outline, 1));
  p.setBrush(Qt::white);
  QPolygonF s(
      {r.topLeft(), QPointF(r.right() - 3, r.top()), QPointF(r.right(), r.top() + 3), r.bottomRight(), r.bottomLeft()});
  p.drawPolygon(s);
}

void Star(QPainter& p, QPointF c, double radius, const QColor& color) {
  QPolygonF star;
  for (int i = 0; i < 10; ++i) {
    double r = (i % 2) ? radius * 0.45 : radius;
    double a = -M_PI / 2 + i * M_PI / 5;
    star << QPointF(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
  }
  p.setPen(QPen(color.darker(140), 0.8));
  p.setBrush(color);
  p.drawPolygon(star);
}

void Diskette(QPainter& p, QRectF r, const QColor& body) {
  p.setPen(QPen(body.darker(160), 1));
  p.setBrush(body);
  p.drawRect(r);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(r.left() + 2, r.top(), r.width() - 4, r.height() * 0.45));
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(QRectF(r.left() + r.width() * 0.3, r.bottom() - r.height() * 0.3, r.width() * 0.4, r.height() * 0.3));
}

void CircleArrows(QPainter& p) {
  p.setPen(QPen(Green, 2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  QRectF ring(2.5, 2.5, 11, 11);
  p.drawArc(ring, 20 * 16, 140 * 16);
  p.drawArc(ring, 200 * 16, 140 * 16);
  p.setPen(QPen(Green, 1));
  p.setBrush(Green);
  p.drawPolygon(QPolygonF({QPointF(1, 7), QPointF(6, 7), QPointF(3.5, 10.5)}));
  p.drawPolygon(QPolygonF({QPointF(15, 9), QPointF(10, 9), QPointF(12.5, 5.5)}));
}

void Question(QPainter& p) {
  p.setPen(QPen(Blue.darker(130), 1));
  p.setBrush(Blue);
  p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  QFont f("DejaVu Sans");
  f.setPixelSize(12);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, "?");
}

void House(QPainter& p) {
  p.setPen(QPen(QColor(120, 40, 20), 1));
  p.setBrush(QColor(200, 60, 40));
  p.drawPolygon(QPolygonF({QPointF(8, 1.5), QPointF(15, 8), QPointF(1, 8)}));
  p.setPen(QPen(Outline, 1));
  p.setBrush(QColor(245, 235, 210));
  p.drawRect(QRectF(3.5, 8, 9, 6.5));
  p.setBrush(QColor(120, 80, 40));
  p.drawRect(QRectF(7, 10.5, 2.5, 4));
}

void Letter(QPainter& p) {
  p.setPen(QPen(Outline, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(0.5, 4.5, 13, 9));
  p.drawLine(QPointF(0.5, 4.5), QPointF(7, 10));
  p.drawLine(QPointF(13.5, 4.5), QPointF(7, 10));
  Star(p, QPointF(12, 4), 4, QColor(250, 200, 30));
}

void InfoSign(QPainter& p) {
  p.setPen(QPen(Blue.darker(130), 1));
  p.setBrush(Blue);
  p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(6.7, 2.8, 2.6, 2.6));
  p.drawRect(QRectF(6.8, 6.5, 2.4, 6.5));
}

void Picture(QPainter& p, QRectF r) {
  p.setPen(QPen(Outline, 1));
  p.setBrush(QColor(150, 200, 250));
  p.drawRect(r);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(60, 150, 60));
  p.drawPolygon(QPolygonF({r.bottomLeft(), QPointF(r.left() + r.width() * 0.4, r.top() + r.height() * 0.4),
                           QPointF(r.left() + r.width() * 0.7, r.top() + r.height() * 0.7),
                           QPointF(r.left() + r.width() * 0.85, r.top() + r.height() * 0.55), r.bottomRight()}));
  p.setBrush(QColor(250, 210, 40));
  p.drawEllipse(QPointF(r.right() - r.width() * 0.25, r.top() + r.height() * 0.25), r.width() * 0.1, r.width() * 0.1);
}

void Tools(QPainter& p) {
  // Wrench from top left to bottom right, hammer across it.
  p.setPen(QPen(QColor(120, 120, 130), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(4, 4), QPointF(13, 13));
  p.setPen(QPen(QColor(120, 120, 130), 1.6));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(0.5, 0.5, 6, 6), 90 * 16, 270 * 16);
  p.setPen(QPen(QColor(150, 90, 40), 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(3, 13), QPointF(11, 5));
  p.setPen(QPen(QColor(70, 70, 80), 1));
  p.setBrush(QColor(90, 90, 100));
  QTransform t;
  t.translate(11.5, 4.5);
  t.rotate(45);
  p.drawPolygon(t.map(QPolygonF(QRectF(-4, -1.8, 8, 3.6))));
}

void Power(QPainter& p) {
  p.setPen(QPen(Red, 2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(2.5, 3, 11, 11), 120 * 16, 300 * 16);
  p.drawLine(QPointF(8, 1.5), QPointF(8, 8));
}

}  // namespace

static void PaintListImage(QPainter& p, int index) {
  p.setRenderHint(QPainter::Antialiasing);
  switch (index) {
    case 0: Triangle(p); break;
    case 1: Tick(p); break;
    case 2: Cross(p); break;
    case 3: Folder(p); break;
    case 4:
      Sheet(p, QRectF(2.5, 1.5, 10, 13));
      Star(p, QPointF(11.5, 4.5), 4, QColor(250, 200, 30));
      break;
    case 5: Diskette(p, QRectF(1.5, 1.5, 13, 13), QColor(40, 80, 170)); break;
    case 6:
      Diskette(p, QRectF(0.5, 0.5, 10, 10), QColor(40, 80, 170));
      Diskette(p, QRectF(4.5, 4.5, 10, 10), QColor(60, 110, 200));
      Arrow(p, QPointF(9, 14.5), QPointF(15, 14.5), Green);
      break;
    case 7: CircleArrows(p); break;
    case 8: Question(p); break;
    case 9: House(p); break;
    case 10: Letter(p); break;
    case 11: InfoSign(p); break;
    case 12: Sheet(p, QRectF(2.5, 1.5, 11, 13)); break;
    case 13: Picture(p, QRectF(1.5, 3.5, 13, 10)); break;
    case 14: Tools(p); break;
    case 15: Power(p); break;
    default: break;
  }
}

QPixmap ListImage(int index, int pixels) {
  QPixmap pix(pixels, pixels);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  p.scale(pixels / 16.0, pixels / 16.0);
  PaintListImage(p, index);
  return pix;
}

namespace {

// An icon that draws its picture again for every size it is asked for, so a
// high-density screen gets a sharp image instead of an enlarged 16 by 16 one.
class TkxImageEngine : public QIconEngine {
 public:
  explicit TkxImageEngine(int index) : FIndex(index) {}
  QIconEngine* clone() const override { return new TkxImageEngine(FIndex); }
  QString key() const override { return QStringLiteral("TkxImageEngine"); }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
    int side = std::max(1, std::min(size.width(), size.height()));
    QPixmap pix = ListImage(FIndex, side);
    if (mode == QIcon::Disabled || mode == QIcon::Selected) {
      // The style's own look of a disabled or selected picture.
      if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QStyleOption opt;
        opt.palette = QApplication::palette();
        pix = app->style()->generatedIconPixmap(mode, pix, &opt);
      }
    }
    return pix;
  }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap pix = pixmap(rect.size() * dpr, mode, state);
    pix.setDevicePixelRatio(dpr);
    painter->drawPixmap(rect, pix);
  }

  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
    int side = std::min(size.width(), size.height());
    return QSize(side, side);
  }

 private:
  int FIndex;
};

}  // namespace

QIcon ListIcon(int index) { return QIcon(new TkxImageEngine(index)); }

QList<QIcon> ImageList() {
  QList<QIcon> list;
  for (int i = 0; i < kImageCount; ++i) list << ListIcon(i);
  return list;
}

namespace {

// The logo's picture in its 128 by 128 coordinates, on the key colour.
void PaintLogo(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  // The document: a white frame with a folded corner and lines of text.
  QRectF doc(6, 6, 54, 68);
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(Qt::white);
  p.drawPolygon(QPolygonF({doc.topLeft(), QPointF(doc.right() - 12, doc.top()), QPointF(doc.right(), doc.top() + 12),
                           doc.bottomRight(), doc.bottomLeft()}));
  p.setPen(QPen(QColor(40, 70, 160), 3));
  p.drawLine(QPointF(13, 16), QPointF(40, 16));
  p.setPen(QPen(QColor(120, 120, 120), 2));
  for (int y = 26; y <= 64; y += 7) p.drawLine(QPointF(13, y), QPointF(y == 64 ? 36 : 53, y));
  // The picture: a white frame around a landscape.
  QRectF frame(64, 66, 58, 56);
  p.setPen(QPen(QColor(40, 40, 40), 2));
  p.setBrush(Qt::white);
  p.drawRect(frame);
  QRectF sky = frame.adjusted(5, 5, -5, -5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(120, 180, 240));
  p.drawRect(sky);
  p.setBrush(QColor(40, 120, 60));
  p.drawPolygon(
      QPolygonF({sky.bottomLeft(), QPointF(sky.left() + 16, sky.top() + 18), QPointF(sky.left() + 30, sky.top() + 32),
                 QPointF(sky.left() + 38, sky.top() + 24), sky.bottomRight()}));
  p.setBrush(QColor(250, 210, 40));
  p.drawEllipse(QPointF(sky.right() - 10, sky.top() + 10), 5, 5);
  // Two curved arrows from the document to the picture.
  const QColor arrow(170, 240, 120);
  auto curved = [&](QPointF a, QPointF c, QPointF b) {
    QPainterPath path;
    path.moveTo(a);
    path.quadTo(c, b);
    p.setPen(QPen(arrow, 5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    QLineF back(b, c);
    back.setLength(11);
    QLineF l1 = back, l2 = back;
    l1.setAngle(back.angle() + 32);
    l2.setAngle(back.angle() - 32);
    QLineF tip(c, b);
    tip.setLength(tip.length() + 4);
    p.setPen(Qt::NoPen);
    p.setBrush(arrow);
    p.drawPolygon(QPolygonF({tip.p2(), l1.p2(), l2.p2()}));
  };
  curved(QPointF(64, 22), QPointF(106, 18), QPointF(100, 58));
  curved(QPointF(36, 80), QPointF(34, 108), QPointF(56, 104));
}

}  // namespace

QImage LumipixLogoBitmap() {
  QImage img(128, 128, QImage::Format_RGB888);
  img.fill(QColor(kLogoKey));
  QPainter p(&img);
  PaintLogo(p);
  return img;
}

QPixmap LumipixLogo(qreal scale) {
  const int side = qRound(128 * scale);
  QImage img(side, side, QImage::Format_RGB888);
  img.fill(QColor(kLogoKey));
  {
    QPainter p(&img);
    p.scale(side / 128.0, side / 128.0);
    PaintLogo(p);
  }
  QPixmap pix = QPixmap::fromImage(img);
  pix.setMask(pix.createMaskFromColor(QColor(kLogoKey), Qt::MaskInColor));
  pix.setDevicePixelRatio(scale);
  return pix;
}

QIcon ProductIcon() {
  QSvgRenderer svg(QStringLiteral(":/lumipix/lumipix.svg"));
  QIcon icon;
  if (!svg.isValid()) return icon;
  // Drawn for each size rather than scaled from one: small sizes stay sharp.
  for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QImage img(side, side, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    svg.render(&p);
    p.end();
    icon.addPixmap(QPixmap::fromImage(img));
  }
  return icon;
}

}  // namespace kx
