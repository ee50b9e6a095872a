// The command line's friendlier forms and the texts asked for on it.
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/app.h"
#include "core/optiontable.h"
#include "core/project.h"
#include "core/sourcelist.h"
#include "core/usage.h"
#include "platform/paths.h"
#include "testutil.h"

using kx::Project;
using kx::TkxInfoRequest;
using kxtest::ProjectScope;

TEST(CommandLineForms, BlanksAroundKeysAreDroppedValuesKeptAndCommaListsStayTogether) {
  EXPECT_EQ(kx::CommandLineOptions("PureConsole=1, Source=/in/*.doc?,  Target =/out/"),
            "PureConsole=1\r\nSource=/in/*.doc?\r\nTarget=/out/");
  EXPECT_EQ(kx::CommandLineOptions("Pages=1,3,5-,Dpi=150"), "Pages=1,3,5-\r\nDpi=150");
  EXPECT_EQ(kx::CommandLineOptions("Source=/in/a,b/*.doc;Target=/o/"), "Source=/in/a,b/*.doc\r\nTarget=/o/");
  // What had no blanks and no list is split exactly as before.
  EXPECT_EQ(kx::CommandLineOptions("Source=/in/*.doc?;Target=/out/,Subdir=1"),
            "Source=/in/*.doc?\r\nTarget=/out/\r\nSubdir=1");
  EXPECT_EQ(kx::CommandLineOptions("a=1,,b=2"), "a=1\r\n\r\nb=2");
  EXPECT_EQ(kx::CommandLineOptions("x;3"), "x\r\n3");
  EXPECT_EQ(kx::CommandLineOptions(""), "");
}

TEST(CommandLineForms, BlankAfterCommaFillsTargetAsGiven) {
  ProjectScope s;
  ASSERT_TRUE(Project->ParseCommandLine("-P:PureConsole=1, Source=/in/*.doc?, Target=/out/"));
  EXPECT_EQ(Project->Target(), "/out/");
  EXPECT_TRUE(Project->PureConsole());
}

TEST(CommandLineForms, SlashArgumentsWithAFurtherSlashArePathsUnlessTheyCarryOptions) {
  EXPECT_FALSE(kx::IsSwitchArgument("/Users/ann/report.doc"));
  EXPECT_FALSE(kx::IsSwitchArgument("/Install/x.doc"));
  EXPECT_TRUE(kx::IsSwitchArgument("/P:Source=/docs/*.doc?"));
  EXPECT_TRUE(kx::IsSwitchArgument("/PSource=/docs/*.doc?"));
  EXPECT_TRUE(kx::IsSwitchArgument("/U"));
  EXPECT_TRUE(kx::IsSwitchArgument("/iX=1"));
  EXPECT_TRUE(kx::IsSwitchArgument("-P:Source=/docs/*.doc?"));
  EXPECT_FALSE(kx::IsSwitchArgument("/tmp"));  // an existing folder
  EXPECT_FALSE(kx::IsSwitchArgument("report.doc"));
}

TEST(CommandLineForms, AMistypedAbsolutePathBecomesTheSourceNotTheUninstallNotice) {
  ProjectScope s;
  EXPECT_TRUE(Project->ParseCommandLine("/Users/ann/report.doc"));
  EXPECT_EQ(Project->Source(), "/Users/ann/report.doc");
}

TEST(CommandLineForms, AFolderAsSourceIsItsOwnTargetAndIsSearchedWithTheMask) {
  ProjectScope s;
  kxtest::MakeDir(s.Dir / "docs");
  std::string folder = s.Dir / "docs";
  Project->ParseCommandLine(folder);
  EXPECT_EQ(Project->Target(), folder + "/");
  for (const std::string& given : {folder, folder + "/"}) {
    std::vector<kx::TkxSourceItem> items = kx::ReadSource(given, "*.doc?");
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].Kind, kx::TkxSourceItem::skFolder);
    EXPECT_EQ(items[0].Path(), folder + "/*.doc?");
  }
  EXPECT_EQ(kx::ReadSource(folder + "/*.docx", "*.doc?")[0].Path(), folder + "/*.docx");
  EXPECT_EQ(kx::ReadSource(s.Dir / "missing/x.doc", "*.doc?")[0].Kind, kx::TkxSourceItem::skMissing);
}

TEST(CommandLineForms, AFolderGivenAsTheSourceKeyIsItsOwnTargetToo) {
  ProjectScope s;
  kxtest::MakeDir(s.Dir / "docs");
  std::string folder = s.Dir / "docs";
  Project->ParseCommandLine("-P:Source=" + folder);
  EXPECT_EQ(Project->Target(), folder + "/");
}

// Arguments as a Linux user types them: names in the working folder, ".", several
// documents and folders, "file:" addresses with escapes, -v anywhere.
TEST(CommandLineForms, AsALinuxUserTypesThem) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  kxtest::WriteFile(r + "reports/q3.doc", "");
  kxtest::WriteFile(r + "reports/my q?.doc", "");
  kxtest::MakeDir(r + "other");
  std::string before = kx::CurrentDir();
  ASSERT_EQ(chdir((r + "reports").c_str()), 0);
  struct Back {
    std::string Dir;
    ~Back() { (void)!chdir(Dir.c_str()); }
  } back{before};
  auto parsed = [&](std::vector<std::string> args) {
    Project->CmdOptions.clear();
    Project->CmdSource.clear();
    Project->Verbose = false;
    Project->SetSettingsText("");
    Project->ParseCommandLine(args);
    return Project->Source() + " | " + Project->Target();
  };
  EXPECT_EQ(parsed({"q3.doc"}), r + "reports/q3.doc | " + r + "reports/");
  EXPECT_EQ(parsed({"."}), r + "reports/ | " + r + "reports/");
  EXPECT_EQ(parsed({"-v", "q3.doc", "my q?.doc"}),
            "\"" + r + "reports/q3.doc\" \"" + r + "reports/my q?.doc\" | " + r + "reports/");
  EXPECT_TRUE(Project->Verbose);
  // Several folders: no one folder for the pages, so each document's go beside it.
  EXPECT_EQ(parsed({".", "../other"}), "\"" + r + "reports/\" \"" + r + "reports/../other\" | ");
  EXPECT_EQ(parsed({"-P:Target=/out/", "q3.doc"}), r + "reports/q3.doc | /out/");
  EXPECT_EQ(parsed({"file://" + r + "reports/my%20q%3F.doc"}), r + "reports/my q?.doc | " + r + "reports/");
  std::vector<kx::TkxSourceItem> items = kx::ReadSource(Project->Source(), "*.doc?");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Kind, kx::TkxSourceItem::skDocument);  // not a mask that also takes "my qX.doc"
  items = kx::ReadSource(
      "\"q3.doc\" \"ftp://host/a.doc\" \"https://host/b.doc\" \"gone/*.doc\" \"file://" + r + "reports/*.doc?\"",
      "*.doc?");
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[4].Kind, kx::TkxSourceItem::skMask);  // a file: address is a path, masks and all
  EXPECT_EQ(items[1].Kind, kx::TkxSourceItem::skUnsupported);
  EXPECT_EQ(items[2].Kind, kx::TkxSourceItem::skWebAddress);
  EXPECT_EQ(kx::SourceItemProblems(items, false),
            (std::vector<std::string>{"the source ftp://host/a.doc is an address of the kind ftp://, which cannot be "
                                      "fetched: only http:// and https:// can",
                                      "the source folder " + r + "reports/gone/ does not exist"}));
}

TEST(InfoRequests, WhichArgumentsAskForWhat) {
  for (const char* a : {"--help", "-h", "-H", "-?"}) EXPECT_EQ(kx::InfoRequestOf(a), TkxInfoRequest::Help) << a;
  EXPECT_EQ(kx::InfoRequestOf("--version"), TkxInfoRequest::Version);
  EXPECT_EQ(kx::InfoRequestOf("--frobnicate"), TkxInfoRequest::Unknown);
  EXPECT_EQ(kx::InfoRequestOf("--"), TkxInfoRequest::Unknown);
  for (const char* a : {"-P:Source=x", "-U", "-hx", "/h", "", "report.doc"})
    EXPECT_EQ(kx::InfoRequestOf(a), TkxInfoRequest::None) << a;
}

TEST(InfoRequests, HelpListsEveryKeyWithItsDefaultTheManualAndTwoExamples) {
  std::string help = kx::HelpText("/opt/x/batchemf", kx::EditionProfileOf(kx::kEmfEdition));
  EXPECT_EQ(help.rfind(std::string("Lumimet Converter ") + kx::kVersion + ": ", 0), 0u) << help;
  for (const auto& k : kx::OptionTable()) {
    bool shown = help.find("\n  " + std::string(k.Key) + " ") != std::string::npos;
    EXPECT_EQ(shown, k.Listed) << k.Key;
  }
  EXPECT_NE(help.find("  Dpi               96 "), std::string::npos);
  EXPECT_NE(help.find("/opt/x/batchemf.pdf"), std::string::npos);
  EXPECT_NE(help.find("man batchemf"), std::string::npos);
  EXPECT_NE(help.find("PROJECT.batch-lumimet"), std::string::npos);
  size_t examples = help.find("Examples:");
  ASSERT_NE(examples, std::string::npos);
  size_t first = help.find("batchemf \"-P:", examples), second = help.find("batchemf \"-P:", first + 1);
  EXPECT_NE(second, std::string::npos);
  EXPECT_EQ(kx::VersionText(kx::EditionProfileOf(kx::kPngEdition)),
            std::string("Lumipix Converter (PNG edition) ") + kx::kVersion + "\n");
}
