#include "office/pdftext.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kx::office {

namespace {
constexpr double kPointTo100thMm = 2540.0 / 72.0;

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

}  // namespace kx::office
