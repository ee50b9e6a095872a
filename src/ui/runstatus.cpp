#include "ui/runstatus.h"

#include <algorithm>
#include <cstdio>

namespace kx {

std::string TotalsText(const TkxRunTotals& t, bool running, double pagesPerSecond) {
  std::string s = std::to_string(t.Found) + " found";
  if (!t.SearchDone) s += " (searching)";
  s += ", " + std::to_string(t.Done()) + " done: " + std::to_string(t.Converted) + " converted, " +
       std::to_string(t.Failed) + " failed";
  if (t.Skipped > 0) s += ", " + std::to_string(t.Skipped) + " skipped";
  if (t.Pages > 0) s += "; " + std::to_string(t.Pages) + (t.Pages == 1 ? " page" : " pages");
  if (running && pagesPerSecond >= 0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", pagesPerSecond);
    s += std::string(", ") + rate + " pages/s";
  }
  return s;
}

TkxRunStatus::TkxRunStatus(QWidget* parent) : QStatusBar(parent) {
  setObjectName("sbStatus");
  setSizeGripEnabled(false);
  setContentsMargins(2, 0, 6, 0);  // the last word off the window's edge
  lblCounts = new QLabel(this);
  lblCounts->setObjectName("lblCounts");
  lblCounts->setTextFormat(Qt::PlainText);
  lblCounts->setToolTip("Documents of the list and how far the run has come");
  addWidget(lblCounts);
  lblProblem = new QLabel(this);
  lblProblem->setObjectName("lblProblem");
  lblProblem->setTextFormat(Qt::PlainText);
  QPalette pal = lblProblem->palette();
  pal.setColor(QPalette::WindowText, QColor(180, 0, 0));
  lblProblem->setPalette(pal);
  lblProblem->hide();
  addWidget(lblProblem, 1);
  lblCycle = new QLabel(this);
  lblCycle->setObjectName("lblCycle");
  lblCycle->setTextFormat(Qt::PlainText);
  lblCycle->setContentsMargins(8, 0, 4, 0);
  lblCycle->hide();
  addPermanentWidget(lblCycle);
  pbRun = new QProgressBar(this);
  pbRun->setObjectName("pbRun");
  pbRun->setFixedWidth(160);
  pbRun->setMaximumHeight(14);
  pbRun->setTextVisible(true);
  pbRun->setFormat("%v of %m");
  pbRun->hide();
  addPermanentWidget(pbRun);
}

void TkxRunStatus::ShowTotals(const TkxRunTotals& t, bool running, double pagesPerSecond) {
  lblCounts->setText(QString::fromStdString(TotalsText(t, running, pagesPerSecond)));
  if (running) {
    // An empty list still being searched: the bar only shows that something goes on.
    pbRun->setRange(0, t.Found == 0 && !t.SearchDone ? 0 : std::max(1, t.Found));
    pbRun->setValue(t.Done());
  }
  pbRun->setVisible(running);
}

void TkxRunStatus::ClearTotals() {
  lblCounts->clear();
  pbRun->hide();
}

void TkxRunStatus::ShowCycle(const QString& text) {
  lblCycle->setText(text);
  lblCycle->setVisible(!text.isEmpty());
}

void TkxRunStatus::ShowProblem(const QString& text) {
  lblProblem->setText(text);
  lblProblem->setToolTip(text);
  lblProblem->setVisible(!text.isEmpty());
}

void TkxRunStatus::ClearProblem() { ShowProblem(QString()); }

}  // namespace kx
