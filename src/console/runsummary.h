#pragma once
// The one line that sums up a run, for the console and the window's status bar.
#include <string>

#include "engine/batch.h"

namespace kx {

// "<title>: 4 documents: 3 converted, 1 failed, 0 skipped; 7 pages in 5.2 s". An
// interrupted run says so first and counts the documents it did not reach:
// "<title>: interrupted: 5 documents: 2 converted, 1 failed, 0 skipped, 2 not reached; ...",
// and " (the search was stopped: there may be more)" when its search had not ended.
std::string RunSummaryLine(const std::string& title, const TkxRunTotals& totals, double seconds,
                           bool interrupted = false, bool searchCut = false);

}  // namespace kx
