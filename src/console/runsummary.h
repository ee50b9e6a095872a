#pragma once
// The one line that sums up a run, for the console and the window's status bar.
#include <string>

#include "engine/batch.h"

namespace kx {

// "<title>: 4 documents: 3 converted, 1 failed, 0 skipped; 7 pages in 5.2 s"
std::string RunSummaryLine(const std::string& title, const TkxRunTotals& totals, double seconds);

}  // namespace kx
