#pragma once
// The status bar under the result list: where the run stands (documents found,
// done, converted, failed, pages per second), the unattended loop's state, a
// progress bar while a run goes on, and the last problem worth a word.
#include <string>

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

#include "engine/batch.h"

namespace kx {

// "12 found, 5 done: 4 converted, 1 failed"; while running also the pages per
// second once `pagesPerSecond` is known (not negative), and "searching" until the
// search is done.
std::string TotalsText(const TkxRunTotals& t, bool running, double pagesPerSecond);

class TkxRunStatus : public QStatusBar {
  Q_OBJECT
 public:
  explicit TkxRunStatus(QWidget* parent = nullptr);

  void ShowTotals(const TkxRunTotals& t, bool running, double pagesPerSecond);
  void ClearTotals();
  // The unattended loop: "Next run in 2 s", "Loop stopped", or nothing.
  void ShowCycle(const QString& text);
  // A problem the user should know of, until the next one or Clear.
  void ShowProblem(const QString& text);
  void ClearProblem();

  QLabel* lblCounts;
  QLabel* lblProblem;
  QLabel* lblCycle;
  QProgressBar* pbRun;
};

}  // namespace kx
