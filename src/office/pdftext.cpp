#include "office/pdftext.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace kx::office {

namespace {
constexpr double kPointTo100thMm = 2540.0 / 72.0;

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsBlank(const std::string& s) { return std::all_of(s.begin(), s.end(), IsBlankChar); }

std::string WithoutSpaces(const std::string& s) {
  std::string r;
  for (char c : s)
    if (!IsBlankChar(c)) r += c;
  return r;
}
}  // namespace

std::vector<TkxPdfPage> ParsePdfGlyphs(const std::string& output) {
  std::vector<TkxPdfPage> pages;
  double pageHeight = 0;  // points
  size_t pos = 0;
  while (pos < output.size()) {
    size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("startPage ", 0) == 0) {
      double w = 0, h = 0;
      std::istringstream in(line.substr(10));
      in >> w >> h;
      pageHeight = h / 100.0;
      pages.emplace_back();
      continue;
    }
    if (line.rfind("drawChar ", 0) != 0 || pages.empty()) continue;
    // Nine numbers, one blank, then the characters to the end of the line.
    size_t p = 9;
    double v[9];
    bool ok = true;
    for (double& x : v) {
      char* stop = nullptr;
      x = std::strtod(line.c_str() + p, &stop);
      if (stop == line.c_str() + p) {
        ok = false;
        break;
      }
      p = size_t(stop - line.c_str());
    }
    if (!ok || p >= line.size()) continue;
    // Upright text only: a rotated or mirrored line is left as the import made it.
    if (!(v[4] > 0 && std::fabs(v[5]) < 1e-6 && std::fabs(v[6]) < 1e-6 && v[7] > 0)) continue;
    if (std::fabs(v[1] - v[3]) > 1e-3) continue;
    TkxPdfGlyph g;
    g.X0 = v[0] * kPointTo100thMm;
    g.X1 = v[2] * kPointTo100thMm;
    g.Baseline = (pageHeight - v[1]) * kPointTo100thMm;
    g.Size = v[8];
    g.Chars = line.substr(p + 1);
    pages.back().push_back(std::move(g));
  }
  return pages;
}

std::vector<TkxPdfPage> ReadPdfGlyphs(const std::string& reader, const std::string& pdf,
                                      const std::string& scratchFile, int timeoutMs) {
  if (access(reader.c_str(), X_OK) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, scratchFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(reader.c_str()), const_cast<char*>(pdf.c_str()), nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, reader.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return {};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return {};
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      unlink(scratchFile.c_str());
      return {};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::ifstream in(scratchFile, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  unlink(scratchFile.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return ParsePdfGlyphs(text);
}

std::vector<TkxWideLine> WideLines(const TkxPdfPage& page) {
  // Glyphs come in drawing order: a line is a run on one baseline going right.
  struct TGap {
    size_t Line;
    double Size, Width;
  };
  std::vector<std::pair<size_t, size_t>> lines;
  std::vector<TGap> gaps;
  std::map<long, double> narrowest;  // by font size in hundredths of a point
  for (size_t i = 0; i < page.size();) {
    size_t j = i + 1;
    while (j < page.size() && std::fabs(page[j].Baseline - page[i].Baseline) < 1 && page[j].X0 >= page[j - 1].X0 - 1) ++j;
    const TkxPdfGlyph* lastInk = nullptr;
    bool blank = false;
    for (size_t k = i; k < j; ++k) {
      const TkxPdfGlyph& g = page[k];
      if (IsBlank(g.Chars)) {
        blank = true;
        continue;
      }
      if (lastInk && blank) {
        TGap gap{lines.size(), g.Size, g.X0 - lastInk->X1};
        gaps.push_back(gap);
        long key = std::lround(g.Size * 100);
        auto it = narrowest.find(key);
        if (it == narrowest.end() || gap.Width < it->second) narrowest[key] = gap.Width;
      }
      lastInk = &g;
      blank = false;
    }
    lines.emplace_back(i, j);
    i = j;
  }
  std::vector<bool> wide(lines.size(), false);
  for (const TGap& g : gaps)
    if (g.Width > narrowest[std::lround(g.Size * 100)] * 1.02 + 2) wide[g.Line] = true;
  std::vector<TkxWideLine> result;
  for (size_t l = 0; l < lines.size(); ++l)
    if (wide[l]) result.push_back({page[lines[l].first].X0, page[lines[l].first].Baseline});
  return result;
}

double LineRightEdge(const TkxPdfPage& page, double left, double top, double bottom, const std::string& text) {
  const std::string want = WithoutSpaces(text);
  if (want.empty()) return -1;
  // The glyph that starts the line: the closest to the left edge, in the vertical range.
  constexpr double kStartSlack = 150, kBaselineSlack = 25;
  const TkxPdfGlyph* first = nullptr;
  for (const TkxPdfGlyph& g : page) {
    if (g.Baseline < top || g.Baseline > bottom || IsBlank(g.Chars)) continue;
    if (std::fabs(g.X0 - left) > kStartSlack) continue;
    if (!first || std::fabs(g.X0 - left) < std::fabs(first->X0 - left)) first = &g;
  }
  if (!first) return -1;
  std::vector<const TkxPdfGlyph*> line;
  for (const TkxPdfGlyph& g : page)
    if (std::fabs(g.Baseline - first->Baseline) < kBaselineSlack && g.X0 >= first->X0 - 1) line.push_back(&g);
  std::stable_sort(line.begin(), line.end(), [](auto* a, auto* b) { return a->X0 < b->X0; });
  std::string spelt;
  for (const TkxPdfGlyph* g : line) {
    std::string chars = WithoutSpaces(g->Chars);
    if (chars.empty()) continue;
    spelt += chars;
    if (want.compare(0, spelt.size(), spelt) != 0) return -1;
    if (spelt.size() == want.size()) return g->X1;
  }
  return -1;
}

}  // namespace kx::office
