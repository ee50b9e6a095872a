// Word-processor server figures on the corpus: how long one server takes to start,
// and how long it takes to open a document and cut its first page into an EMF.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/olecall.h"
#include "office/wordapp.h"

using namespace kx;
using Clock = std::chrono::steady_clock;

static double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

static double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int main(int argc, char** argv) {
  std::string corpus = argc > 1 ? argv[1] : "../shared/corpus";
  office::RegisterWordApplication();
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(corpus)) {
    std::string ext = e.path().extension().string();
    if (ext == ".doc" || ext == ".docx") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());

  std::vector<double> starts;
  for (int i = 0; i < 3; ++i) {
    auto t0 = Clock::now();
    Variant app = CreateOleObject("Word.Application");
    // The office process starts with the first call that needs it.
    Variant blank = OleGet(OleGet(app, "Documents"), "Add", {TkxOleArg::Omitted()});
    auto t1 = Clock::now();
    OleCall(blank, "Close", {TkxOleArg::Bool(false)});
    OleCall(app, "Quit", {TkxOleArg::Bool(false)});
    starts.push_back(Ms(t0, t1));
  }

  Variant app = CreateOleObject("Word.Application");
  std::vector<double> firstPage;
  int failed = 0;
  for (const auto& f : files) {
    auto t0 = Clock::now();
    try {
      Variant doc =
          OleGet(OleGet(app, "Documents"), "Open", {TkxOleArg::Text(f), TkxOleArg::Omitted(), TkxOleArg::Bool(true)});
      Variant pages = OleGet(OleGet(OleGet(app, "ActiveWindow"), "ActivePane"), "Pages");
      if (VarToInt(OleGet(pages, "Count")) > 0) OleGet(OleGet(pages, "Item", {TkxOleArg::Int(1)}), "EnhMetaFileBits");
      firstPage.push_back(Ms(t0, Clock::now()));
      OleCall(doc, "Close", {TkxOleArg::Bool(false)});
    } catch (const std::exception&) {
      ++failed;
    }
  }
  OleCall(app, "Quit", {TkxOleArg::Bool(false)});
  std::printf("server start (up to its first blank document): median %.0f ms over %zu starts\n", Median(starts),
              starts.size());
  std::printf("open + first page as EMF: median %.0f ms, max %.0f ms over %zu documents (%d could not be opened)\n",
              Median(firstPage), firstPage.empty() ? 0.0 : *std::max_element(firstPage.begin(), firstPage.end()),
              firstPage.size(), failed);
}
