#include "ui/windowmode.h"

#include <cstdio>
#include <exception>

#include "core/app.h"
#include "core/infoslot.h"
#include "core/project.h"
#include "platform/qtchoosers.h"
#include "platform/text.h"
#include "ui/images.h"

namespace kx {

TkxApplication::TkxApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TkxApplication::notify(QObject* receiver, QEvent* e) {
  try {
    return QApplication::notify(receiver, e);
  } catch (const std::exception& ex) {
    if (Info) Info->HandleError(ex.what());
  } catch (...) {
    if (Info) Info->HandleError("Unexpected error");
  }
  return false;
}

void SetDesktopIdentity(const std::string& shortName) {
  // The window's class and desktop file name are the edition's short name, so that a
  // dock finds its desktop entry (lumipix.desktop) and icon; the window state and the
  // choosers' folders are kept under it (~/.config/lumipix/<short name>.conf).
  QString name = QString::fromStdString(shortName);
  QCoreApplication::setOrganizationName("lumipix");
  QCoreApplication::setApplicationName(name);
  QGuiApplication::setDesktopFileName(name);
  QApplication::setWindowIcon(ProductIcon());
}

TkxWindows::TkxWindows() {
  if (Project) SetDesktopIdentity(Project->ShortName);
  Main = std::make_unique<TkxFrmMain>();
  About = std::make_unique<TkxFrmLumipixAbout>(Main.get());
  FrmAbout = About.get();
  // A console run whose source is a web address runs in an invisible window.
  if (Project && Project->PureConsole()) Main->setWindowOpacity(0.0);
}

TkxWindows::~TkxWindows() {
  FrmAbout = nullptr;
  About.reset();
  Main.reset();
}

int RunWindowMode(int& argc, char** argv) {
  // Qt aborts when it cannot reach a display; say so readably instead.
  if (!DisplayAvailable()) {
    std::fprintf(stderr, "%s: no display to show the window on (DISPLAY is not set)\n",
                 Project ? Project->Title.c_str() : "");
    return 2;
  }
  TkxApplication app(argc, argv);
  TkxQtChoosers choosers;
  SetChoosers(&choosers);
  int code = 0;
  {
    TkxWindows windows;
    windows.Main->show();
    code = app.exec();
  }
  SetChoosers(nullptr);
  return code;
}

}  // namespace kx
