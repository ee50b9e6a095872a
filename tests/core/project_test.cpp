#include "core/project.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "core/app.h"
#include "core/infoslot.h"
#include "core/optiontable.h"
#include "platform/choosers.h"
#include "platform/files.h"
#include "testutil.h"

using kx::Project;
using kx::TOverwriteMode;
using kxtest::ProjectScope;
using kxtest::ReadFile;
using kxtest::WriteFile;

namespace {

// Choosers that answer with prepared paths and record what they were asked.
class FakeChoosers : public kx::TkxChoosers {
 public:
  std::string OpenAnswer, SaveAnswer;
  std::string LastFilter, LastInitial, LastExt;
  std::string BrowseFolder(const std::string& initial) override { return initial; }
  bool PromptOpenFile(const std::string& filter, std::string& path, bool) override {
    LastFilter = filter;
    LastInitial = path;
    if (OpenAnswer.empty()) return false;
    path = OpenAnswer;
    return true;
  }
  bool PromptSaveFile(const std::string& filter, const std::string& ext, std::string& path) override {
    LastFilter = filter;
    LastInitial = path;
    LastExt = ext;
    if (SaveAnswer.empty()) return false;
    path = SaveAnswer;
    return true;
  }
};

struct ChooserScope {
  FakeChoosers C;
  ChooserScope() { kx::SetChoosers(&C); }
  ~ChooserScope() { kx::SetChoosers(nullptr); }
};

}  // namespace

TEST(ProjectOptions, OverwriteModeAndTypedDefaults) {
  ProjectScope s;
  EXPECT_EQ(Project->OverwriteMode(), TOverwriteMode::Overwrite);
  Project->SetSettingsText("isoverwrite=SKIP");
  EXPECT_EQ(Project->OverwriteMode(), TOverwriteMode::Skip);
  Project->SetSettingsText("IsOverwrite=0");
  EXPECT_EQ(Project->OverwriteMode(), TOverwriteMode::Rename);
  Project->SetSettingsText("IsOverwrite=yes");
  EXPECT_EQ(Project->OverwriteMode(), TOverwriteMode::Overwrite);

  Project->SetSettingsText("");
  EXPECT_EQ(Project->ThreadsCount(), 1);
  EXPECT_TRUE(Project->KeepTargetSubdirs());
  EXPECT_FALSE(Project->Subdir());
  EXPECT_EQ(Project->Daemon(), 0);
  EXPECT_FALSE(Project->AutoRun());
  Project->SetSettingsText("ThreadsCount=-3\nKeepTargetSubdirs=0\nSubdir=1\n");
  EXPECT_EQ(Project->ThreadsCount(), -3);  // the chain turns it into one thread
  EXPECT_FALSE(Project->KeepTargetSubdirs());
  EXPECT_TRUE(Project->Subdir());
}

// Values read as meant: blanks around them are not theirs, yes/no and on/off are
// booleans, and a value that cannot be read for what replaces, deletes or renames
// files stops the run instead of falling back to a default it did not mean.
TEST(ProjectOptions, ValuesReadAsMeant) {
  ProjectScope s;
  Project->SetSettingsText("Source = /docs/ \nSource= /docs/ \nSubdir= on\nIsOverwrite=no\nThreadsCount=100000");
  EXPECT_EQ(Project->Source(), "/docs/");
  EXPECT_TRUE(Project->Subdir());
  EXPECT_EQ(Project->OverwriteMode(), TOverwriteMode::Rename);
  EXPECT_EQ(Project->ThreadsCount(), kx::kMaxThreads);
  std::vector<std::string> w = kx::OptionWarnings(Project->SettingsCopy());
  EXPECT_NE(
      std::find(w.begin(), w.end(), "ThreadsCount=100000 is more than a run starts; 64 converter threads are used"),
      w.end())
      << testing::PrintToString(w);
  EXPECT_TRUE(kx::OptionRefusals(Project->SettingsCopy()).empty());
  Project->SetSettingsText("IsOverwrite=nope\nDeleteSource=maybe\nRenameSource=.done/x\nKeepFileTime=maybe");
  EXPECT_NE(kxtest::FailureText([] { Project->OverwriteMode(); }).find("IsOverwrite=nope"), std::string::npos);
  std::vector<std::string> refused = kx::OptionRefusals(Project->SettingsCopy());
  ASSERT_EQ(refused.size(), 3u) << testing::PrintToString(refused);
  EXPECT_EQ(refused[0].rfind("IsOverwrite=nope is not skip, True or False", 0), 0u) << refused[0];
  EXPECT_EQ(refused[1].rfind("DeleteSource=maybe is not a boolean", 0), 0u) << refused[1];
  EXPECT_EQ(refused[2].rfind("RenameSource=.done/x is not a text to append to a name", 0), 0u) << refused[2];
  EXPECT_FALSE(Project->DeleteSource());  // read anywhere else, it deletes nothing
}

TEST(ProjectOptions, AutoRunFromAnyOfThreeKeys) {
  ProjectScope s;
  for (const char* text : {"RunAndClose=1", "PureConsole=True", "Daemon=500"}) {
    Project->SetSettingsText(text);
    EXPECT_TRUE(Project->AutoRun()) << text;
  }
  Project->SetSettingsText("Daemon=0\nRunAndClose=no\nPureConsole=0");
  EXPECT_FALSE(Project->AutoRun());
}

TEST(ProjectOptions, TargetFolderCreatesAndAppendsDelimiter) {
  ProjectScope s;
  std::string t = s.Dir / "out/deep";
  Project->SetOption("Target", t);
  EXPECT_EQ(Project->TargetFolder(), t + "/");
  EXPECT_TRUE(kx::DirectoryExists(t));
  Project->SetOption("Target", t + "/");
  EXPECT_EQ(Project->TargetFolder(), t + "/");
}

TEST(ProjectFiles, IsProjectFileComparesTheEndingWithCase) {
  ProjectScope s;
  EXPECT_TRUE(Project->IsProjectFile("/w/a.batch-lumipix"));
  EXPECT_FALSE(Project->IsProjectFile("/w/a.BATCH-LUMIPIX"));
  EXPECT_FALSE(Project->IsProjectFile("/w/x.batch-lumipix/a.doc"));
  EXPECT_TRUE(Project->IsProjectFile("/w/x.batch-lumipix/a.batch-lumipix"));
}

TEST(CommandLine, OptionSwitchSplitsAtCommaAndSemicolon) {
  ProjectScope s;
  ASSERT_TRUE(Project->ParseCommandLine("-P:Source=/in/*.doc?;Target=/out/,Subdir=1"));
  EXPECT_EQ(Project->CmdOptions, "Source=/in/*.doc?\r\nTarget=/out/\r\nSubdir=1");
  EXPECT_EQ(Project->GetSettingsText(), "Source=/in/*.doc?\r\nTarget=/out/\r\nSubdir=1\r\n");
  EXPECT_EQ(Project->FileName, "");
}

TEST(CommandLine, LowerCaseDashAndSlashFormsAgreeAndTargetDefaultsToSourceFolder) {
  for (const char* arg : {"-p:Source=/in/*.doc?", "/P:Source=/in/*.doc?", "-pSource=/in/*.doc?"}) {
    ProjectScope s;
    Project->ParseCommandLine(arg);
    EXPECT_EQ(Project->Source(), "/in/*.doc?") << arg;
    EXPECT_EQ(Project->Target(), "/in/") << arg;
  }
}

TEST(CommandLine, BareSwitchUnknownSwitchAndShortArgumentOpenTheDefaultProject) {
  for (const char* arg : {"-P", "-X", "", "x"}) {
    ProjectScope s;
    WriteFile(Project->DefaultProjectFile(), "Source=/default/*.doc?\r\n");
    Project->ParseCommandLine(arg);
    EXPECT_EQ(Project->FileName, Project->DefaultProjectFile()) << arg;
    EXPECT_EQ(Project->Source(), "/default/*.doc?") << arg;
  }
}

TEST(CommandLine, AbsolutePathIsAPathNotASwitch) {
  ProjectScope s;
  std::string doc = s.Dir / "Projects/a.doc";  // begins with "/t..." or similar
  Project->ParseCommandLine(doc);
  EXPECT_EQ(Project->Source(), doc);
  EXPECT_EQ(Project->Target(), s.Dir / "Projects/");
  EXPECT_EQ(Project->CmdOptions, "");
}

TEST(CommandLine, InstallerNoticesEndTheProgramThroughOpenLink) {
  struct Recorder : kx::TkxInfoBase {
    std::vector<std::string> Links;
    void Count(const std::string&, int, int) override {}
    void OpenLink(const std::string& page, const std::string& action, const std::string& extra) override {
      Links.push_back(page + "|" + action + "|" + extra);
    }
    void HandleError(const std::string&) override {}
  } rec;
  ProjectScope s;
  kx::Info = &rec;
  EXPECT_FALSE(Project->ParseCommandLine("-Iabc=1"));
  EXPECT_FALSE(Project->ParseCommandLine("/u"));
  kx::Info = nullptr;
  EXPECT_EQ(rec.Links, (std::vector<std::string>{"|ins|abc=1", "|uni|"}));
  EXPECT_EQ(Project->FileName, "");  // nothing was opened
}

TEST(Opening, ProjectFileReplacesSettingsAndIsRemembered) {
  ProjectScope s;
  std::string file = s.Dir / "job.batch-lumipix";
  WriteFile(file, "Source=/a/*.doc?\r\nCustom=kept\r\n");
  Project->SetSettingsText("Old=1");
  Project->ParseCommandLine(file);
  EXPECT_EQ(Project->FileName, file);
  EXPECT_EQ(Project->GetSettingsText(), "Source=/a/*.doc?\r\nCustom=kept\r\n");
  EXPECT_EQ(Project->Target(), "");  // no default from the source for project files
  EXPECT_EQ(Project->RecentFiles.IndexOf(file), 0);
}

TEST(Opening, UnreadableProjectFileKeepsSettingsAndRecentList) {
  ProjectScope s;
  Project->SetSettingsText("Keep=1");
  Project->FileName = s.Dir / "missing.batch-lumipix";
  Project->OpenProject(true);
  EXPECT_EQ(Project->GetOption("Keep"), "1");
  EXPECT_EQ(Project->RecentFiles.Count(), 0);
}

TEST(Opening, DocumentPathThenSecondOpeningWithDefaultProjectPresent) {
  ProjectScope s;
  WriteFile(Project->DefaultProjectFile(), "Source=/default/*.doc?\r\nTarget=/dout/\r\n");
  std::string doc = s.Dir / "work/a.BATCH-LUMIPIX";  // case differs: a document path
  Project->ParseCommandLine(doc);
  EXPECT_EQ(Project->FileName, "");
  EXPECT_EQ(Project->Source(), doc);
  EXPECT_EQ(Project->Target(), s.Dir / "work/");
  Project->OpenStartupProject();  // what the window does once it has its controls
  EXPECT_EQ(Project->FileName, Project->DefaultProjectFile());
  EXPECT_EQ(Project->Source(), "/default/*.doc?");
}

TEST(Opening, DocumentPathThenSecondOpeningWithoutDefaultProjectKeepsSettings) {
  ProjectScope s;
  std::string doc = s.Dir / "a.doc";
  Project->ParseCommandLine(doc);
  Project->OpenStartupProject();
  EXPECT_EQ(Project->FileName, Project->DefaultProjectFile());
  EXPECT_EQ(Project->Source(), doc);
}

TEST(Opening, OptionsAreReadAgainOnTheSecondOpening) {
  ProjectScope s;
  Project->ParseCommandLine("-P:Source=/in/*.doc?,Target=/out/");
  Project->SetOption("Source", "/changed/");
  Project->OpenStartupProject();
  EXPECT_EQ(Project->Source(), "/in/*.doc?");
  EXPECT_EQ(Project->FileName, "");
}

TEST(Opening, OpenCommandWithOptionsInEffectReappliesTheOptions) {
  ProjectScope s;
  ChooserScope cs;
  Project->ParseCommandLine("-P:Source=/in/*.doc?");
  cs.C.OpenAnswer = s.Dir / "chosen.doc";
  Project->OpenProject(false);
  EXPECT_EQ(cs.C.LastFilter, "Lumipix Project|*.batch-lumipix|Word Document (*.doc;*.docx)|*.doc;*.docx");
  EXPECT_EQ(Project->FileName, "");
  EXPECT_EQ(Project->Source(), "/in/*.doc?");
}

TEST(Opening, OpenCommandCancelledChangesNothing) {
  ProjectScope s;
  ChooserScope cs;
  Project->SetSettingsText("A=1");
  Project->FileName = "/x/named.batch-lumipix";
  Project->OpenProject(false);
  EXPECT_EQ(cs.C.LastInitial, "/x/named.batch-lumipix");
  EXPECT_EQ(Project->FileName, "/x/named.batch-lumipix");
  EXPECT_EQ(Project->GetSettingsText(), "A=1\r\n");
}

TEST(Opening, AChosenProjectThatCannotBeReadSaysWhyAndTheOneInHandStays) {
  ProjectScope s;
  ChooserScope cs;
  Project->SetSettingsText("A=1");
  Project->FileName = "/x/named.batch-lumipix";
  kxtest::WriteFile(s.Dir / "locked.batch-lumipix", "Source=/in/\r\n");
  chmod((s.Dir / "locked.batch-lumipix").c_str(), 0);
  std::string why;
  {
    kxtest::FileModesHold hold;
    cs.C.OpenAnswer = s.Dir / "locked.batch-lumipix";
    why = kxtest::FailureText([] { Project->OpenProject(false); });
  }
  EXPECT_EQ(why, "Cannot open file \"" + s.Dir / "locked.batch-lumipix" + "\". Permission denied");
  cs.C.OpenAnswer = s.Dir / "gone.batch-lumipix";
  why = kxtest::FailureText([] { Project->OpenProject(false); });
  EXPECT_EQ(why, "Cannot open file \"" + s.Dir / "gone.batch-lumipix" + "\". It is not a regular file");
  EXPECT_EQ(Project->FileName, "/x/named.batch-lumipix");
  EXPECT_EQ(Project->GetSettingsText(), "A=1\r\n");
  EXPECT_EQ(Project->RecentFiles.Count(), 0);
  // Opened without asking, a missing project is no failure: the default need not exist yet.
  Project->FileName = s.Dir / "gone.batch-lumipix";
  Project->OpenProject(true);
  EXPECT_EQ(Project->GetSettingsText(), "A=1\r\n");
}

TEST(Saving, SaveAsCancelledLeavesAllAndConfirmedWritesAndRemembers) {
  ProjectScope s;
  ChooserScope cs;
  Project->SetSettingsText("Source=/a/*.doc?");
  Project->SaveProject();  // unnamed: asks, and the user cancels
  EXPECT_EQ(Project->FileName, "");
  EXPECT_EQ(cs.C.LastExt, ".batch-lumipix");
  EXPECT_EQ(cs.C.LastFilter, "Lumipix Project|*.batch-lumipix");
  cs.C.SaveAnswer = s.Dir / "saved.batch-lumipix";
  Project->SaveProject();
  EXPECT_EQ(Project->FileName, cs.C.SaveAnswer);
  EXPECT_EQ(ReadFile(cs.C.SaveAnswer), "Source=/a/*.doc?\r\n");
  EXPECT_EQ(Project->RecentFiles.IndexOf(cs.C.SaveAnswer), 0);
}

TEST(Saving, UnwritableProjectFileRaisesAndLeavesRecentList) {
  ProjectScope s;
  Project->FileName = s.Dir / "no/such/folder/x.batch-lumipix";
  EXPECT_THROW(Project->SaveProject(), std::runtime_error);
  EXPECT_EQ(Project->RecentFiles.Count(), 0);
}

TEST(RecentList, RoundTripThroughItsFileNewestFirstNoDuplicates) {
  kxtest::TempDir d;
  std::string exe = d / "batchpng";
  {
    kx::TkxProject p(exe);
    p.ProjectExt = ".batch-lumipix";
    p.FileName = "/a/one.batch-lumipix";
    p.AddRecent();
    p.FileName = "/a/two.batch-lumipix";
    p.AddRecent();
    p.FileName = "/A/ONE.batch-lumipix";  // already there, letter case aside
    p.AddRecent();
  }
  EXPECT_EQ(ReadFile(exe + ".log"), "/a/two.batch-lumipix\r\n/a/one.batch-lumipix\r\n");
  kx::TkxProject again(exe);
  ASSERT_EQ(again.RecentFiles.Count(), 2);
  EXPECT_EQ(again.RecentFiles[0], "/a/two.batch-lumipix");
}

TEST(ProjectSettings, ConcurrentReadsAndWritesStayConsistent) {
  ProjectScope s;
  Project->SetSettingsText("Width=800\nColor=1");
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      while (!stop) {
        std::string w = Project->GetOption("Width");
        if (w != "800" && w != "1024") ++bad;
        Project->OverwriteMode();
        Project->ThreadsCount();
      }
    });
  for (int i = 0; i < 20000; ++i) {
    Project->SetOption("Width", i % 2 ? "1024" : "800");
    Project->SetOption("Tmp", i % 3 ? "x" : "");
    if (i % 500 == 0) Project->SetSettingsText(Project->GetSettingsText());
  }
  stop = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(Project->GetOption("Color"), "1");
}
