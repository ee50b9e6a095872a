#include "uitest.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include "convert/lumipix.h"
#include "core/app.h"
#include "core/infoslot.h"
#include "core/project.h"
#include "engine/convertor.h"
#include "office/wordapp.h"
#include "platform/shell.h"

namespace uitest {

static std::string OpenedFile() {
  static std::string path = [] {
    static kxtest::TempDir bin;
    kxtest::WriteFile(bin / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + bin.Path() + "opened.txt\"\n");
    std::string cmd = "chmod +x '" + bin.Path() + "xdg-open'";
    if (std::system(cmd.c_str()) != 0) std::abort();
    std::string path = std::string(bin.Path()) + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
    setenv("PATH", path.c_str(), 1);
    return bin / "opened.txt";
  }();
  return path;
}

std::vector<std::string> Opened() {
  std::vector<std::string> r;
  std::ifstream in(OpenedFile());
  for (std::string line; std::getline(in, line);) r.push_back(line);
  return r;
}

void ClearOpened() { std::remove(OpenedFile().c_str()); }

bool WaitOpened(size_t n, int ms) {
  QDeadlineTimer t(ms);
  while (Opened().size() < n) {
    if (t.hasExpired()) return false;
    QTest::qWait(20);
  }
  return true;
}

namespace {
// The next answer of a chooser: false when none is queued or it is a cancel ("").
bool Take(std::deque<std::string>& answers, std::string& path) {
  if (answers.empty()) return false;
  std::string r = answers.front();
  answers.pop_front();
  if (r.empty()) return false;
  path = r;
  return true;
}
}  // namespace

std::string TestChoosers::BrowseFolder(const std::string& initial) {
  Calls.push_back("folder||" + initial);
  std::string r = initial;
  Take(Folders, r);
  return r;
}

bool TestChoosers::PromptOpenFile(const std::string& filter, std::string& path, bool multiple) {
  Calls.push_back(std::string(multiple ? "open+" : "open") + "|" + filter + "|" + path);
  return Take(Opens, path);
}

bool TestChoosers::PromptSaveFile(const std::string& filter, const std::string& defaultExt, std::string& path) {
  Calls.push_back("save|" + filter + "|" + path + "|" + defaultExt);
  return Take(Saves, path);
}

Scope::Scope(bool real, int edition) : FProject("", edition) {
  // The window state and the choosers' folders of this test alone, never the user's.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(Dir() / "settings"));
  OpenedFile();
  ClearOpened();
  FInfo = std::make_unique<kx::TkxInfo>(kx::App->ExeName);
  kx::Info = FInfo.get();
  if (real) {
    static bool registered = [] {
      kx::office::RegisterWordApplication();
      kx::RegisterLumipix();
      return true;
    }();
    (void)registered;
    kx::Project->ConvertorClass = kx::FindConvertorClass("TkxLUMIPIX");
    // The PNG module sits beside the executable.
    kxtest::WriteFile(kx::App->ExeName + ".so", kxtest::ReadFile(LUMI_PNG_MODULE));
  }
  kx::SetChoosers(&Choosers);
}

kx::TkxFrmMain& Scope::Open() {
  FWindows = std::make_unique<kx::TkxWindows>();
  return *FWindows->Main;
}

void Scope::Close() { FWindows.reset(); }

Scope::~Scope() {
  FWindows.reset();
  kx::SetChoosers(nullptr);
  kx::Info = nullptr;
  FInfo.reset();
}

bool WaitIdle(kx::TkxFrmMain& w, int ms) {
  QDeadlineTimer t(ms);
  while (w.Busy() || w.Disposer().Pending() > 0) {
    if (t.hasExpired()) return false;
    QTest::qWait(20);
  }
  // The rows the threads queued before they ended.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  return true;
}

std::vector<std::string> OpenedWhenSettled() {
  // Openers started before the marker have written their line by the time it shows.
  static int marks = 0;
  std::string mark = "--settled-" + std::to_string(++marks);
  kx::ShellOpen(mark);
  std::vector<std::string> r;
  QDeadlineTimer t(10000);
  for (;;) {
    r = Opened();
    if (std::find(r.begin(), r.end(), mark) != r.end() || t.hasExpired()) break;
    QTest::qWait(20);
  }
  r.erase(std::remove_if(r.begin(), r.end(), [](const std::string& l) { return l.rfind("--settled-", 0) == 0; }),
          r.end());
  return r;
}

std::vector<std::string> Rows(kx::TkxFrmMain& w) {
  std::vector<std::string> r;
  for (int i = 0; i < w.lViewer->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = w.lViewer->topLevelItem(i);
    r.push_back(std::to_string(row->data(0, Qt::UserRole).toInt()) + "|" + row->text(1).toStdString() + "|" +
                row->text(2).toStdString());
  }
  return r;
}

void DoubleClick(QWidget* w, QPoint at) {
  if (at.isNull()) at = w->rect().center();
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(w, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, at);
}

void WhenModal(std::function<void(QWidget*)> fn) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, fn] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) return;
    timer->stop();
    timer->deleteLater();
    fn(w);
  });
  timer->start(10);
}

std::map<std::string, Factory>& Registry() {
  static std::map<std::string, Factory> r;
  return r;
}

}  // namespace uitest
