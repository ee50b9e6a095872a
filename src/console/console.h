#pragma once
// What a console run tells a person on standard error: warnings before the run, a
// progress line that rewrites itself while it runs (only on a terminal), and the
// failed documents and the summary at its end.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/batch.h"

namespace kx {

// A failed document and its message.
using TkxFailure = std::pair<std::string, std::string>;

// The text shortened to `width` characters (UTF-8 code points) by taking out its
// middle; "..." marks the cut.
std::string ShortenMiddle(const std::string& text, int width);
// "12/40 documents, 1 failed, 3.4 pages/s: report.docx", with "(searching)" after
// the total while it can still grow; never wider than `width` - 1 characters.
std::string ProgressText(const TkxRunTotals& totals, double pagesPerSecond, int width);
// One line per failed document, at most `limit`, then "and N more; see the log".
std::vector<std::string> FailureLines(const std::vector<TkxFailure>& failed, const std::string& logFile,
                                      size_t limit = 20);
// One line per document an interrupted run did not reach, at most `limit`, then
// "and N more; see the log".
std::vector<std::string> NotReachedLines(const std::vector<std::string>& documents, const std::string& logFile,
                                         size_t limit = 20);
// The width of the terminal on `fd`, or 80.
int TerminalWidth(int fd);

class TkxConsoleReport {
 public:
  // Progress only when `progress`; lines shortened to `width`.
  TkxConsoleReport(FILE* out, std::string title, bool progress, int width);
  // Standard error, with progress when it is a terminal.
  static TkxConsoleReport ForStandardError(const std::string& title);

  bool ShowsProgress() const { return FProgress; }
  void Warning(const std::string& text);
  // Rewrites the progress line when the text changed.
  void Progress(const TkxRunTotals& totals, double seconds);
  // A plain line (the progress line is cleared first and comes back at the next update).
  void Say(const std::string& line);

 private:
  void ClearProgress();

  FILE* FOut;
  std::string FTitle;
  bool FProgress;
  int FWidth;
  std::string FShown;  // the progress line on screen, "" when none
};

}  // namespace kx
