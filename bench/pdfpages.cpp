// Pages of PDFs through the page route without an office: the PDF read in-process and
// translated into metafiles (or, with --helper, LibreOffice's PDF reader run as a helper
// and its output translated), and the playing of each metafile into a PNG image at its
// natural size, with the time of each step.
// Usage: pdfpages [--helper] [-j threads] [-v] out-folder file.pdf...   (writes name-N.emf and name-N.png)
// With -j the pages are played by that many threads at once, and the playing's pages
// per second are given; -v writes the diagnostic trace (the face of each PDF font) to
// standard error.
#include <cairo.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "emf/emfplayer.h"
#include "emf/metafile.h"
#include "pdf/pdfpage.h"
#include "pdf/pdfreader.h"
#include "platform/trace.h"

using Clock = std::chrono::steady_clock;

namespace {

struct Page {
  std::string Name, Emf;
  cairo_surface_t* Image = nullptr;
  double Seconds = 0;
};

void Play(Page& p) {
  auto t0 = Clock::now();
  kx::TkxMetafile mf;
  mf.LoadFromBytes(p.Emf);
  p.Image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, mf.Width(), mf.Height());
  cairo_t* cr = cairo_create(p.Image);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  kx::PlayEnhMetafile(cr, p.Emf, 0, 0, mf.Width(), mf.Height());
  cairo_destroy(cr);
  p.Seconds = std::chrono::duration<double>(Clock::now() - t0).count();
}

// The calling thread's time on a core and waiting for one, from the scheduler (ns).
void SchedTimes(double& running, double& waiting) {
  running = waiting = 0;
  if (FILE* f = std::fopen("/proc/thread-self/schedstat", "r")) {
    unsigned long long run = 0, wait = 0;
    if (std::fscanf(f, "%llu %llu", &run, &wait) == 2) running = double(run) * 1e-9, waiting = double(wait) * 1e-9;
    std::fclose(f);
  }
}

// One player thread's times: on a core, waiting for a core (other programs' work), and
// the rest of its time, blocked (on a lock, or the memory it waits for).
struct Times {
  double Running = 0, Runnable = 0, Blocked = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int threads = 1, first = 1;
  bool helper = false;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    if (!std::strcmp(argv[first], "--helper")) {
      helper = true;
    } else if (!std::strcmp(argv[first], "-v")) {
      kx::SetTraceStream(stderr);
    } else if (!std::strcmp(argv[first], "-j") && first + 1 < argc) {
      threads = std::max(1, std::atoi(argv[++first]));
    } else {
      break;
    }
  }
  if (argc - first < 2) {
    std::fprintf(stderr, "usage: %s [--helper] [-j threads] [-v] out-folder file.pdf...\n", argv[0]);
    return 2;
  }
  std::string out = argv[first];
  std::filesystem::create_directories(out);
  double reading = 0, translating = 0;
  int failed = 0;
  std::vector<Page> pages;
  for (int i = first + 1; i < argc; ++i) {
    auto t0 = Clock::now();
    kx::pdf::TkxPdfReaderOutput r;
    bool ok = true, complete = false;
    std::string error;
    std::vector<std::string> emfs;
    if (helper) ok = kx::pdf::RunPdfReader("/usr/lib/libreoffice/program/xpdfimport", argv[i], 60000, r);
    auto t1 = Clock::now();  // in-process, reading and translating are one step
    if (helper)
      emfs = kx::pdf::TranslatePdfPages(r.Text, r.Binary, &complete);
    else
      emfs = kx::pdf::TranslatePdfFile(argv[i], &complete, &error);
    auto t2 = Clock::now();
    if (!ok || !complete)
      ++failed, std::fprintf(stderr, "%s: %s\n", argv[i],
                             !ok             ? "reader failed"
                             : error.empty() ? "incomplete"
                                             : error.c_str());
    std::string stem = out + "/" + std::filesystem::path(argv[i]).stem().string();
    for (size_t p = 0; p < emfs.size(); ++p) pages.push_back({stem + "-" + std::to_string(p + 1), std::move(emfs[p])});
    reading += std::chrono::duration<double>(t1 - t0).count();
    translating += std::chrono::duration<double>(t2 - t1).count();
  }
  // Each thread takes the next page until none is left.
  std::atomic<size_t> next{0};
  auto t3 = Clock::now();
  std::vector<std::thread> players;
  std::vector<Times> times(static_cast<size_t>(threads));
  for (int t = 0; t < threads; ++t)
    players.emplace_back([&, t] {
      double run0, wait0, run1, wait1;
      auto w0 = Clock::now();
      SchedTimes(run0, wait0);
      for (size_t k; (k = next++) < pages.size();) Play(pages[k]);
      SchedTimes(run1, wait1);
      double wall = std::chrono::duration<double>(Clock::now() - w0).count();
      times[size_t(t)] = {run1 - run0, wait1 - wait0, std::max(0.0, wall - (run1 - run0) - (wait1 - wait0))};
    });
  for (std::thread& t : players) t.join();
  double playing = std::chrono::duration<double>(Clock::now() - t3).count();
  const Page* slowest = nullptr;
  for (const Page& p : pages)
    if (!slowest || p.Seconds > slowest->Seconds) slowest = &p;
  if (slowest) std::printf("slowest page: %s, %.3f s\n", slowest->Name.c_str(), slowest->Seconds);
  // On a machine that other programs keep busy, the threads wait for a core: without
  // that wait, the playing would take the longest thread's running and blocked time.
  double own = 0;
  for (size_t t = 0; t < times.size(); ++t) {
    std::printf("thread %zu: running %.3f s, waiting for a core %.3f s, blocked %.3f s\n", t + 1, times[t].Running,
                times[t].Runnable, times[t].Blocked);
    own = std::max(own, times[t].Running + times[t].Blocked);
  }
  if (own > 0) std::printf("playing without waiting for a core: %.1f pages/s\n", double(pages.size()) / own);
  for (Page& p : pages) {
    std::ofstream(p.Name + ".emf", std::ios::binary) << p.Emf;
    cairo_surface_write_to_png(p.Image, (p.Name + ".png").c_str());
    cairo_surface_destroy(p.Image);
  }
  std::printf(
      "%zu pages: reading %.3f s, translating %.3f s, playing %.3f s with %d thread%s (%.1f pages/s); %d failed\n",
      pages.size(), reading, translating, playing, threads, threads == 1 ? "" : "s",
      playing > 0 ? double(pages.size()) / playing : 0.0, failed);
  return failed ? 1 : 0;
}
