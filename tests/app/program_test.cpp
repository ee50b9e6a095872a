#include "app/program.h"

#include <gtest/gtest.h>

#include "convert/lumipix.h"
#include "core/app.h"
#include "core/infoslot.h"
#include "core/project.h"
#include "engine/match.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "testutil.h"

namespace {

struct RecordingInfo : kx::TkxInfoBase {
  std::vector<std::string>* Links;
  explicit RecordingInfo(std::vector<std::string>* links) : Links(links) {}
  void Count(const std::string&, int, int) override {}
  void OpenLink(const std::string& page, const std::string& action, const std::string& extra) override {
    Links->push_back(page + "|" + action + "|" + extra);
  }
  void HandleError(const std::string&) override {}
};

struct ProgramRun {
  std::vector<std::string> Links;
  int WindowCalls = 0;
  std::string WindowTitle, WindowSource;
  int Code = -1;

  ProgramRun(const std::string& exe, const std::string& arg, int display = -1)
      : ProgramRun(exe, std::vector<std::string>{arg}, display) {}
  ProgramRun(const std::string& exe, const std::vector<std::string>& given, int display = -1) {
    kx::RegisterLumipix();
    kx::TkxStartupSlots hooks;
    hooks.CreateInfo = [this] { return std::make_unique<RecordingInfo>(&Links); };
    if (display >= 0) hooks.HasDisplay = [display] { return display == 1; };
    hooks.RunWindow = [this] {
      ++WindowCalls;
      WindowTitle = kx::Project->Title;
      WindowSource = kx::Project->Source();
      return 0;
    };
    std::vector<std::string> args{exe};
    args.insert(args.end(), given.begin(), given.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    Code = kx::RunProgram(int(argv.size()), argv.data(), hooks);
  }
};

}  // namespace

TEST(Edition, FromTheExecutableFileNameOnly) {
  EXPECT_EQ(kx::DetectEdition("/opt/x/batchpng"), kx::kPngEdition);
  EXPECT_EQ(kx::DetectEdition("/opt/x/batchpng.exe"), kx::kPngEdition);
  EXPECT_EQ(kx::DetectEdition("/opt/x/BatchPNG"), kx::kEmfEdition);
  EXPECT_EQ(kx::DetectEdition("/opt/x/batch"), kx::kEmfEdition);
  EXPECT_EQ(kx::DetectEdition("/opt/png/batchemf"), kx::kEmfEdition);  // a folder named with png does not count
  EXPECT_EQ(kx::DetectEdition("/opt/png.d/batch"), kx::kEmfEdition);
}

TEST(Edition, ProfileOfBothEditions) {
  kxtest::TempDir d;
  for (int edition : {kx::kPngEdition, kx::kEmfEdition}) {
    std::string exe = d / (edition == kx::kPngEdition ? "batchpng" : "batchemf");
    kx::App = new kx::TkxApp(exe, "");
    kx::Project = new kx::TkxProject(exe);
    ASSERT_TRUE(kx::ApplyEditionProfile());
    const kx::TkxProject& p = *kx::Project;
    EXPECT_EQ(kx::Edition, edition);
    EXPECT_TRUE(kx::SkipOwnerFiles);
    EXPECT_EQ(p.SourceMask, "*.doc?");
    EXPECT_EQ(p.DocFilter, "Word Document (*.doc;*.docx)|*.doc;*.docx");
    EXPECT_EQ(p.Version, kx::kVersion);
    EXPECT_EQ(p.AltOutputExt, "");
    if (edition == kx::kPngEdition) {
      EXPECT_EQ(p.OutputExt, ".png");
      EXPECT_EQ(p.ProjectFilter, "Lumipix Project|*.batch-lumipix");
      EXPECT_EQ(p.Title, "Lumipix Converter");
      EXPECT_EQ(p.DefaultProjectFile(), exe + ".batch-lumipix");
    } else {
      EXPECT_EQ(p.OutputExt, ".emf");
      EXPECT_EQ(p.ShortName, "lumimet");
      EXPECT_EQ(p.ProjectFilter, "Lumimet Project|*.batch-lumimet");
      EXPECT_EQ(p.Title, "Lumimet Converter");
      EXPECT_EQ(p.FileName, exe + ".batch-lumimet");  // the default project was opened
    }
    delete kx::Project;
    delete kx::App;
    kx::Project = nullptr;
    kx::App = nullptr;
  }
}

TEST(RunModes, UninstallNoticeOpensOneLinkAndNoWindow) {
  kxtest::TempDir d;
  ProgramRun r(d / "batchpng", "-U");
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.WindowCalls, 0);
  EXPECT_EQ(r.Links, (std::vector<std::string>{"|uni|"}));
  EXPECT_EQ(kx::Project, nullptr);  // everything was shut down
  EXPECT_EQ(kx::Info, nullptr);
}

TEST(RunModes, ConsoleRunNeverOpensTheWindow) {
  kxtest::TempDir d;
  kxtest::MakeDir(d / "in");
  ProgramRun r(d / "batchpng", "-P:PureConsole=1,Source=" + d.Path() + "in/*.doc?,Target=" + d.Path() + "out/");
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.WindowCalls, 0);
}

TEST(RunModes, AWebSourceIsAConsoleJobUnlessItRepeatsInTheInvisibleWindow) {
  kxtest::TempDir d;
  testing::internal::CaptureStderr();
  ProgramRun once(d / "batchemf", "-P:PureConsole=1,Source=http://host/a.doc,Target=" + d.Path(), 0);
  ProgramRun repeated(d / "batchemf", "-P:PureConsole=1,Daemon=500,Source=http://host/a.doc,Target=" + d.Path(), 1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(once.WindowCalls, 0);
  EXPECT_EQ(once.Code, 0);
  EXPECT_EQ(repeated.WindowCalls, 1);
  EXPECT_EQ(repeated.WindowTitle, "Lumimet Converter");
  EXPECT_EQ(repeated.WindowSource, "http://host/a.doc");
}

TEST(RunModes, InteractiveWithoutAWindowInTheBuildExitsWithTwo) {
  kxtest::TempDir d;
  kx::TkxStartupSlots hooks;
  std::string exe = d / "batchpng";
  char* argv[] = {exe.data()};
  testing::internal::CaptureStderr();
  int code = kx::RunProgram(1, argv, hooks);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, 2);
  EXPECT_NE(err.find("window is not available"), std::string::npos) << err;
}

TEST(RunModes, HelpVersionAndUnknownDoubleDashEndBeforeAnythingIsOpened) {
  kxtest::TempDir d;
  std::string exe = d / "batchpng";
  kxtest::WriteFile(exe + ".batch-lumipix",
                    "PureConsole=1\r\nSource=" + d.Path() + "in/*.doc?\r\nTarget=" + d.Path() + "out/\r\n");
  kxtest::MakeDir(d / "in");
  for (const char* arg : {"--help", "-h", "-?", "--version", "--frobnicate"}) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ProgramRun r(exe, arg);
    std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
    bool unknown = std::string(arg) == "--frobnicate";
    EXPECT_EQ(r.Code, unknown ? 2 : 0) << arg;
    EXPECT_EQ(r.WindowCalls, 0) << arg;
    EXPECT_TRUE(r.Links.empty()) << arg;
    EXPECT_EQ(out.empty(), unknown) << arg;
    EXPECT_EQ(err.empty(), !unknown) << arg << err;
  }
  // The default project's console job never ran, and no housekeeping file was written.
  EXPECT_FALSE(kx::DirectoryExists(d / "out"));
  EXPECT_FALSE(kx::FileExists(exe + ".log"));
}

TEST(RunModes, WithoutADisplayADocumentOrFolderAloneIsAConsoleJob) {
  kxtest::TempDir d;
  kxtest::MakeDir(d / "docs");
  testing::internal::CaptureStderr();
  ProgramRun folder(d / "batchpng", d / "docs", 0);
  kxtest::WriteFile(d / "a.doc", "");
  kxtest::WriteFile(d / "b.doc", "");
  ProgramRun several(d / "batchpng", std::vector<std::string>{d / "b.doc", d / "a.doc", "-v"}, 0);
  kx::SetTraceStream(nullptr);
  ProgramRun missing(d / "batchpng", "/Users/ann/report.doc", 0);
  ProgramRun shown(d / "batchpng", d / "docs", 1);
  ProgramRun bare(d / "batchpng", "", 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(folder.Code, 0);
  EXPECT_EQ(folder.WindowCalls, 0);
  EXPECT_NE(err.find("Lumipix Converter: warning: no document matches " + d / "docs/*.doc?"), std::string::npos) << err;
  EXPECT_EQ(several.Code, 0);
  EXPECT_EQ(several.WindowCalls, 0);
  // Every one, in the order given (no word processor here: each fails, and says so).
  EXPECT_NE(err.find("Lumipix Converter: 2 documents: 0 converted, 2 failed"), std::string::npos) << err;
  EXPECT_LT(err.find("failed: " + d / "b.doc: "), err.find("failed: " + d / "a.doc: ")) << err;
  EXPECT_NE(err.find(" [t0] run: source \"" + d / "b.doc"), std::string::npos) << err;  // -v: the trace
  EXPECT_EQ(missing.Code, 2);
  EXPECT_EQ(missing.WindowCalls, 0);
  EXPECT_NE(err.find("Lumipix Converter: /Users/ann/report.doc: no such document or folder"), std::string::npos) << err;
  EXPECT_TRUE(missing.Links.empty());  // not the uninstall notice
  EXPECT_EQ(shown.WindowCalls, 1);     // with a display the window opens it, as before
  EXPECT_EQ(bare.Code, 2);
  EXPECT_NE(err.find("Lumipix Converter: no display to show the window on"), std::string::npos) << err;
}

TEST(Shutdown, AWindowThatThrowsStillWritesTheRecentListAndFreesEverything) {
  kxtest::TempDir d;
  std::string exe = d / "batchpng";
  kx::RegisterLumipix();
  kx::TkxStartupSlots hooks;
  hooks.HasDisplay = [] { return true; };
  hooks.RunWindow = [&]() -> int {
    kx::Project->RecentFiles.Insert(0, d / "a.batch-lumipix");
    throw std::runtime_error("the window could not be made");
  };
  char* argv[] = {exe.data()};
  testing::internal::CaptureStderr();
  int code = -1;
  try {
    code = kx::RunProgram(1, argv, hooks);
  } catch (const std::exception&) {
    // Checked below: nothing may be left behind either way.
  }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(kxtest::ReadFile(exe + ".log"), d / "a.batch-lumipix\r\n");
  EXPECT_EQ(kx::Project, nullptr);
  EXPECT_EQ(kx::App, nullptr);
  EXPECT_EQ(kx::Matcher, nullptr);
  EXPECT_EQ(code, 1);
  EXPECT_NE(err.find("Lumipix Converter: the window could not be made"), std::string::npos) << err;
}
