#include "console/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/numbers.h"
#include "platform/paths.h"

namespace kx {

static bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

static int CodePoints(const std::string& s) {
  int n = 0;
  for (unsigned char c : s)
    if (!IsContinuation(c)) ++n;
  return n;
}

// The byte offset after the first `count` code points.
static size_t OffsetOf(const std::string& s, int count) {
  size_t i = 0;
  for (int seen = 0; i < s.size(); ++i) {
    if (!IsContinuation(s[i])) {
      if (seen == count) break;
      ++seen;
    }
  }
  return i;
}

std::string ShortenMiddle(const std::string& text, int width) {
  int n = CodePoints(text);
  if (n <= width) return text;
  if (width <= 3) return text.substr(0, OffsetOf(text, width < 0 ? 0 : width));
  int keep = width - 3;
  int head = (keep + 1) / 2, tail = keep - head;
  return text.substr(0, OffsetOf(text, head)) + "..." + text.substr(OffsetOf(text, n - tail));
}

std::string ProgressText(const TkxRunTotals& t, double pagesPerSecond, int width) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%d/%d documents%s, %d failed, %.1f pages/s", t.Done(), t.Found,
                t.SearchDone ? "" : " (searching)", t.Failed, pagesPerSecond);
  std::string text = buf;
  int room = width - 1 - CodePoints(text) - 2;
  std::string name = DisplayPath(ExtractFileName(t.Current));
  // A name cut below a dozen characters says nothing; leave it out then.
  if (!name.empty() && room >= 12) text += ": " + ShortenMiddle(name, room);
  return ShortenMiddle(text, width - 1);
}

// "and N more; see the log ..." after `limit` of `total` lines.
static void AndMore(std::vector<std::string>& lines, size_t total, size_t limit, const std::string& logFile) {
  if (total <= limit) return;
  std::string more = "and " + std::to_string(total - limit) + " more; ";
  lines.push_back(more + (logFile.empty() ? "set LogFile to keep them all" : "see the log " + DisplayPath(logFile)));
}

std::vector<std::string> FailureLines(const std::vector<TkxFailure>& failed, const std::string& logFile, size_t limit) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < failed.size() && i < limit; ++i)
    lines.push_back("failed: " + failed[i].first + ": " + failed[i].second);
  AndMore(lines, failed.size(), limit, logFile);
  return lines;
}

std::vector<std::string> NotReachedLines(const std::vector<std::string>& documents, const std::string& logFile,
                                         size_t limit) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < documents.size() && i < limit; ++i) lines.push_back("not reached: " + documents[i]);
  AndMore(lines, documents.size(), limit, logFile);
  return lines;
}

int TerminalWidth(int fd) {
  winsize ws{};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  const char* columns = std::getenv("COLUMNS");
  std::optional<uint64_t> c = columns ? ReadDigits(columns, 100000) : std::nullopt;
  return c && *c > 0 ? int(*c) : 80;
}

TkxConsoleReport::TkxConsoleReport(FILE* out, std::string title, bool progress, int width)
    : FOut(out), FTitle(std::move(title)), FProgress(progress), FWidth(width < 20 ? 20 : width) {}

TkxConsoleReport TkxConsoleReport::ForStandardError(const std::string& title) {
  bool terminal = isatty(STDERR_FILENO) == 1;
  return TkxConsoleReport(stderr, title, terminal, terminal ? TerminalWidth(STDERR_FILENO) : 80);
}

void TkxConsoleReport::Warning(const std::string& text) { Say(FTitle + ": warning: " + text); }

void TkxConsoleReport::Say(const std::string& line) {
  ClearProgress();
  std::fprintf(FOut, "%s\n", line.c_str());
  std::fflush(FOut);
}

void TkxConsoleReport::Progress(const TkxRunTotals& totals, double seconds) {
  if (!FProgress) return;
  std::string text = ProgressText(totals, seconds > 0 ? totals.Pages / seconds : 0.0, FWidth);
  if (text == FShown) return;
  // Blanks over what is left of a longer line before: no terminal control sequences needed.
  int pad = CodePoints(FShown) - CodePoints(text);
  std::fprintf(FOut, "\r%s%s", text.c_str(), pad > 0 ? std::string(size_t(pad), ' ').c_str() : "");
  std::fflush(FOut);
  FShown = text;
}

void TkxConsoleReport::ClearProgress() {
  if (FShown.empty()) return;
  std::fprintf(FOut, "\r%s\r", std::string(size_t(CodePoints(FShown)), ' ').c_str());
  FShown.clear();
}

}  // namespace kx
