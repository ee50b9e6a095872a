#pragma once
// Shared set-up of the window tests: the globals as start-up makes them, test
// choosers, a recording opener, and waiting helpers.
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QObject>
#include <QTest>

#include "platform/choosers.h"
#include "testutil.h"
#include "ui/info.h"
#include "ui/windowmode.h"

namespace uitest {

// Answers queued by a test; with nothing queued every chooser cancels.
class TestChoosers : public kx::TkxChoosers {
 public:
  std::deque<std::string> Folders;       // BrowseFolder answers
  std::deque<std::string> Opens, Saves;  // confirmed paths; "" cancels
  std::vector<std::string> Calls;        // "kind|filter|initial"
  std::string BrowseFolder(const std::string& initial) override;
  bool PromptOpenFile(const std::string& filter, std::string& path, bool multiple) override;
  bool PromptSaveFile(const std::string& filter, const std::string& defaultExt, std::string& path) override;
};

// One test's world: App, Project, Matcher, the product information object beside
// a temporary executable, test choosers, and (on demand) the windows.
class Scope {
 public:
  // `real` converts through LibreOffice; otherwise the recording test converter runs.
  explicit Scope(bool real = false, int edition = kx::kPngEdition);
  ~Scope();
  kxtest::TempDir& Dir() { return FProject.Dir; }
  // Creates the windows as start-up does (after the test has set its options).
  kx::TkxFrmMain& Open();
  kx::TkxFrmMain& Main() { return *FWindows->Main; }
  kx::TkxWindows& Windows() { return *FWindows; }
  void Close();
  TestChoosers Choosers;

 private:
  kxtest::ProjectScope FProject;
  std::unique_ptr<kx::TkxInfo> FInfo;
  std::unique_ptr<kx::TkxWindows> FWindows;
};

// What the recording xdg-open was given, one target per line.
std::vector<std::string> Opened();
void ClearOpened();
// Waits (serving events) until `n` targets were opened; false on time-out.
bool WaitOpened(size_t n, int ms = 5000);
// What was opened, once every opener started so far has written its line.
std::vector<std::string> OpenedWhenSettled();

// Waits (serving events) until the window has no search or run going and every
// thread of the run has ended.
bool WaitIdle(kx::TkxFrmMain& w, int ms = 180000);
// The row texts of the list: "image|file|result" per row.
std::vector<std::string> Rows(kx::TkxFrmMain& w);
// A double-click as a person makes it: press, release, double-click, release
// (`at` defaults to the middle of `w`).
void DoubleClick(QWidget* w, QPoint at = QPoint());
// Runs `fn` as soon as the next modal window is up (for exec()-shown windows).
void WhenModal(std::function<void(QWidget*)> fn);

// Test classes register themselves; the runner picks them by name.
using Factory = std::function<std::unique_ptr<QObject>()>;
std::map<std::string, Factory>& Registry();
struct Registrar {
  Registrar(const char* name, Factory f) { Registry()[name] = std::move(f); }
};
#define UI_TEST_CLASS(cls) static uitest::Registrar cls##Registrar(#cls, [] { return std::make_unique<cls>(); })

}  // namespace uitest
