#include "convert/lumipix.h"

#include <gtest/gtest.h>
#include <png.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>

#include "convert/emfbuild.h"
#include "convert/fakeword.h"
#include "convert/pagesource.h"
#include "core/app.h"
#include "core/project.h"
#include "emf/bitmap.h"
#include "engine/convertor.h"
#include "platform/files.h"
#include "platform/hostid.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "testutil.h"

using namespace kx;
using kxtest::EmfBuilder;
using kxtest::FakeDocument;
using kxtest::FakeWordScope;

namespace {

// A page with a black bar in its top-left corner: its width tells the page number,
// its height the document.
std::string Page(int number, int document = 1) {
  return EmfBuilder()
      .HimetricMapping()
      .SolidBrush(1, 0)
      .Select(1)
      .Rectangle(0, 0, 2540 / 4 * number, 2540 / 4 * document)
      .Bytes();
}

// The pages of a document file for the fake server: its content is "<pages> <document>".
std::vector<std::string> PagesOfContent(const std::string& path) {
  int pages = 0, document = 0;
  std::sscanf(kxtest::ReadFile(path).c_str(), "%d %d", &pages, &document);
  std::vector<std::string> r;
  for (int i = 1; i <= pages; ++i) r.push_back(Page(i, document));
  return r;
}

// The names in a folder, sorted.
// A page of the document as its page file holds it: recording its document.
std::string Recorded(const std::string& page, const std::string& source = "report.doc") {
  return kx::WithEmfSource(page, Project->Title, source);
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> r;
  for (const auto& e : std::filesystem::directory_iterator(folder)) r.push_back(e.path().filename().string());
  std::sort(r.begin(), r.end());
  return r;
}

struct PngInfo {
  int Width = 0, Height = 0, ColorType = -1, BitDepth = 0;
  std::string Source;  // its "Source" text as libpng reads it (a chunk with a bad CRC is dropped)
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
    png_textp texts = nullptr;
    int count = png_get_text(png, pi, &texts, nullptr);
    for (int i = 0; i < count; ++i)
      if (std::string(texts[i].key) == "Source") info.Source.assign(texts[i].text, texts[i].itxt_length);
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
    if (edition == kx::kPngEdition) std::filesystem::copy_file(LUMI_PNG_MODULE, kx::App->ExeName + ".so");
  }
  TkxNode Convert() {
    TkxNode node(0, Source);
    TkxLUMIPIX c(&Batch, TkxNodeEvent{}, 1);
    c.ConvertFile(&Batch, &node);
    return node;
  }
  std::string Out(const std::string& name) const { return P.Dir / ("out/" + name); }
};

// Whole runs of TkxLUMIPIX converter threads over `in/`, each server opening the
// document it is given (PagesOfContent).
struct ChainRun {
  kxtest::ProjectScope P;
  std::shared_ptr<FakeDocument> Doc = std::make_shared<FakeDocument>();
  FakeWordScope Word{Doc};

  explicit ChainRun(int edition) : P("", edition) {
    Doc->OpenFile = PagesOfContent;
    RegisterLumipix();
    Project->ConvertorClass = FindConvertorClass("TkxLUMIPIX");
    if (edition == kx::kPngEdition) std::filesystem::copy_file(LUMI_PNG_MODULE, kx::App->ExeName + ".so");
  }
  // The result text of every document of `source` by its path, in a run with `threads`.
  std::map<std::string, std::string> Run(const std::string& source, const std::string& target, int threads) {
    Project->SetOption("ThreadsCount", std::to_string(threads));
    TkxBatch b;
    b.Start(source, target, true);
    TkxConvertor* head = TkxConvertor::CreateChain(&b, target, {});
    int n = 0;
    for (TkxConvertor* c = head; c; c = c->Next) ++n;
    RunningConvertors = n;
    head->ResumeAll();
    int64_t until = kx::GetTickCount() + 60000;
    while (RunningConvertors.load() > 0 && kx::GetTickCount() < until) kx::Sleep(1);
    EXPECT_EQ(RunningConvertors.load(), 0);
    std::map<std::string, std::string> r;
    auto& items = b.LockItems();
    for (auto& item : items) {
      EXPECT_EQ(item->Status, kx::TkxNode::Success) << item->FileName << ": " << item->ResultText;
      r[item->FileName] = item->ResultText;
    }
    b.UnlockItems();
    return r;
  }
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

TEST(PageExport, EmfEditionWritesEveryPageUnchangedButItsSource) {
  Export r(kx::kEmfEdition);
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Success) << n.ResultText;
  EXPECT_EQ(n.ResultText, r.Out("report-*.emf"));
  for (int i = 1; i <= 3; ++i) {
    std::string page = r.Out("report-0" + std::to_string(i) + ".emf");
    std::string bytes = kxtest::ReadFile(page);
    EXPECT_EQ(bytes, Recorded(r.Doc->Pages[size_t(i - 1)]));
    EXPECT_EQ(kx::ReadPageSource(page), "report.doc");
    // Only the header grew: every record after it is the document's, and it still loads.
    const std::string& original = r.Doc->Pages[size_t(i - 1)];
    uint32_t oldHeader = uint8_t(original[4]) | uint8_t(original[5]) << 8;
    uint32_t newHeader = uint8_t(bytes[4]) | uint8_t(bytes[5]) << 8;
    EXPECT_EQ(bytes.substr(newHeader), original.substr(oldHeader));
    kx::TkxMetafile m;
    m.LoadFromBytes(bytes);
    EXPECT_EQ(m.Width(), 816);
  }
  EXPECT_FALSE(kx::FileExists(r.Out("report-04.emf")));
  EXPECT_EQ(r.Word.Count("Document.Close"), 1);
  EXPECT_EQ(r.Word.Count("Selection.Copy"), 0);
  EXPECT_EQ(r.Batch.SuccessCount(), 1);
  EXPECT_FALSE(ModuleLoaded(kx::App->ExeName + ".so"));
}

TEST(PageExport, EmfEditionNeverLoadsThePngModule) {
  Export r(kx::kEmfEdition);
  std::filesystem::copy_file(LUMI_PNG_MODULE, kx::App->ExeName + ".so");
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Success);
  EXPECT_FALSE(ModuleLoaded(kx::App->ExeName + ".so"));
}

TEST(PageExport, ZeroPagesSucceedWithNoFileAndPagesBeyondTheEndSaySo) {
  {
    Export r(kx::kEmfEdition, 0);
    TkxNode n = r.Convert();
    EXPECT_EQ(n.Status, kx::TkxNode::Success);
    EXPECT_EQ(n.ResultText, r.Out("report-*.emf"));
    EXPECT_TRUE(std::filesystem::is_empty(r.P.Dir / "out"));
  }
  Export two(kx::kEmfEdition, 2);
  Project->SetOption("Pages", "3-");
  TkxNode n = two.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Success);
  EXPECT_EQ(n.ResultText,
            two.Out("report-*.emf") + " (no page written: the document has 2 pages and Pages=3- names none of them)");
  EXPECT_TRUE(std::filesystem::is_empty(two.P.Dir / "out"));
}

TEST(PageExport, PageBitsFailingFallsBackToTheClipboardFromPageOne) {
  Export r(kx::kEmfEdition);
  r.Doc->FailBitsAt = 2;
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Success) << n.ResultText;
  EXPECT_EQ(r.Word.Count("Selection.Copy"), 3);
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(kxtest::ReadFile(r.Out("report-0" + std::to_string(i) + ".emf")), Recorded(r.Doc->Pages[size_t(i - 1)]));
}

TEST(PageExport, OldServersUseOnlyTheClipboard) {
  Export r(kx::kEmfEdition);
  r.Doc->Version = "10.0";
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Success);
  EXPECT_EQ(r.Word.Count("Pages.Count"), 0);
  EXPECT_EQ(r.Word.Count("Selection.Copy"), 3);
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-03.emf")), Recorded(r.Doc->Pages[2]));
}

// The export lays the document out before it takes the items lock, which the search
// thread, the other converters and the window's rows wait for; the clipboard is used
// under it.
TEST(PageExport, OnlyTheClipboardIsUsedUnderTheItemsLock) {
  Export r(kx::kEmfEdition);
  r.Doc->Version = "10.0";  // the clipboard route from the start, where the office exports
  auto othersMayLock = [&] {
    return std::async(std::launch::async,
                      [&] {
                        if (!r.Batch.ItemsLock().try_lock()) return false;
                        r.Batch.ItemsLock().unlock();
                        return true;
                      })
        .get();
  };
  std::vector<bool> atExport, atCopy;
  r.Doc->OnExport = [&] { atExport.push_back(othersMayLock()); };
  r.Doc->OnCopy = [&] { atCopy.push_back(othersMayLock()); };
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Success) << n.ResultText;
  EXPECT_EQ(atExport, std::vector<bool>{true});
  EXPECT_EQ(atCopy, std::vector<bool>(3, false));
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-03.emf")), Recorded(r.Doc->Pages[2]));
}

TEST(PageExport, AFailedDocumentLeavesTheEarlierPagesAsTheyWere) {
  Export r(kx::kEmfEdition);
  kxtest::WriteFile(r.Out("report-01.emf"), "page one of the earlier version");
  kxtest::WriteFile(r.Out("report-04.emf"), "page four of the earlier version");
  r.Doc->FailBitsAt = 3;
  r.Doc->FailCopyAt = 3;
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Failure);
  EXPECT_EQ(n.ResultText, "No page bits here");  // the first failure, not the clipboard's after it
  // Nothing of this run: neither page 2 nor a temporary file, and the earlier pages untouched.
  EXPECT_EQ(Names(r.P.Dir / "out"), (std::vector<std::string>{"report-01.emf", "report-04.emf"}));
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-01.emf")), "page one of the earlier version");
  EXPECT_EQ(r.Word.Count("Document.Close"), 1);
  EXPECT_EQ(r.Batch.Errors(), (std::vector<std::string>{"No page bits here"}));
}

TEST(PageExport, StalePagesOfALongerVersionGoAndNothingElse) {
  Export r(kx::kEmfEdition, 2);
  for (const char* f : {"report-01.emf", "report-02.emf", "report-03.emf", "report-100.emf", "report-003.emf",
                        "report-04.png", "report-x-04.emf", "report-04.emf.bak", "report-docx-03.emf"})
    kxtest::WriteFile(r.Out(f), "earlier");
  TkxNode n = r.Convert();
  ASSERT_EQ(n.Status, kx::TkxNode::Success) << n.ResultText;
  EXPECT_EQ(Names(r.P.Dir / "out"),
            (std::vector<std::string>{"report-003.emf", "report-01.emf", "report-02.emf", "report-04.emf.bak",
                                      "report-04.png", "report-docx-03.emf", "report-x-04.emf"}));
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-02.emf")), Recorded(r.Doc->Pages[1]));
  // Only some pages made: the others are not known to be stale.
  kxtest::WriteFile(r.Out("report-05.emf"), "earlier");
  Project->SetOption("Pages", "1");
  ASSERT_EQ(r.Convert().Status, kx::TkxNode::Success);
  EXPECT_TRUE(kx::FileExists(r.Out("report-02.emf")) && kx::FileExists(r.Out("report-05.emf")));
  EXPECT_EQ(PageNumberOf("/out/report-%.*d.emf", "report-100.emf"), 100);
  EXPECT_EQ(PageNumberOf("/out/report-%.*d.emf", "report-7.emf"), -1);
  EXPECT_EQ(PageNumberOf("/out/report-%.*d.emf", "report-.emf"), -1);
  EXPECT_EQ(PageNumberOf("/out/a%n-%.*d", "a%n-12"), 12);
}

TEST(PageExport, PngEditionFinalNamesOnlyEverReceiveAPng) {
  Export r(kx::kPngEdition, 2);
  kxtest::WriteFile(r.Out("report-01.png"), "the earlier page");
  std::filesystem::remove(kx::App->ExeName + ".so");
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Failure);
  EXPECT_EQ(Names(r.P.Dir / "out"), (std::vector<std::string>{"report-01.png"}));  // no bitmap, no metafile
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-01.png")), "the earlier page");
  std::filesystem::copy_file(LUMI_PNG_MODULE, kx::App->ExeName + ".so");
  Project->SetOption("Width", "1000000");  // too large to render
  TkxNode large = r.Convert();
  EXPECT_EQ(large.Status, kx::TkxNode::Failure);
  EXPECT_NE(large.ResultText.find("too large"), std::string::npos) << large.ResultText;
  EXPECT_EQ(Names(r.P.Dir / "out"), (std::vector<std::string>{"report-01.png"}));
}

TEST(PageExport, LongNamesKeepTheirPageNamesAndFailClearlyBeyondTheLimit) {
  Export r(kx::kPngEdition, 1);
  std::string stem(246, 'n');  // 250 bytes with ".doc"; the page name has 253
  r.Source = r.P.Dir / ("in/" + stem + ".doc");
  kxtest::WriteFile(r.Source, "document");
  TkxNode n = r.Convert();
  ASSERT_EQ(n.Status, kx::TkxNode::Success) << n.ResultText;
  EXPECT_EQ(Names(r.P.Dir / "out"), (std::vector<std::string>{stem + "-01.png"}));
  EXPECT_EQ(ReadPngInfo(r.Out(stem + "-01.png")).Width, 816);
  std::string longest(251, 'n');  // 255 bytes with ".doc": the page name would have 258
  r.Source = r.P.Dir / ("in/" + longest + ".doc");
  kxtest::WriteFile(r.Source, "document");
  TkxNode tooLong = r.Convert();
  EXPECT_EQ(tooLong.Status, kx::TkxNode::Failure);
  EXPECT_EQ(tooLong.ResultText,
            "The page name \"" + longest + "-01.png\" is longer than the file system allows (255 bytes)");
  EXPECT_EQ(Names(r.P.Dir / "out").size(), 1u);
}

TEST(PageExport, NamesThatAreNotUtf8AreConvertedAsTheyAre) {
  Export r(kx::kPngEdition, 2);
  r.Doc->OpenFile = PagesOfContent;
  r.Source = r.P.Dir / "in/caf\xe9/caf\xe9.doc";
  kxtest::WriteFile(r.Source, "2 3");
  TkxNode n = r.Convert();
  ASSERT_EQ(n.Status, kx::TkxNode::Success) << n.ResultText;
  ASSERT_EQ(r.Doc->Opened.size(), 1u);
  EXPECT_TRUE(kx::IsValidUtf8(r.Doc->Opened[0])) << r.Doc->Opened[0];
  EXPECT_FALSE(kx::FileExists(r.Doc->Opened[0]));  // the office's name for it is gone with the document
  EXPECT_EQ(n.ResultText, r.Out("caf\\xE9/caf\\xE9-*.png"));
  EXPECT_EQ(Names(r.P.Dir / "out/caf\xe9"), (std::vector<std::string>{"caf\xe9-01.png", "caf\xe9-02.png"}));
  EXPECT_EQ(ReadPngInfo(r.Out("caf\xe9/caf\xe9-02.png")).Width, 816);
}

// The PNG module takes UTF-16 paths: every byte of a name reaches the file system,
// and its temporary file is short whatever the name.
TEST(PngModule, EscapedNamesAndLongNames) {
  kxtest::TempDir d;
  void* lib = dlopen(LUMI_PNG_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr);
  auto convert = reinterpret_cast<bool (*)(const char16_t*, const char16_t*)>(dlsym(lib, "ConvertBMP2PNG"));
  ASSERT_NE(convert, nullptr);
  kx::TkxBitmap bmp;
  bmp.SetSize(40, 30);
  std::string folder = d / "caf\xe9/";
  kxtest::WriteFile(folder + "page.bmp", bmp.BmpBytes());
  std::string png = folder + std::string(246, 'n') + "\xe9-01.png";
  EXPECT_TRUE(convert(kx::PathToUtf16(folder + "page.bmp").c_str(), kx::PathToUtf16(png).c_str()));
  EXPECT_EQ(ReadPngInfo(png).Width, 40);
  EXPECT_EQ(Names(folder).size(), 2u);  // the bitmap and the image, nothing else
}

// Two converter threads over namesakes: each document's pages are all there and
// the same as when it is converted alone.
TEST(PageChain, NamesakesKeepEveryPageOfTheirOwn) {
  ChainRun r(kx::kPngEdition);
  Project->SetOption("KeepTargetSubdirs", "0");
  std::map<std::string, std::string> docs = {
      {"report.doc", "2 1"}, {"report.docx", "1 2"}, {"x/a.doc", "3 3"}, {"y/a.doc", "2 4"}};
  std::map<std::string, std::map<int, std::string>> alone;  // document -> page -> bytes
  int k = 0;
  for (auto& [doc, content] : docs) {
    std::string in = r.P.Dir / ("alone" + std::to_string(++k) + "/");
    kxtest::WriteFile(in + doc, content);
    auto results = r.Run(in + "*.doc?", r.P.Dir / ("alone-out" + std::to_string(k) + "/"), 1);
    ASSERT_EQ(results.size(), 1u);
    std::string pattern = results.begin()->second;
    for (int page = 1; page <= content[0] - '0'; ++page)
      alone[doc][page] = kxtest::ReadFile(ReplaceFirst(pattern, "*", page < 10 ? "0" + std::to_string(page) : ""));
  }
  for (auto& [doc, content] : docs) kxtest::WriteFile(r.P.Dir / ("in/" + doc), content);
  auto results = r.Run(r.P.Dir / "in/*.doc?", r.P.Dir / "out/", 2);
  ASSERT_EQ(results.size(), 4u);
  std::set<std::string> patterns;
  for (auto& [file, pattern] : results) {
    patterns.insert(pattern);
    std::string doc = file.substr((r.P.Dir / "in/").size());
    for (auto& [page, bytes] : alone[doc]) {
      std::string name = ReplaceFirst(pattern, "*", "0" + std::to_string(page));
      EXPECT_FALSE(bytes.empty());
      EXPECT_TRUE(kxtest::ReadFile(name) == bytes) << doc << " page " << page << " in " << name;
    }
  }
  EXPECT_EQ(patterns.size(), 4u);
  EXPECT_EQ(Names(r.P.Dir / "out").size(), 8u);  // 2 + 1 + 3 + 2 pages, nothing else
}

TEST(PageExport, AFullDiskKeepsThePreviousPages) {
  for (int edition : {kx::kPngEdition, kx::kEmfEdition}) {
    Export r(edition, 2);
    kxtest::SmallTmpfs fs(r.P.Dir / "out", "1m");
    if (!fs.Mounted()) GTEST_SKIP() << fs.Why;
    std::string ext = edition == kx::kPngEdition ? ".png" : ".emf";
    kxtest::WriteFile(r.Out("report-01" + ext), "the previous page one");
    kxtest::WriteFile(r.Out("report-02" + ext), "the previous page two");
    fs.Fill("filler");
    TkxNode n = r.Convert();
    EXPECT_EQ(n.Status, kx::TkxNode::Failure);
    EXPECT_NE(n.ResultText.find("No space left on device"), std::string::npos) << n.ResultText;
    EXPECT_NE(n.ResultText.find(r.Out("report-01" + ext)), std::string::npos) << n.ResultText;
    EXPECT_EQ(kxtest::ReadFile(r.Out("report-01" + ext)), "the previous page one");
    EXPECT_EQ(kxtest::ReadFile(r.Out("report-02" + ext)), "the previous page two");
    EXPECT_EQ(Names(r.P.Dir / "out"), (std::vector<std::string>{"filler", "report-01" + ext, "report-02" + ext}));
  }
}

TEST(PageExport, AKilledRunLeavesNoPageAndItsTemporaryFilesAreSwept) {
  Export r(kx::kPngEdition, 3);
  kxtest::WriteFile(r.Out("report-01.png"), "the previous page one");
  pid_t child = fork();
  if (child == 0) {
    r.Doc->OnBits = [](int page) {
      if (page == 3) raise(SIGKILL);
    };
    r.Convert();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  int temporary = 0, claims = 0;
  for (const std::string& name : Names(r.P.Dir / "out")) {
    if (name == "report-01.png") continue;
    long owner = 0;
    std::string host;
    kx::TkxClaimOwner claim;
    if (kx::IsClaimFileName(name)) {
      // The killed run's claim on the name, which says whose it was.
      EXPECT_TRUE(kx::ReadClaim(r.Out(name), claim) && claim.Pid == child && claim.Host == kx::HostId()) << name;
      ++claims;
      continue;
    }
    EXPECT_TRUE(kx::IsTempFileName(name, &host, &owner) && owner == child && host == kx::HostId()) << name;
    ++temporary;
  }
  EXPECT_GE(temporary, 2);  // pages 1 and 2 were made
  EXPECT_EQ(claims, 1);
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-01.png")), "the previous page one");
  TkxNode n = r.Convert();
  ASSERT_EQ(n.Status, kx::TkxNode::Success) << n.ResultText;
  EXPECT_EQ(Names(r.P.Dir / "out"), (std::vector<std::string>{"report-01.png", "report-02.png", "report-03.png"}));
}

TEST(PageExport, PngEditionNaturalSizeAndWidthOption) {
  Export r(kx::kPngEdition, 2);
  TkxNode n = r.Convert();
  ASSERT_EQ(n.Status, kx::TkxNode::Success) << n.ResultText;
  PngInfo p = ReadPngInfo(r.Out("report-01.png"));
  EXPECT_EQ(p.Width, 816);
  EXPECT_EQ(p.Source, "report.doc");
  EXPECT_EQ(kx::ReadPageSource(r.Out("report-01.png")), "report.doc");
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
  Export r(kx::kPngEdition, 1);
  struct Want {
    const char* Color;
    int Type, Depth;
  };
  for (Want w : {Want{"1", PNG_COLOR_TYPE_PALETTE, 1}, Want{"2", PNG_COLOR_TYPE_PALETTE, 4},
                 Want{"3", PNG_COLOR_TYPE_PALETTE, 8}, Want{"4", PNG_COLOR_TYPE_RGB, 8},
                 Want{"5", PNG_COLOR_TYPE_RGB, 8}, Want{"6", PNG_COLOR_TYPE_RGB, 8}, Want{"7", PNG_COLOR_TYPE_RGB, 8},
                 Want{"8", PNG_COLOR_TYPE_RGB, 8}, Want{"x", PNG_COLOR_TYPE_RGB, 8}}) {
    Project->SetOption("Color", w.Color);
    TkxNode n = r.Convert();
    ASSERT_EQ(n.Status, kx::TkxNode::Success) << w.Color << ": " << n.ResultText;
    PngInfo p = ReadPngInfo(r.Out("report-01.png"));
    EXPECT_EQ(p.ColorType, w.Type) << "Color=" << w.Color;
    EXPECT_EQ(p.BitDepth, w.Depth) << "Color=" << w.Color;
  }
}

TEST(PageExport, PngEditionWithoutTheModuleFailsNamingThePage) {
  Export r(kx::kPngEdition, 2);
  std::filesystem::remove(kx::App->ExeName + ".so");
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Failure);
  EXPECT_EQ(n.ResultText, "The page image " + r.Out("report-01.png") + " could not be written as PNG: the PNG module " +
                              kx::App->ExeName + ".so is missing");
  EXPECT_EQ(r.Batch.SuccessCount(), 0);
}

TEST(PageExport, PngEditionWithAFailingModuleFails) {
  Export r(kx::kPngEdition, 1);
  std::filesystem::remove(kx::App->ExeName + ".so");
  kxtest::WriteFile(kx::App->ExeName + ".so", "not a library");
  TkxNode n = r.Convert();
  EXPECT_EQ(n.Status, kx::TkxNode::Failure);
  EXPECT_NE(n.ResultText.find("cannot be loaded"), std::string::npos) << n.ResultText;
}

TEST(PageExport, ExistingFirstPageDecidesOverwriteSkipAndRename) {
  Export r(kx::kEmfEdition, 2);
  kxtest::WriteFile(r.Out("report-01.emf"), "old");
  Project->SetOption("IsOverwrite", "skip");
  TkxNode skipped = r.Convert();
  EXPECT_EQ(skipped.Status, kx::TkxNode::Success);
  EXPECT_EQ(skipped.ResultText, "");
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-01.emf")), "old");
  Project->SetOption("IsOverwrite", "0");
  TkxNode renamed = r.Convert();
  EXPECT_EQ(renamed.ResultText, r.Out("-lumimet-report-*.emf"));
  EXPECT_TRUE(kx::FileExists(r.Out("-lumimet-report-02.emf")));
  TkxNode again = r.Convert();  // the renamed name exists now: a new one
  EXPECT_EQ(again.ResultText, r.Out("-lumimet-report-2-*.emf"));
  EXPECT_EQ(kxtest::ReadFile(r.Out("-lumimet-report-01.emf")), Recorded(r.Doc->Pages[0]));
  Project->SetOption("IsOverwrite", "1");
  r.Convert();
  EXPECT_EQ(kxtest::ReadFile(r.Out("report-01.emf")), Recorded(r.Doc->Pages[0]));
}

TEST(PageExport, KeepFileTimeGivesEveryPageTheDocumentsTimes) {
  Export r(kx::kEmfEdition, 2);
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
