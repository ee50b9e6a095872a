#include "console/runsummary.h"

#include <cstdio>

namespace kx {

std::string RunSummaryLine(const std::string& title, const TkxRunTotals& t, double seconds) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%d documents: %d converted, %d failed, %d skipped; %d pages in %.1f s", t.Found,
                t.Converted, t.Failed, t.Skipped, t.Pages, seconds < 0 ? 0.0 : seconds);
  return title + ": " + buf;
}

}  // namespace kx
