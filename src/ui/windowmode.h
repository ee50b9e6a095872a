#pragma once
// The window branch of start-up: the windowing application, the main window and
// the about window, and the message loop.
#include <memory>
#include <string>

#include <QApplication>

#include "ui/kxFormMain.h"
#include "ui/kxLumipixAbout.h"

namespace kx {

// Unexpected errors of the message loop go to the product information's handler.
class TkxApplication : public QApplication {
 public:
  TkxApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* e) override;
};

// The names the desktop knows the program by (window class, desktop file, settings
// store) and the windows' icon.
void SetDesktopIdentity(const std::string& shortName);

// The windows of a window run. Made after the application object exists.
struct TkxWindows {
  TkxWindows();
  ~TkxWindows();
  std::unique_ptr<TkxFrmMain> Main;
  std::unique_ptr<TkxFrmLumipixAbout> About;
};

// Installs the Qt choosers, makes the windows and runs the message loop until the
// main window closes. Returns the exit code.
int RunWindowMode(int& argc, char** argv);

}  // namespace kx
