// Pages of PDFs through the page route without an office: the PDF read in-process
// and translated into metafiles (or, with --helper, LibreOffice's PDF reader run as a
// helper and its output translated), and the playing of each metafile into a PNG image
// at its natural size, with the time of each step.
// Usage: pdfpages [--helper] out-folder file.pdf...   (writes name-N.emf and name-N.png)
#include <cairo.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "emf/emfplayer.h"
#include "emf/metafile.h"
#include "pdf/pdfpage.h"
#include "pdf/pdfreader.h"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  bool helper = argc > 1 && std::string(argv[1]) == "--helper";
  if (helper) --argc, ++argv;
  if (argc < 3) {
    std::fprintf(stderr, "usage: pdfpages [--helper] out-folder file.pdf...\n");
    return 2;
  }
  std::string out = argv[1];
  std::filesystem::create_directories(out);
  double reading = 0, translating = 0, playing = 0;
  int pages = 0, failed = 0;
  for (int i = 2; i < argc; ++i) {
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
    for (size_t p = 0; p < emfs.size(); ++p) {
      std::string name = stem + "-" + std::to_string(p + 1);
      std::ofstream(name + ".emf", std::ios::binary) << emfs[p];
      kx::TkxMetafile mf;
      mf.LoadFromBytes(emfs[p]);
      auto t3 = Clock::now();
      cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, mf.Width(), mf.Height());
      cairo_t* cr = cairo_create(s);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_paint(cr);
      kx::PlayEnhMetafile(cr, emfs[p], 0, 0, mf.Width(), mf.Height());
      cairo_destroy(cr);
      playing += std::chrono::duration<double>(Clock::now() - t3).count();
      cairo_surface_write_to_png(s, (name + ".png").c_str());
      cairo_surface_destroy(s);
      ++pages;
    }
    reading += std::chrono::duration<double>(t1 - t0).count();
    translating += std::chrono::duration<double>(t2 - t1).count();
  }
  std::printf("%d pages: reading %.3f s, translating %.3f s, playing %.3f s; %d failed\n", pages, reading, translating,
              playing, failed);
  return failed ? 1 : 0;
}
