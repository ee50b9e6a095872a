// What a console run says: progress, failures, summary and warnings.
#include "console/console.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "console/runchecks.h"
#include "console/runner.h"
#include "console/runsummary.h"
#include "core/project.h"
#include "testutil.h"

using kx::Project;
using kx::TkxRunTotals;
using kxtest::ProjectScope;
using kxtest::WriteFile;

namespace {

// A FILE* whose text the test can read.
struct MemoryStream {
  char* Data = nullptr;
  size_t Size = 0;
  FILE* F = open_memstream(&Data, &Size);
  ~MemoryStream() {
    if (F) std::fclose(F);
    std::free(Data);
  }
  std::string Text() {
    std::fflush(F);
    return std::string(Data, Size);
  }
};

// A project and a console runner that talks into memory.
struct ReportedRun {
  ProjectScope S;
  MemoryStream M;
  kx::TkxConsoleRunner Runner;
  ReportedRun() { Runner.Report = std::make_unique<kx::TkxConsoleReport>(M.F, "Lumipix Converter", false, 80); }
  std::string Text() { return M.Text(); }
};

TkxRunTotals Totals(int found, int converted, int failed, int skipped, int pages, bool done, std::string current) {
  TkxRunTotals t;
  t.Found = found, t.Converted = converted, t.Failed = failed, t.Skipped = skipped, t.Pages = pages;
  t.SearchDone = done;
  t.Current = std::move(current);
  return t;
}

}  // namespace

TEST(ConsoleText, SummaryLineHasExactlyItsShape) {
  EXPECT_EQ(kx::RunSummaryLine("Lumipix Converter", Totals(4, 3, 1, 0, 7, true, ""), 5.21),
            "Lumipix Converter: 4 documents: 3 converted, 1 failed, 0 skipped; 7 pages in 5.2 s");
  EXPECT_EQ(kx::RunSummaryLine("Lumimet Converter", Totals(0, 0, 0, 0, 0, true, ""), 0.04),
            "Lumimet Converter: 0 documents: 0 converted, 0 failed, 0 skipped; 0 pages in 0.0 s");
  // An interrupted run never reads like a complete one.
  EXPECT_EQ(kx::RunSummaryLine("Lumipix Converter", Totals(5, 2, 1, 0, 3, true, ""), 4.0, true, true),
            "Lumipix Converter: interrupted: 5 documents: 2 converted, 1 failed, 0 skipped, 2 not reached; 3 pages "
            "in 4.0 s (the search was stopped: there may be more)");
  EXPECT_EQ(kx::NotReachedLines({"/in/d.doc", "/in/e.doc"}, "/out/run.log", 1),
            (std::vector<std::string>{"not reached: /in/d.doc", "and 1 more; see the log /out/run.log"}));
}

TEST(ConsoleText, ShortenMiddleCountsCharactersNotBytes) {
  EXPECT_EQ(kx::ShortenMiddle("abcdefghij", 10), "abcdefghij");
  EXPECT_EQ(kx::ShortenMiddle("abcdefghij", 7), "ab...ij");
  EXPECT_EQ(kx::ShortenMiddle("äöüäöüäöüä", 7), "äö...üä");
  EXPECT_EQ(kx::ShortenMiddle("abcdef", 2), "ab");
}

TEST(ConsoleText, ProgressLineGrowsWhileSearchingAndFitsTheWidth) {
  std::string searching = kx::ProgressText(Totals(40, 10, 1, 1, 30, false, "/in/sub/report.docx"), 3.42, 80);
  EXPECT_EQ(searching, "12/40 documents (searching), 1 failed, 3.4 pages/s: report.docx");
  std::string done = kx::ProgressText(Totals(40, 10, 1, 1, 30, true, "/in/report.docx"), 3.42, 80);
  EXPECT_EQ(done, "12/40 documents, 1 failed, 3.4 pages/s: report.docx");
  std::string longName(200, 'x');
  for (int width : {20, 45, 60, 80, 200}) {
    std::string t = kx::ProgressText(Totals(40, 10, 1, 1, 30, true, "/in/" + longName + ".docx"), 3.42, width);
    EXPECT_LE(int(t.size()), width - 1) << width;
    EXPECT_EQ(t.rfind("12/40", 0), 0u) << t;
  }
  std::string cut = kx::ProgressText(Totals(40, 10, 1, 1, 30, true, "/in/" + longName + ".docx"), 3.42, 80);
  EXPECT_EQ(cut.size(), 79u);
  EXPECT_NE(cut.find(": xxx"), std::string::npos) << cut;  // the name's middle gives way, its ending stays
  EXPECT_NE(cut.find("x...x"), std::string::npos) << cut;
  EXPECT_EQ(cut.substr(cut.size() - 5), ".docx");
  // A name that is not UTF-8 reaches the terminal with its bad byte escaped.
  std::string latin1 = kx::ProgressText(Totals(40, 10, 1, 1, 30, true, "/in/caf\xe9.doc"), 3.42, 80);
  EXPECT_EQ(latin1, "12/40 documents, 1 failed, 3.4 pages/s: caf\\xE9.doc");
}

TEST(ConsoleText, AtMostTwentyFailuresThenWhereTheRestAre) {
  std::vector<kx::TkxFailure> failed;
  for (int i = 0; i < 23; ++i) failed.emplace_back("/in/d" + std::to_string(i) + ".doc", "Broken");
  auto lines = kx::FailureLines(failed, "/out/run.log");
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[0], "failed: /in/d0.doc: Broken");
  EXPECT_EQ(lines[20], "and 3 more; see the log /out/run.log");
  EXPECT_EQ(kx::FailureLines(failed, "").back(), "and 3 more; set LogFile to keep them all");
  failed.resize(20);
  EXPECT_EQ(kx::FailureLines(failed, "").size(), 20u);
}

TEST(ConsoleText, ProgressRewritesOneLineAndPlainLinesClearItFirst) {
  MemoryStream m;
  kx::TkxConsoleReport r(m.F, "Lumipix Converter", true, 80);
  r.Progress(Totals(2, 0, 0, 0, 0, false, "/a/long-name.doc"), 1.0);
  r.Progress(Totals(2, 1, 0, 0, 2, true, "/a/b.doc"), 1.0);
  r.Progress(Totals(2, 1, 0, 0, 2, true, "/a/b.doc"), 1.0);  // the same text is not written again
  r.Warning("careful");
  std::string text = m.Text();
  std::string first = "0/2 documents (searching), 0 failed, 0.0 pages/s: long-name.doc";
  std::string second = "1/2 documents, 0 failed, 2.0 pages/s: b.doc";
  std::string expected = "\r" + first + "\r" + second + std::string(first.size() - second.size(), ' ') + "\r" +
                         std::string(second.size(), ' ') + "\rLumipix Converter: warning: careful\n";
  EXPECT_EQ(text, expected);
  MemoryStream quiet;
  kx::TkxConsoleReport off(quiet.F, "T", false, 80);
  off.Progress(Totals(2, 1, 0, 0, 2, true, "/a/b.doc"), 1.0);
  EXPECT_EQ(quiet.Text(), "");
}

TEST(RunChecks, SourceAndLogFileProblemsAreFoundBeforeTheRun) {
  kxtest::TempDir d;
  kxtest::MakeDir(d / "in");
  EXPECT_TRUE(kx::SourceItemProblems(kx::ReadSource(d / "in/*.doc?", "*.doc?"), false).empty());
  EXPECT_EQ(kx::SourceItemProblems(kx::ReadSource(d / "missing/*.doc?", "*.doc?"), false),
            std::vector<std::string>{"the source folder " + d / "missing/" + " does not exist"});
  EXPECT_EQ(kx::LogFileProblem(""), "");
  EXPECT_EQ(kx::LogFileProblem(d / "run.log"), "");
  EXPECT_EQ(kx::LogFileProblem(d / "no/run.log"),
            "the folder " + d / "no/" + " of LogFile does not exist: the run log cannot be written");
  EXPECT_EQ(kx::LogFileProblem(d / "in"), "LogFile " + d / "in" + " is a folder: the run log cannot be written");
}

TEST(RunnerReport, WarningsFailuresAndSummaryOfAConsoleRun) {
  ReportedRun r;
  kx::TkxConsoleRunner& runner = r.Runner;
  ProjectScope& s = r.S;
  WriteFile(s.Dir / "in/a.doc", "");
  WriteFile(s.Dir / "in/b-fail.doc", "");
  WriteFile(s.Dir / "out/c.png", "old");  // c is skipped: its page exists
  WriteFile(s.Dir / "in/c.doc", "");
  Project->SetSettingsText("Source=" + s.Dir.Path() + "in\nTarget=" + s.Dir.Path() +
                           "out/\nIsOverwrite=skip\nSourse=x\n"
                           "LogFile=" +
                           s.Dir.Path() + "run.log\n");
  runner.Run();
  std::string text = r.Text();
  EXPECT_NE(text.find("Lumipix Converter: warning: unknown option \"Sourse\" (did you mean \"Source\"?)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("failed: " + s.Dir / "in/b-fail.doc: Failed: b-fail.doc\n"), std::string::npos) << text;
  size_t summary = text.find("Lumipix Converter: 3 documents: 1 converted, 1 failed, 1 skipped; 0 pages in ");
  ASSERT_NE(summary, std::string::npos) << text;
  EXPECT_LT(text.find("failed: "), summary);
  EXPECT_LT(text.find("warning: unknown"), text.find("failed: "));
}

TEST(RunnerReport, NothingFoundIsSaidOnceAndAMissingFolderStopsBeforeAnythingIsMade) {
  for (bool missing : {false, true}) {
    ReportedRun r;
    kx::TkxConsoleRunner& runner = r.Runner;
    ProjectScope& s = r.S;
    kxtest::MakeDir(s.Dir / "in");
    std::string source = s.Dir / (missing ? "gone/*.doc" : "in/*.doc");
    Project->SetSettingsText("Source=" + source + "\nTarget=" + s.Dir.Path() + "out/\n");
    std::string why = kxtest::FailureText([&] { runner.Run(); }, "");
    std::string text = r.Text();
    EXPECT_EQ(why, missing ? "the source folder " + s.Dir / "gone/" + " does not exist" : "") << text;
    bool saysNothing = text.find("warning: no document matches " + source +
                                 "; Subdir=1 also searches its sub-folders") != std::string::npos;
    EXPECT_EQ(saysNothing, !missing) << text;
    EXPECT_EQ(kx::DirectoryExists(s.Dir / "out"), !missing);
  }
}

TEST(RunnerReport, AFolderThatCannotBeReadIsAWarningNotAnEmptySource) {
  ReportedRun r;
  ProjectScope& s = r.S;
  WriteFile(s.Dir / "in/a.doc", "");
  chmod((s.Dir / "in").c_str(), 0);
  Project->SetSettingsText("Source=" + s.Dir.Path() + "in/*.doc\nTarget=" + s.Dir.Path() + "out/\n");
  {
    kxtest::FileModesHold hold;
    r.Runner.Run();
  }
  chmod((s.Dir / "in").c_str(), 0755);
  std::string text = r.Text();
  EXPECT_NE(text.find("Lumipix Converter: warning: the folder " + s.Dir / "in/" +
                      " cannot be searched (Permission denied): its documents were left out\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("no document matches"), std::string::npos) << text;
  EXPECT_EQ(r.Runner.Batch->Errors(),
            std::vector<std::string>{"The folder " + s.Dir / "in/" + " cannot be searched: Permission denied"});
}

TEST(RunnerReport, AnUnreadableShareRefusesToStart) {
  ReportedRun r;
  kx::TkxConsoleRunner& runner = r.Runner;
  ProjectScope& s = r.S;
  WriteFile(s.Dir / "in/a.doc", "");
  Project->SetSettingsText("Source=" + s.Dir / "in/*.doc" + "\nTarget=" + s.Dir / "out/" + "\nShard=0/3\n");
  std::string why = kxtest::FailureText([&] { runner.Run(); });
  EXPECT_EQ(r.Text(), "");  // no warning that would promise every document
  EXPECT_NE(why.find("\"Shard\""), std::string::npos) << why;
  // A zero-based task number is refused with the form that counts from 0.
  EXPECT_NE(why.find("share 0 of 3"), std::string::npos) << why;
  EXPECT_NE(why.find("0/0-2"), std::string::npos) << why;
  EXPECT_EQ(kxtest::TestLog().Constructed.load(), 0);
}

TEST(RunnerShares, ThreeSharesTakeEveryDocumentOfTheTreeExactlyOnce) {
  std::vector<std::string> all, taken;
  for (int share = 1; share <= 3; ++share) {
    ReportedRun r;
    kx::TkxConsoleRunner& runner = r.Runner;
    ProjectScope& s = r.S;
    if (all.empty())
      for (int i = 0; i < 30; ++i)
        all.push_back((i % 3 == 0 ? "" : i % 3 == 1 ? "a/" : "a/b c/") + std::to_string(i) + ".doc");
    for (const std::string& rel : all) WriteFile(s.Dir / ("in/" + rel), "");
    Project->SetSettingsText("Source=" + s.Dir / "in" + "\nTarget=" + s.Dir / "out/" +
                             "\nSubdir=1\nShard=" + std::to_string(share) + "/3\n");
    runner.Run();
    int mine = 0;
    for (const std::string& file : kxtest::TestLog().Files) {
      taken.push_back(file.substr((s.Dir / "in/").size()));
      ++mine;
    }
    EXPECT_GT(mine, 0) << "share " << share;
    EXPECT_LT(mine, 30) << "share " << share;
    EXPECT_EQ(runner.Batch->Totals().Found, mine);
  }
  std::sort(all.begin(), all.end());
  std::sort(taken.begin(), taken.end());
  EXPECT_EQ(taken, all);
}

TEST(RunnerReport, AMistypedTargetKeyIsNamedAndThePagesGoBesideTheDocuments) {
  ReportedRun r;
  WriteFile(r.S.Dir / "in/a.doc", "");
  Project->SetSettingsText("Source=" + r.S.Dir / "in/*.doc" + "\nTargt=" + r.S.Dir / "out/\n");
  r.Runner.Run();
  EXPECT_EQ(r.Text().rfind(
                "Lumipix Converter: warning: unknown option \"Targt\" (did you mean \"Target\"?); it is ignored\n", 0),
            0u);
  EXPECT_EQ(r.Runner.Log[0], "Success => " + r.S.Dir / "in/a.doc" + " => " + r.S.Dir / "in/a.png");
}
