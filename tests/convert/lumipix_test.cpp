#include "convert/lumipix.h"

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>

#include "convert/emfbuild.h"
#include "convert/fakeword.h"
#include "core/app.h"
#include "core/project.h"
#include "platform/files.h"
#include "testutil.h"

using namespace kx;
using kxtest::EmfBuilder;
using kxtest::FakeDocument;
using kxtest::FakeWordScope;

namespace {

// A page with a black square in its top-left corner and the page number as size.
std::string Page(int number) {
  return EmfBuilder()
      .HimetricMapping()
      .SolidBrush(1, 0)
      .Select(1)
      .Rectangle(0, 0, 2540 / 4 * number, 2540 / 4)
      .Bytes();
}

struct PngInfo {
  int Width = 0, Height = 0, ColorType = -1, BitDepth = 0;
};

PngInfo ReadPngInfo(const std::string& path) {
  PngInfo info;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return info;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop pi = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_read_info(png, pi);
    info.Width = int(png_get_image_width(png, pi));
    info.Height = int(png_get_image_height(png, pi));
    info.ColorType = png_get_color_type(png, pi);
    info.BitDepth = png_get_bit_depth(png, pi);
  }
  png_destroy_read_struct(&png, &pi, nullptr);
  std::fclose(f);
  return info;
}

struct Export {
  kxtest::ProjectScope P;
  std::shared_ptr<FakeDocument> Doc = std::make_shared<FakeDocument>();
  FakeWordScope Word{Doc};
  TkxBatch Batch;
  std::string Source;

  explicit Export(int edition, int pages = 3) : P("", edition) {
    for (int i = 1; i <= pages; ++i) Doc->Pages.push_back(Page(i));
    Source = P.Dir / "in/report.doc";
    kxtest::WriteFile(Source, "document");
    Batch.SourceDir = P.Dir / "in/";
    Batch.TargetDir = P.Dir / "out/";
    if (edition == 0) std::filesystem::copy_file(LUMI_PNG_MODULE, kx::App->ExeName + ".so");
  }
  TkxNode Convert() {
    TkxNode node(0, Source);
    TkxLUMIPIX c(&Batch, TkxNodeEvent{}, 1);
    c.ConvertFile(&Batch, &node);
    return node;
  }
  std::string Out(const std::string& name) const { return P.Dir / ("out/" + name); }
};

bool ModuleLoaded(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find(path) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(PageNames, PatternPlaceholderAndResultText) {
  std::string p = PagePattern("/out/report.png");
  EXPECT_EQ(p, "/out/report-%.*d.png");
  EXPECT_EQ(PageName(p, 1), "/out/report-01.png");
  EXPECT_EQ(PageName(p, 9), "/out/report-09.png");
  EXPECT_EQ(PageName(p, 10), "/out/report-10.png");
  EXPECT_EQ(PageName(p, 99), "/out/report-99.png");
  EXPECT_EQ(PageName(p, 100), "/out/report-100.png");
  EXPECT_EQ(PatternText(p), "/out/report-*.png");
  EXPECT_EQ(PagePattern("/out/README"), "/out/README-%.*d");
  // A "%" of the path is kept as it is.
  std::string odd = PagePattern("/out/100% %s %d/a%n.png");
  EXPECT_EQ(PageName(odd, 3), "/out/100% %s %d/a%n-03.png");
  EXPECT_EQ(PatternText(odd), "/out/100% %s %d/a%n-*.png");
}

TEST(PageExport, EmfEditionWritesEveryPageUnchanged) {
  Export r(1);
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, 1) << n.ResultText;
  EXPECT_EQ(n.ResultText, r.Out("report-*.emf"));
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(kxtest::ReadFile(r.Out("report-0" + std::to_string(i) + ".emf")), r.Doc->Pages[size_t(i - 1)]);
  EXPECT_FALSE(kx::FileExists(r.Out("report-04.emf")));
  EXPECT_EQ(r.Word.Count("Document.Close"), 1);
  EXPECT_EQ(r.Word.Count("Selection.Copy"), 0);
  EXPECT_EQ(r.Batch.SuccessCount(), 1);
  EXPECT_FALSE(ModuleLoaded(kx::App->ExeName + ".so"));
}

TEST(PageExport, EmfEditionNeverLoadsThePngModule) {
  Export r(1);
  std::filesystem::copy_file(LUMI_PNG_MODULE, kx::App->ExeName + ".so");
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, 1);
  EXPECT_FALSE(ModuleLoaded(kx::App->ExeName + ".so"));
}

TEST(PageExport, ZeroPagesSucceedWithNoFile) {
  Export r(1, 0);
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, 1);
  EXPECT_EQ(n.ResultText, r.Out("report-*.emf"));
  EXPECT_TRUE(std::filesystem::is_empty(r.P.Dir / "out"));
}

TEST(PageExport, PageBitsFailingFallsBackToTheClipboardFromPageOne) {
  Export r(1);
  r.Doc->FailBitsAt = 2;
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, 1) << n.ResultText;
  EXPECT_EQ(r.Word.Count("Selection.Copy"), 3);
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(kxtest::ReadFile(r.Out("report-0" + std::to_string(i) + ".emf")), r.Doc->Pages[size_t(i - 1)]);
}

TEST(PageExport, OldServersUseOnlyTheClipboard) {
  Export r(1);
  r.Doc->Version = "10.0";
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, 1);
  EXPECT_EQ(r.Word.Count("Pages.Count"), 0);
  EXPECT_EQ(r.Word.Count("Selection.Copy"), 3);
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-03.emf")), r.Doc->Pages[2]);
}

TEST(PageExport, FailureAfterSomePagesKeepsThemAndClosesTheDocument) {
  Export r(1);
  r.Doc->FailBitsAt = 3;
  r.Doc->FailCopyAt = 3;
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, 2);
  EXPECT_EQ(n.ResultText, "Copy failed");
  EXPECT_TRUE(kx::FileExists(r.Out("report-01.emf")));
  EXPECT_TRUE(kx::FileExists(r.Out("report-02.emf")));
  EXPECT_FALSE(kx::FileExists(r.Out("report-03.emf")));
  EXPECT_EQ(r.Word.Count("Document.Close"), 1);
  EXPECT_EQ(r.Batch.Errors(), (std::vector<std::string>{"Copy failed"}));
}

TEST(PageExport, PngEditionNaturalSizeAndWidthOption) {
  Export r(0, 2);
  TkxNode n = r.Convert();
  ASSERT_EQ(n.Status, 1) << n.ResultText;
  PngInfo p = ReadPngInfo(r.Out("report-01.png"));
  EXPECT_EQ(p.Width, 816);
  EXPECT_EQ(p.Height, 1056);
  EXPECT_EQ(p.ColorType, PNG_COLOR_TYPE_RGB);
  EXPECT_EQ(ReadPngInfo(r.Out("report-02.png")).Width, 816);
  Project->SetOption("Width", "800");
  r.Convert();
  p = ReadPngInfo(r.Out("report-01.png"));
  EXPECT_EQ(p.Width, 800);
  EXPECT_EQ(p.Height, 1035);  // 1056 x 800 / 816, cut toward zero
}

TEST(PageExport, PngEditionColorsKeepTheirDepth) {
  Export r(0, 1);
  struct Want {
    const char* Color;
    int Type, Depth;
  };
  for (Want w : {Want{"1", PNG_COLOR_TYPE_PALETTE, 1}, Want{"2", PNG_COLOR_TYPE_PALETTE, 4},
                 Want{"3", PNG_COLOR_TYPE_PALETTE, 8}, Want{"4", PNG_COLOR_TYPE_RGB, 8}, Want{"5", PNG_COLOR_TYPE_RGB, 8},
                 Want{"6", PNG_COLOR_TYPE_RGB, 8}, Want{"7", PNG_COLOR_TYPE_RGB, 8}, Want{"8", PNG_COLOR_TYPE_RGB, 8},
                 Want{"x", PNG_COLOR_TYPE_RGB, 8}}) {
    Project->SetOption("Color", w.Color);
    TkxNode n = r.Convert();
    ASSERT_EQ(n.Status, 1) << w.Color << ": " << n.ResultText;
    PngInfo p = ReadPngInfo(r.Out("report-01.png"));
    EXPECT_EQ(p.ColorType, w.Type) << "Color=" << w.Color;
    EXPECT_EQ(p.BitDepth, w.Depth) << "Color=" << w.Color;
  }
}

TEST(PageExport, PngEditionWithoutTheModuleFailsNamingThePage) {
  Export r(0, 2);
  std::filesystem::remove(kx::App->ExeName + ".so");
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, 2);
  EXPECT_EQ(n.ResultText, "The page image " + r.Out("report-01.png") + " could not be written as PNG: the PNG module " +
                              kx::App->ExeName + ".so is missing");
  EXPECT_EQ(r.Batch.SuccessCount(), 0);
}

TEST(PageExport, PngEditionWithAFailingModuleFails) {
  Export r(0, 1);
  std::filesystem::remove(kx::App->ExeName + ".so");
  kxtest::WriteFile(kx::App->ExeName + ".so", "not a library");
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, 2);
  EXPECT_NE(n.ResultText.find("cannot be loaded"), std::string::npos) << n.ResultText;
}

TEST(PageExport, ExistingFirstPageDecidesOverwriteSkipAndRename) {
  Export r(1, 2);
  kxtest::WriteFile(r.Out("report-01.emf"), "old");
  Project->SetOption("IsOverwrite", "skip");
  TkxNode skipped = r.Convert();
  EXPECT_EQ(skipped.Status, 1);
  EXPECT_EQ(skipped.ResultText, "");
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-01.emf")), "old");
  Project->SetOption("IsOverwrite", "0");
  TkxNode renamed = r.Convert();
  EXPECT_EQ(renamed.ResultText, r.Out("-lumimet-report-*.emf"));
  EXPECT_TRUE(kx::FileExists(r.Out("-lumimet-report-02.emf")));
  Project->SetOption("IsOverwrite", "1");
  r.Convert();
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-01.emf")), r.Doc->Pages[0]);
}

TEST(PageExport, KeepFileTimeGivesEveryPageTheDocumentsTimes) {
  Export r(1, 2);
  kx::TkxFileTimes t;
  ASSERT_TRUE(kx::GetFileTimes(r.Source, t));
  t.Write.tv_sec = t.Access.tv_sec = 1234567890;
  kx::SetFileTimes(r.Source, t);
  Project->SetOption("KeepFileTime", "1");
  r.Convert();
  for (const char* page : {"report-01.emf", "report-02.emf"}) {
    kx::TkxFileTimes got;
    ASSERT_TRUE(kx::GetFileTimes(r.Out(page), got));
    EXPECT_EQ(got.Write.tv_sec, 1234567890) << page;
  }
}
