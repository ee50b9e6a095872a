// "Word.Application" on real LibreOffice, driven the way the converters drive it.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <fstream>
#include <sstream>
#include <thread>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/text/XTextDocument.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <filesystem>
#include <map>

#include "convert/lumipix.h"
#include "convert/olecall.h"
#include "convert/wordole.h"
#include "core/app.h"
#include "core/project.h"
#include "emf/bitmap.h"
#include "emf/metafile.h"
#include "engine/batch.h"
#include "office/document.h"
#include "office/officetestutil.h"
#include "office/process.h"
#include "office/wordapp.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "testutil.h"

using namespace kx;

namespace {

const std::string kCorpus = LUMI_CORPUS_DIR "/";

struct CorpusEntry {
  std::string File;
  int Pages = -1;  // -1: LibreOffice cannot open it
  double WidthPt = 0, HeightPt = 0;
};

std::vector<CorpusEntry> Corpus() {
  std::ifstream in(kCorpus + "pages.tsv");
  std::vector<CorpusEntry> r;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream ss(line);
    CorpusEntry e;
    std::string pages, size;
    std::getline(ss, e.File, '\t');
    std::getline(ss, pages, '\t');
    std::getline(ss, size);
    if (pages != "fail") {
      e.Pages = std::stoi(pages);
      std::sscanf(size.c_str(), "%lf x %lf", &e.WidthPt, &e.HeightPt);
    }
    r.push_back(e);
  }
  return r;
}

// The frame of an EMF header in millimetres.
void FrameMm(const std::vector<uint8_t>& emf, double& w, double& h) {
  ASSERT_GE(emf.size(), 88u);
  auto i32 = [&](size_t o) {
    return int32_t(emf[o] | emf[o + 1] << 8 | emf[o + 2] << 16 | uint32_t(emf[o + 3]) << 24);
  };
  EXPECT_EQ(i32(0), 1);            // EMR_HEADER
  EXPECT_EQ(i32(40), 0x464D4520);  // " EMF"
  w = (i32(32) - i32(24)) / 100.0;
  h = (i32(36) - i32(28)) / 100.0;
}

Variant Open(const Variant& app, const std::string& path, const std::string* password = nullptr) {
  std::vector<TkxOleArg> args{TkxOleArg::Text(path), TkxOleArg::Omitted(), TkxOleArg::Bool(false)};
  if (password) {
    args.push_back(TkxOleArg::Omitted());
    args.push_back(TkxOleArg::Text(*password));
  }
  return OleGet(OleGet(app, "Documents"), "Open", args);
}

Variant PagesOf(const Variant& app) { return OleGet(OleGet(OleGet(app, "ActiveWindow"), "ActivePane"), "Pages"); }

std::string FailureOf(const std::function<void()>& f) { return kxtest::FailureText(f, "(opened)"); }

// Readable: no UNO names, no numbers, no source files.
void ExpectReadable(const std::string& m) {
  EXPECT_EQ(m.find("com.sun"), std::string::npos) << m;
  EXPECT_EQ(m.find(".cxx"), std::string::npos) << m;
  EXPECT_EQ(m.find("0x"), std::string::npos) << m;
  EXPECT_EQ(m.find("OLE error"), std::string::npos) << m;
  EXPECT_GT(m.size(), 10u) << m;
}

class Office : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { office::RegisterWordApplication(); }
};

// The cases on the real documents of the corpus; the others use documents made for the run.
class OfficeCorpus : public Office {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kCorpus + "pages.tsv")) GTEST_SKIP() << LUMI_NO_CORPUS ", which is not at " << kCorpus;
  }
};

}  // namespace

TEST_F(OfficeCorpus, PageCountsAndPageFramesOnTwoServersAtOnce) {
  std::vector<CorpusEntry> all = Corpus();
  ASSERT_EQ(all.size(), 41u);
  std::barrier both(2);
  std::mutex lock;
  std::vector<std::string> problems;
  int checked = 0;
  auto worker = [&](int part) {
    Variant app = CreateOleObject("Word.Application");
    OleCall(OleGet(OleGet(app, "Documents"), "Add", {TkxOleArg::Omitted()}), "Close", {TkxOleArg::Bool(false)});
    both.arrive_and_wait();  // both servers run at the same time from here
    for (size_t k = size_t(part); k < all.size(); k += 2) {
      const CorpusEntry& e = all[k];
      std::string path = kCorpus + e.File;
      if (e.Pages < 0) {
        std::string m = FailureOf([&] { Open(app, path); });
        std::lock_guard<std::mutex> g(lock);
        if (m != office::kMsgDamaged) problems.push_back(e.File + ": " + m);
        ++checked;
        continue;
      }
      try {
        Variant doc = Open(app, path);
        Variant pages = PagesOf(app);
        int n = VarToInt(OleGet(pages, "Count"));
        std::vector<std::pair<double, double>> frames;
        for (int i = 1; i <= n; ++i) {
          Variant bits = OleGet(OleGet(pages, "Item", {TkxOleArg::Int(i)}), "EnhMetaFileBits");
          double w = 0, h = 0;
          FrameMm(bits.Bytes, w, h);
          frames.emplace_back(w, h);
        }
        OleCall(doc, "Close", {TkxOleArg::Bool(false)});
        std::lock_guard<std::mutex> g(lock);
        ++checked;
        if (n != e.Pages) problems.push_back(e.File + ": " + std::to_string(n) + " pages");
        for (auto [w, h] : frames)
          if (std::abs(w - e.WidthPt * 25.4 / 72) > 1 || std::abs(h - e.HeightPt * 25.4 / 72) > 1)
            problems.push_back(e.File + ": frame " + std::to_string(w) + " x " + std::to_string(h));
      } catch (const std::exception& ex) {
        std::lock_guard<std::mutex> g(lock);
        problems.push_back(e.File + ": " + ex.what());
      }
    }
    OleCall(app, "Quit", {TkxOleArg::Bool(false)});
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  EXPECT_EQ(checked, 41);
  EXPECT_TRUE(problems.empty()) << [&] {
    std::string s;
    for (auto& p : problems) s += p + "\n";
    return s;
  }();
}

TEST_F(Office, DamagedAndUnsupportedFilesFailAtOnceReadably) {
  kxtest::TempDir d;
  kxtest::WriteFile(d / "empty.doc", "");
  std::string noise;
  for (int i = 0; i < 5000; ++i) noise.push_back(char((i * 7919) % 251));
  kxtest::WriteFile(d / "noise.doc", noise);
  kxtest::WriteFile(d / "rtf.doc", "{\\rtf1\\ansi{\\fonttbl\\f0\\fswiss Helvetica;}\\f0\\pard Hello RTF\\par}");
  // Documents cut short: a lenient filter would read the zip's bytes as a page of text;
  // the .doc keeps its whole header and loses its streams.
  std::string docx = kxtest::ReadFile(kxtest::MadeDocument("two.docx"));
  kxtest::WriteFile(d / "cut100.docx", docx.substr(0, 100));
  kxtest::WriteFile(d / "cut512.docx", docx.substr(0, 512));
  kxtest::WriteFile(d / "cut921.doc", kxtest::ReadFile(kxtest::MadeDocument("two.doc")).substr(0, 921));
  Variant app = CreateOleObject("Word.Application");
  for (const char* bad : {"empty.doc", "noise.doc", "cut100.docx", "cut512.docx", "cut921.doc"}) {
    std::string m = FailureOf([&] { Open(app, d / bad); });
    EXPECT_EQ(m, office::kMsgDamaged) << bad;
  }
  EXPECT_EQ(FailureOf([&] { Open(app, d / "missing.doc"); }), office::kMsgNotFound);
  Variant doc = Open(app, d / "rtf.doc");  // RTF under a .doc name is a document
  EXPECT_EQ(VarToInt(OleGet(PagesOf(app), "Count")), 1);
  OleCall(doc, "Close", {TkxOleArg::Bool(false)});
  OleCall(app, "Quit", {TkxOleArg::Bool(false)});
}

TEST_F(Office, PasswordProtectedDocumentWithAndWithoutSkipPassword) {
  kxtest::ProjectScope scope;
  std::string secret = scope.Dir / "secret.doc";
  {  // made through the bridge: LibreOffice encrypts Word 97 files saved with a password
    office::TkxOfficeProcess p;
    office::TkxWriterDocument blank(p, "", false, nullptr);
    namespace css = com::sun::star;
    css::uno::Reference<css::frame::XComponentLoader> loader(p.Desktop, css::uno::UNO_QUERY_THROW);
    css::uno::Sequence<css::beans::PropertyValue> hidden(1);
    hidden[0].Name = "Hidden";
    hidden[0].Value <<= true;
    auto model = loader->loadComponentFromURL("private:factory/swriter", "_blank", 0, hidden);
    css::uno::Reference<css::text::XTextDocument> text(model, css::uno::UNO_QUERY_THROW);
    text->getText()->setString("Top secret");
    css::uno::Sequence<css::beans::PropertyValue> props(2);
    props[0].Name = "FilterName";
    props[0].Value <<= rtl::OUString("MS Word 97");
    props[1].Name = "Password";
    props[1].Value <<= rtl::OUString("right");
    css::uno::Reference<css::frame::XStorable>(model, css::uno::UNO_QUERY_THROW)
        ->storeToURL(rtl::OUString::fromUtf8(office::FileUrl(secret).c_str()), props);
    css::uno::Reference<css::util::XCloseable>(model, css::uno::UNO_QUERY_THROW)->close(true);
  }
  Variant app = CreateOleObject("Word.Application");
  std::string right = "right", wrong = "wrong";
  EXPECT_EQ(FailureOf([&] { Open(app, secret); }), office::kMsgPasswordNeeded);
  EXPECT_EQ(FailureOf([&] { Open(app, secret, &wrong); }), office::kMsgWrongPassword);
  Variant doc = Open(app, secret, &right);
  EXPECT_EQ(VarToInt(OleGet(PagesOf(app), "Count")), 1);
  OleCall(doc, "Close", {TkxOleArg::Bool(false)});
  OleCall(app, "Quit", {TkxOleArg::Bool(false)});

  // Through the converter's link: with and without "SkipPassword", it fails at once.
  for (const char* skip : {"0", "1"}) {
    Project->SetOption("SkipPassword", skip);
    TkxBatch batch;
    TkxWordOle w(&batch, TkxNodeEvent{}, 1);
    auto t0 = std::chrono::steady_clock::now();
    std::string m = FailureOf([&] { w.OpenDocument(secret); });
    EXPECT_EQ(m, skip[0] == '1' ? office::kMsgWrongPassword : office::kMsgPasswordNeeded);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
    EXPECT_TRUE(IsNullRef(w.FDoc));
    w.QuitServer();
  }
}

TEST_F(Office, LinkOpensReadOnlyAndQuits) {
  kxtest::ProjectScope scope;
  Project->SetOption("ReadOnly", "1");
  TkxBatch batch;
  TkxWordOle w(&batch, TkxNodeEvent{}, 1);
  w.OpenDocument(kxtest::MadeDocument("two.docx"));
  EXPECT_EQ(w.FServerVersion, 16);
  EXPECT_FALSE(IsNullRef(w.FDoc));
  EXPECT_FALSE(w.HasMacros());
  EXPECT_EQ(w.GetServerExe(), "/usr/lib/libreoffice/program/soffice");
  EXPECT_EQ(VarToInt(OleGet(PagesOf(w.FApp), "Count")), 2);
  w.CloseDocument();
  // A document that is not there fails; it never becomes a blank page.
  EXPECT_EQ(FailureOf([&] { w.OpenDocument(scope.Dir / "not-there.doc"); }), "The file does not exist");
  EXPECT_TRUE(IsNullRef(w.FDoc));
  w.QuitServer();
  EXPECT_TRUE(IsNullRef(w.FApp));
}

TEST_F(Office, PagePositionsSelectionAndCopy) {
  Variant app = CreateOleObject("Word.Application");
  Variant doc = Open(app, kxtest::MadeDocument("three.doc"));
  auto startOf = [&](int page) {
    int32_t i = page;
    Variant r = OleGet(doc, "Goto", {TkxOleArg::Int(1), TkxOleArg::Int(1), TkxOleArg::Ref(&i)});
    return VarToInt(OleGet(r, "Start"));
  };
  EXPECT_EQ(startOf(1), 0);
  EXPECT_EQ(startOf(3), 2);
  EXPECT_EQ(startOf(4), 2);  // past the last page: the last page
  Variant sel = OleGet(app, "Selection");
  OleCall(sel, "EndKey", {TkxOleArg::Int(6)});
  EXPECT_EQ(VarToInt(OleGet(sel, "End")), 3);
  OleCall(sel, "SetRange", {TkxOleArg::Int(1), TkxOleArg::Int(2)});
  ClipboardClear();
  OleCall(sel, "Copy", {TkxOleArg::Omitted()});
  std::string clip;
  ASSERT_TRUE(ClipboardGetMetafile(clip));
  Variant bits = OleGet(OleGet(PagesOf(app), "Item", {TkxOleArg::Int(2)}), "EnhMetaFileBits");
  EXPECT_EQ(clip, std::string(bits.Bytes.begin(), bits.Bytes.end()));
  OleCall(doc, "Close", {TkxOleArg::Bool(false)});
  EXPECT_EQ(FailureOf([&] {
              OleGet(doc, "Goto", {TkxOleArg::Int(1), TkxOleArg::Int(1), TkxOleArg::Int(1)});
            }),
            "The document is no longer open");
  OleCall(app, "Quit", {TkxOleArg::Bool(false)});
}

TEST_F(Office, VerdanaLaysOutInTheFaceNearestItsWidths) {
  // Word's Verdana has no metric-compatible free face: the office lays it out in DejaVu
  // Sans, whatever the machine prefers for sans-serif (Noto Sans where it is installed,
  // which breaks such a document into more pages).
  kxtest::TempDir d;
  kxtest::WriteFile(d / "verdana.docx",
                    kxtest::DocxOf("<w:p><w:r><w:rPr><w:rFonts w:ascii=\"Verdana\" w:hAnsi=\"Verdana\"/></w:rPr>"
                                   "<w:t>Text set in Verdana</w:t></w:r></w:p>"));
  Variant app = CreateOleObject("Word.Application");
  Variant doc = Open(app, d / "verdana.docx");
  Variant bits = OleGet(OleGet(PagesOf(app), "Item", {TkxOleArg::Int(1)}), "EnhMetaFileBits");
  std::string emf(bits.Bytes.begin(), bits.Bytes.end());
  std::u16string face = u"DejaVu Sans";
  EXPECT_NE(emf.find(std::string(reinterpret_cast<const char*>(face.data()), face.size() * 2)), std::string::npos);
  OleCall(app, "Quit", {TkxOleArg::Bool(false)});
}

TEST_F(Office, QuitEndsTheProcessAndRemovesTheProfile) {
  pid_t pid;
  std::string work;
  {
    office::TkxOfficeProcess p;
    pid = p.Pid();
    work = p.WorkDir();
    EXPECT_TRUE(p.Alive());
    EXPECT_EQ(access(work.c_str(), F_OK), 0);
  }
  EXPECT_NE(kill(pid, 0), 0);
  EXPECT_NE(access(work.c_str(), F_OK), 0);
}

// The whole corpus through the real converter class, in both editions.
namespace {

struct EditionRun {
  std::map<std::string, int> PageFiles;  // document base name -> page files written
  std::map<std::string, std::string> Failures;
  std::string Target;
};

EditionRun ConvertCorpus(kxtest::ProjectScope& scope, int edition, const std::string& ext) {
  EditionRun r;
  r.Target = scope.Dir / ("out-" + std::to_string(edition) + "-" + ext + "/");
  kx::Edition = edition;
  kx::Project->OutputExt = edition == 0 ? ".png" : ".emf";
  kx::Project->ConvertorClass = kx::FindConvertorClass("TkxLUMIPIX");
  kx::Project->SetSettingsText("ThreadsCount=2");
  kx::TkxBatch batch;
  batch.Start(kCorpus + "*." + ext, r.Target, false);
  std::mutex lock;
  std::vector<kx::TkxNode*> done;
  kx::TkxConvertor* head = kx::TkxConvertor::CreateChain(&batch, r.Target, [&](kx::TkxBatch*, kx::TkxNode* n) {
    std::lock_guard<std::mutex> g(lock);
    done.push_back(n);
  });
  kx::RunningConvertors = 2;
  head->ResumeAll();
  while (kx::RunningConvertors.load() > 0) kx::Sleep(20);
  for (kx::TkxNode* n : done)
    if (n->Status == 2) r.Failures[kx::ExtractFileName(n->FileName)] = n->ResultText;
  for (const auto& e : std::filesystem::directory_iterator(r.Target)) {
    std::string name = e.path().stem().string();
    r.PageFiles[name.substr(0, name.rfind('-'))]++;
  }
  return r;
}

}  // namespace

TEST_F(OfficeCorpus, ConvertsInBothEditionsWithTheRightPagesAndSizes) {
  kxtest::ProjectScope scope;
  kx::RegisterLumipix();
  std::filesystem::copy_file(LUMI_PNG_MODULE, kx::App->ExeName + ".so");
  std::vector<CorpusEntry> all = Corpus();
  for (const char* ext : {"doc", "docx"}) {
    EditionRun emf = ConvertCorpus(scope, 1, ext);
    EditionRun png = ConvertCorpus(scope, 0, ext);
    // Justified text keeps its right edge: the first paragraph of test17's second page.
    {
      kx::TkxMetafile mf;
      mf.LoadFromFile(emf.Target + "test17-02.emf");
      kx::TkxBitmap bmp;
      bmp.SetPixelFormat(kx::TkxPixelFormat::pf32bit);
      bmp.SetSize(mf.Width(), mf.Height());
      bmp.Draw(mf, 0, 0);
      auto dark = [&](int x, int y) {
        uint32_t c = bmp.PixelAt(x, y);
        return int(c & 255) + int(c >> 8 & 255) + int(c >> 16 & 255) < 384;
      };
      std::vector<int> rights;  // per text line of the first paragraph
      int y = 0, gap = 0;
      while (y < bmp.Height() && (rights.empty() || gap < 8)) {
        int right = -1;
        for (int x = 0; x < bmp.Width(); ++x)
          if (dark(x, y)) right = x;
        if (right >= 0) {
          if (gap > 0 || rights.empty()) rights.push_back(right);
          rights.back() = std::max(rights.back(), right);
          gap = 0;
        } else if (!rights.empty()) {
          ++gap;
        }
        ++y;
      }
      ASSERT_GE(rights.size(), 4u) << ext;
      auto [lo, hi] = std::minmax_element(rights.begin(), rights.end() - 1);
      EXPECT_LE(*hi - *lo, 3) << ext << ": justified lines end in one column";
      EXPECT_LT(rights.back(), *lo - 50) << ext << ": the paragraph's last line is not stretched";
    }
    for (const CorpusEntry& e : all) {
      std::string base = e.File.substr(0, e.File.rfind('.'));
      if (e.File.substr(e.File.rfind('.') + 1) != ext) continue;
      if (e.Pages < 0) {
        EXPECT_EQ(emf.Failures[e.File], office::kMsgDamaged);
        EXPECT_EQ(png.Failures[e.File], office::kMsgDamaged);
        continue;
      }
      EXPECT_EQ(emf.PageFiles[base], e.Pages) << e.File;
      EXPECT_EQ(png.PageFiles[base], e.Pages) << e.File;
      for (int i = 1; i <= e.Pages; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "-%02d", i);
        kx::TkxMetafile mf;
        mf.LoadFromFile(emf.Target + base + suffix + ".emf");
        double w = (mf.Header().FrameR - mf.Header().FrameL) / 100.0,
               h = (mf.Header().FrameB - mf.Header().FrameT) / 100.0;
        EXPECT_NEAR(w, e.WidthPt * 25.4 / 72, 1.0) << e.File << suffix;
        EXPECT_NEAR(h, e.HeightPt * 25.4 / 72, 1.0) << e.File << suffix;
        // The PNG page has the metafile's natural size.
        std::string pngFile = png.Target + base + suffix + ".png";
        FILE* f = std::fopen(pngFile.c_str(), "rb");
        ASSERT_NE(f, nullptr) << pngFile;
        unsigned char head[24] = {};
        ASSERT_EQ(std::fread(head, 1, 24, f), 24u);
        std::fclose(f);
        uint32_t pw = uint32_t(head[16]) << 24 | head[17] << 16 | head[18] << 8 | head[19];
        uint32_t ph = uint32_t(head[20]) << 24 | head[21] << 16 | head[22] << 8 | head[23];
        EXPECT_EQ(int(pw), mf.Width()) << pngFile;
        EXPECT_EQ(int(ph), mf.Height()) << pngFile;
      }
    }
  }
}

// A crashing, hanging or worn office costs one document, never the run.
TEST_F(Office, KilledOfficeFailsOneDocumentAndTheNextOneConverts) {
  Variant app = CreateOleObject("Word.Application");
  Variant doc = Open(app, kxtest::MadeDocument("three.docx"));
  std::vector<pid_t> pids = office::RunningOfficePids();
  ASSERT_EQ(pids.size(), 1u);
  kill(pids[0], SIGKILL);
  EXPECT_EQ(FailureOf([&] { OleGet(PagesOf(app), "Count"); }),
            "The word processor stopped while converting this document");
  OleCall(doc, "Close", {TkxOleArg::Bool(false)});  // a document of the dead office closes quietly
  Variant next = Open(app, kxtest::MadeDocument("two.docx"));
  EXPECT_EQ(VarToInt(OleGet(PagesOf(app), "Count")), 2);
  EXPECT_NE(office::RunningOfficePids(), pids);
  OleCall(next, "Close", {TkxOleArg::Bool(false)});
  OleCall(app, "Quit", {TkxOleArg::Bool(false)});
}

TEST_F(Office, WatchdogEndsAHangingOfficeAndTheNextDocumentConverts) {
  office::SetDeadlines(3, 0);
  Variant app = CreateOleObject("Word.Application");
  Variant doc = Open(app, kxtest::MadeDocument("three.docx"));
  std::vector<pid_t> pids = office::RunningOfficePids();
  ASSERT_EQ(pids.size(), 1u);
  kill(pids[0], SIGSTOP);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureOf([&] { OleGet(PagesOf(app), "Count"); }),
            "The word processor did not finish this document within 3 seconds");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  office::SetDeadlines(120, 1);
  OleCall(doc, "Close", {TkxOleArg::Bool(false)});
  Variant next = Open(app, kxtest::MadeDocument("one.docx"));
  EXPECT_EQ(VarToInt(OleGet(PagesOf(app), "Count")), 1);
  OleCall(next, "Close", {TkxOleArg::Bool(false)});
  OleCall(app, "Quit", {TkxOleArg::Bool(false)});
  EXPECT_NE(kill(pids[0], 0), 0);  // the stopped office is gone
}

TEST_F(Office, WornOfficeIsRecycledBetweenDocuments) {
  office::SetRecycleAfter(2);
  Variant app = CreateOleObject("Word.Application");
  std::vector<std::vector<pid_t>> seen;
  for (const char* f : {"one.docx", "two.docx", "one.doc"}) {
    Variant doc = Open(app, kxtest::MadeDocument(f));
    EXPECT_GE(VarToInt(OleGet(PagesOf(app), "Count")), 1) << f;
    seen.push_back(office::RunningOfficePids());
    OleCall(doc, "Close", {TkxOleArg::Bool(false)});
  }
  office::SetRecycleAfter(200);
  OleCall(app, "Quit", {TkxOleArg::Bool(false)});
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_NE(seen[1], seen[2]);  // a fresh office for the third document
}

// Through the converter: the broken document fails readably, the rest of the run converts.
namespace {

std::map<std::string, std::string> ConvertWithHook(kxtest::ProjectScope& scope, const std::vector<std::string>& files,
                                                   int signal) {
  kx::RegisterLumipix();
  kx::Edition = 1;
  kx::Project->OutputExt = ".emf";
  kx::Project->ConvertorClass = kx::FindConvertorClass("TkxLUMIPIX");
  std::atomic<int> exports{0};
  office::SetBeforeExport([&](pid_t pid) {
    if (++exports == 2) kill(pid, signal);  // the second document, in the middle of its conversion
  });
  kx::TkxBatch batch;
  for (const auto& f : files) batch.AddFile(kxtest::MadeDocument(f));
  std::string target = scope.Dir / "out/";
  kx::TkxConvertor* head = kx::TkxConvertor::CreateChain(&batch, target, {});
  kx::RunningConvertors = 1;
  head->ResumeAll();
  while (kx::RunningConvertors.load() > 0) kx::Sleep(20);
  office::SetBeforeExport(nullptr);
  std::map<std::string, std::string> results;
  auto& items = batch.LockItems();
  for (auto& n : items)
    results[kx::ExtractFileName(n->FileName)] = std::string(kx::StatusWord(n->Status)) + ": " + n->ResultText;
  batch.UnlockItems();
  return results;
}

}  // namespace

TEST_F(Office, ConverterSurvivesAKilledOffice) {
  kxtest::ProjectScope scope;
  auto r = ConvertWithHook(scope, {"one.docx", "two.docx", "three.docx"}, SIGKILL);
  EXPECT_EQ(r["one.docx"].substr(0, 8), "Success:");
  EXPECT_EQ(r["two.docx"], "Failure: The word processor stopped while converting this document");
  EXPECT_EQ(r["three.docx"].substr(0, 8), "Success:");
  EXPECT_TRUE(kx::FileExists(scope.Dir / "out/three-03.emf"));
}

TEST_F(Office, ConverterSurvivesAHangingOffice) {
  kxtest::ProjectScope scope;
  office::SetDeadlines(3, 0);
  auto r = ConvertWithHook(scope, {"one.docx", "two.docx", "three.docx"}, SIGSTOP);
  office::SetDeadlines(120, 1);
  EXPECT_EQ(r["one.docx"].substr(0, 8), "Success:");
  EXPECT_EQ(r["two.docx"], "Failure: The word processor did not finish this document within 3 seconds");
  EXPECT_EQ(r["three.docx"].substr(0, 8), "Success:");
}

TEST_F(Office, MissingOfficeFailsEachDocumentReadably) {
  kxtest::ProjectScope scope;
  office::TkxOfficeProcess::SetProgramDir(scope.Dir / "no-office");
  TkxBatch batch;
  TkxWordOle w(&batch, TkxNodeEvent{}, 1);
  std::string m = FailureOf([&] { w.OpenDocument(kxtest::MadeDocument("one.docx")); });
  office::TkxOfficeProcess::SetProgramDir("");
  EXPECT_EQ(m, "The word processor (LibreOffice) is not installed");
  ExpectReadable(m);
  EXPECT_TRUE(IsNullRef(w.FDoc));
  w.OpenDocument(kxtest::MadeDocument("one.docx"));  // the same link works once the office is there
  EXPECT_FALSE(IsNullRef(w.FDoc));
  w.CloseDocument();
  w.QuitServer();
}
