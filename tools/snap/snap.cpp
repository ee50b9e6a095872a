// Saves a PNG picture of one X window (by id) or of the whole screen.
// Usage: lumi_snap OUT.png [WINDOW-ID]
#include <cstdio>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.png [WINDOW-ID]\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 1;
  WId id = argc > 2 ? WId(QString(argv[2]).toULongLong(nullptr, 0)) : 0;
  QPixmap pix = screen->grabWindow(id);
  if (pix.isNull() || !pix.save(argv[1], "PNG")) {
    std::fprintf(stderr, "%s: nothing saved\n", argv[1]);
    return 1;
  }
  return 0;
}
