#include "console/runsummary.h"

#include <cstdio>

namespace kx {

std::string RunSummaryLine(const std::string& title, const TkxRunTotals& t, double seconds, bool interrupted,
                           bool searchCut) {
  char buf[256];
  std::string notReached = interrupted ? ", " + std::to_string(t.Found - t.Done()) + " not reached" : std::string();
  std::snprintf(buf, sizeof buf, "%d documents: %d converted, %d failed, %d skipped%s; %d pages in %.1f s", t.Found,
                t.Converted, t.Failed, t.Skipped, notReached.c_str(), t.Pages, seconds < 0 ? 0.0 : seconds);
  return title + ": " + (interrupted ? "interrupted: " : "") + buf +
         (searchCut ? " (the search was stopped: there may be more)" : "");
}

}  // namespace kx
