#include "console/runner.h"

#include <gtest/gtest.h>

#include "core/infoslot.h"
#include "core/project.h"
#include "engine/batch.h"
#include "engine/runreport.h"
#include "platform/files.h"
#include "testutil.h"

using kx::Project;
using kxtest::ProjectScope;
using kxtest::ReadFile;
using kxtest::WriteFile;

namespace {

struct RecordingInfo : kx::TkxInfoBase {
  std::map<std::string, int> Counts;
  std::vector<std::string> Actions;
  void Count(const std::string& key, int, int inc) override { Counts[key] += inc; }
  void OpenLink(const std::string&, const std::string& action, const std::string&) override {
    Actions.push_back(action);
  }
  void HandleError(const std::string&) override {}
};

struct RunnerScope {
  ProjectScope S;
  RecordingInfo Rec;
  kx::TkxConsoleRunner Runner;
  RunnerScope() { kx::Info = &Rec; }
  ~RunnerScope() { kx::Info = nullptr; }
  void Options(const std::string& extra) {
    Project->SetSettingsText("Source=" + S.Dir.Path() + "in/*.doc\nTarget=" + S.Dir.Path() +
                             "out/\nLogFile=" + S.Dir.Path() + "run.log\n" + extra);
  }
};

}  // namespace

TEST(RunLog, LineFormatAndErrorReportText) {
  EXPECT_EQ(kx::RunLogLine(kx::TkxNode::Success, "/a.doc", "/o/a-*.png"), "Success => /a.doc => /o/a-*.png");
  EXPECT_EQ(kx::RunLogLine(kx::TkxNode::Failure, "/a.doc", "Bad"), "Failure => /a.doc => Bad");
  EXPECT_EQ(kx::RunLogLine(kx::TkxNode::Running, "/a.doc", ""), "Running => /a.doc => ");
  EXPECT_EQ(kx::CommaText({"plain", "with blank", "a,b", "say \"hi\"", "tab\there"}),
            "plain,\"with blank\",\"a,b\",\"say \"\"hi\"\"\",\"tab\there\"");
  EXPECT_EQ(kx::CommaText({""}), "\"\"");
  EXPECT_EQ(kx::ErrorReportAction({"Why?", "x"}), "err&e=Why%3F,x");
}

TEST(Runner, OneConvertedOneFailedGiveTwoLinesAndOneReport) {
  RunnerScope r;
  r.Options("");
  WriteFile(r.S.Dir / "in/a.doc", "");
  WriteFile(r.S.Dir / "in/b-fail.doc", "");
  r.Runner.Run();
  std::string log = ReadFile(r.S.Dir / "run.log");
  ASSERT_EQ(r.Runner.Log.Count(), 2);
  EXPECT_EQ(log, r.Runner.Log[0] + "\r\n" + r.Runner.Log[1] + "\r\n");
  int ok = r.Runner.Log[0].rfind("Success => ", 0) == 0 ? 0 : 1;
  EXPECT_EQ(r.Runner.Log[ok], "Success => " + r.S.Dir / "in/a.doc" + " => " + r.S.Dir / "out/a.png");
  EXPECT_EQ(r.Runner.Log[1 - ok], "Failure => " + r.S.Dir / "in/b-fail.doc" + " => Failed: b-fail.doc");
  EXPECT_EQ(r.Rec.Actions, (std::vector<std::string>{"err&e=\"Failed: b-fail.doc\""}));
  EXPECT_EQ(r.Rec.Counts["C"], 1);
  EXPECT_EQ(r.Rec.Counts["A"], 2);
  EXPECT_EQ(r.Rec.Counts["S"], 1);
  EXPECT_EQ(r.Rec.Counts["F"], 1);
}

TEST(Runner, ADocumentWhoseConverterThrowsIsAFailureInLogAndCounters) {
  RunnerScope r;
  r.Options("");
  WriteFile(r.S.Dir / "in/throw.doc", "");
  r.Runner.Run();
  ASSERT_EQ(r.Runner.Log.Count(), 1);
  EXPECT_EQ(r.Runner.Log[0], "Failure => " + r.S.Dir / "in/throw.doc" + " => thrown for throw.doc");
  EXPECT_EQ(r.Rec.Counts["F"], 1);
  EXPECT_EQ(r.Rec.Actions, (std::vector<std::string>{"err&e=\"thrown for throw.doc\""}));
}

TEST(Runner, SameMessageThreeTimesCountsThreeReportsOnceEncoded) {
  RunnerScope r;
  r.Options("ThreadsCount=2");
  kxtest::FailMessage = "Cannot open? a,b";
  for (const char* n : {"1-fail.doc", "2-fail.doc", "3-fail.doc"}) WriteFile(r.S.Dir / ("in/" + std::string(n)), "");
  r.Runner.Run();
  EXPECT_EQ(r.Rec.Counts["F"], 3);
  EXPECT_EQ(r.Rec.Actions, (std::vector<std::string>{"err&e=\"Cannot open%3F a,b\""}));
}

TEST(Runner, NothingFoundWritesAnEmptyLogAndNoReport) {
  RunnerScope r;
  r.Options("");
  kxtest::MakeDir(r.S.Dir / "in");
  r.Runner.Run();
  EXPECT_TRUE(kx::FileExists(r.S.Dir / "run.log"));
  EXPECT_EQ(ReadFile(r.S.Dir / "run.log"), "");
  EXPECT_TRUE(r.Rec.Actions.empty());
  EXPECT_TRUE(kx::DirectoryExists(r.S.Dir / "out"));  // the target folder was created
}

TEST(Runner, LogIsReplacedNotAppendedAndAbsentLogFileWritesNothing) {
  RunnerScope r;
  WriteFile(r.S.Dir / "run.log", "old line\r\nanother\r\n");
  WriteFile(r.S.Dir / "in/a.doc", "");
  r.Options("");
  r.Runner.Run();
  EXPECT_EQ(ReadFile(r.S.Dir / "run.log"), "Success => " + r.S.Dir / "in/a.doc" + " => " + r.S.Dir / "out/a.png\r\n");
  Project->SetOption("LogFile", "");
  std::remove((r.S.Dir / "run.log").c_str());
  r.Runner.Run();
  EXPECT_FALSE(kx::FileExists(r.S.Dir / "run.log"));
}

TEST(Runner, FourThreadsTwoDocumentsEndsWhenAllFourEnded) {
  RunnerScope r;
  r.Options("ThreadsCount=4");
  WriteFile(r.S.Dir / "in/a.doc", "");
  WriteFile(r.S.Dir / "in/b.doc", "");
  r.Runner.Run();
  EXPECT_EQ(kxtest::TestLog().Constructed.load(), 4);
  EXPECT_EQ(kxtest::TestLog().Destroyed.load(), 4);
  EXPECT_EQ(r.Runner.Log.Count(), 2);
  EXPECT_EQ(r.Runner.Chain->Alive(), 0);
}

TEST(Runner, ATargetThatNamesNoFolderIsRefusedBeforeAnythingStarts) {
  RunnerScope r;
  WriteFile(r.S.Dir / "in/a.doc", "");
  Project->SetSettingsText("Source=" + r.S.Dir / "in/*.doc" + "\nTarget=file:\nLogFile=" + r.S.Dir / "run.log");
  try {
    r.Runner.Run();
    FAIL() << "a Target that names no folder must be refused";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("\"Target\""), std::string::npos);
  }
  EXPECT_EQ(kxtest::TestLog().Constructed.load(), 0);
  EXPECT_FALSE(kx::FileExists(r.S.Dir / "run.log"));
  EXPECT_EQ(r.Rec.Counts["C"], 0);
}

TEST(Runner, AnUnwritableLogStopsTheRunBeforeTheFirstDocument) {
  RunnerScope r;
  r.Options("");
  Project->SetOption("LogFile", r.S.Dir / "no/folder/run.log");
  WriteFile(r.S.Dir / "in/x-fail.doc", "");
  EXPECT_THROW(r.Runner.Run(), std::runtime_error);
  EXPECT_EQ(kxtest::TestLog().Constructed.load(), 0);
  EXPECT_EQ(r.Rec.Counts["C"], 0);
  EXPECT_TRUE(r.Rec.Actions.empty());
}
