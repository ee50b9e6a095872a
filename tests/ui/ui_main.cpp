// Runs the window test classes: all of them, or the one named first.
#include <QApplication>
#include <QTest>

#include "uitest.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::string only;
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (only.empty() && argv[i][0] != '-' && uitest::Registry().count(argv[i]))
      only = argv[i];
    else
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
