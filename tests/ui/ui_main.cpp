// Runs the window test classes: all of them, or the one named first.
#include <cstdio>

#include <QSettings>
#include <QTest>

#include "ui/windowmode.h"
#include "uitest.h"

int main(int argc, char** argv) {
  // The program's own application object: its handler of unexpected errors is under test.
  kx::TkxApplication app(argc, argv);
  // Nothing a test remembers reaches the user's own settings store.
  kxtest::TempDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(settings.Path()));
  std::string only;
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (i == 1 && argv[i][0] != '-') {
      only = argv[i];
      if (!uitest::Registry().count(only)) {
        std::fprintf(stderr, "no test class %s\n", argv[i]);
        return 2;
      }
    } else
      rest.push_back(argv[i]);
  }
  int failed = 0;
  for (auto& [name, make] : uitest::Registry()) {
    if (!only.empty() && name != only) continue;
    std::unique_ptr<QObject> test = make();
    failed += QTest::qExec(test.get(), int(rest.size()), rest.data());
  }
  return failed ? 1 : 0;
}
