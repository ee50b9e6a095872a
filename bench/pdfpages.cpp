// Pages of PDFs through the page route without an office: LibreOffice's PDF reader,
// the translation into metafiles, and the playing of each metafile into a PNG image
// at its natural size, with the time of each step.
// Usage: pdfpages [-j threads] [-v] out-folder file.pdf...   (writes name-N.emf and name-N.png)
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
};

void Play(Page& p) {
  kx::TkxMetafile mf;
  mf.LoadFromBytes(p.Emf);
  p.Image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, mf.Width(), mf.Height());
  cairo_t* cr = cairo_create(p.Image);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  kx::PlayEnhMetafile(cr, p.Emf, 0, 0, mf.Width(), mf.Height());
  cairo_destroy(cr);
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 1, first = 1;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    if (!std::strcmp(argv[first], "-v")) {
      kx::SetTraceStream(stderr);
    } else if (!std::strcmp(argv[first], "-j") && first + 1 < argc) {
      threads = std::max(1, std::atoi(argv[++first]));
    } else {
      break;
    }
  }
  if (argc - first < 2) {
    std::fprintf(stderr, "usage: %s [-j threads] [-v] out-folder file.pdf...\n", argv[0]);
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
    bool ok = kx::pdf::RunPdfReader("/usr/lib/libreoffice/program/xpdfimport", argv[i], 60000, r);
    auto t1 = Clock::now();
    bool complete = false;
    std::vector<std::string> emfs = kx::pdf::TranslatePdfPages(r.Text, r.Binary, &complete);
    auto t2 = Clock::now();
    if (!ok || !complete) ++failed, std::fprintf(stderr, "%s: %s\n", argv[i], ok ? "incomplete" : "reader failed");
    std::string stem = out + "/" + std::filesystem::path(argv[i]).stem().string();
    for (size_t p = 0; p < emfs.size(); ++p) pages.push_back({stem + "-" + std::to_string(p + 1), std::move(emfs[p])});
    reading += std::chrono::duration<double>(t1 - t0).count();
    translating += std::chrono::duration<double>(t2 - t1).count();
  }
  // Each thread takes the next page until none is left.
  std::atomic<size_t> next{0};
  auto t3 = Clock::now();
  std::vector<std::thread> players;
  for (int t = 0; t < threads; ++t)
    players.emplace_back([&] {
      for (size_t k; (k = next++) < pages.size();) Play(pages[k]);
    });
  for (std::thread& t : players) t.join();
  double playing = std::chrono::duration<double>(Clock::now() - t3).count();
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
