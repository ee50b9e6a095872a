#include "engine/convertor.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "core/project.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "testutil.h"

using kx::Project;
using kx::RunningConvertors;
using kx::TkxBatch;
using kx::TkxConvertor;
using kx::TkxNode;
using kxtest::ProjectScope;
using kxtest::TestLog;
using kxtest::WriteFile;

namespace {

// Starts a chain on the batch and waits until every converter has ended.
int RunChain(TkxBatch& b, const std::string& target, const kx::TkxNodeEvent& done = {},
             std::vector<int>* threadsLeft = nullptr) {
  TkxConvertor* head = TkxConvertor::CreateChain(&b, target, done);
  int n = 0;
  for (TkxConvertor* c = head; c; c = c->Next) {
    ++n;
    if (threadsLeft) threadsLeft->push_back(c->ThreadsLeft);
  }
  RunningConvertors = n;
  head->ResumeAll();
  int64_t until = kx::GetTickCount() + 30000;
  while (RunningConvertors.load() > 0 && kx::GetTickCount() < until) kx::Sleep(1);
  EXPECT_EQ(RunningConvertors.load(), 0);
  return n;
}

void AddFiles(TkxBatch& b, const std::vector<std::string>& files) {
  for (const auto& f : files) b.AddFile(f);
}

}  // namespace

TEST(Chain, ThreadsCountGivesTheChainLength) {
  ProjectScope s;
  for (auto [count, expected] : std::vector<std::pair<std::string, std::vector<int>>>{
           {"0", {0}}, {"1", {1}}, {"3", {3, 2, 1}}, {"-3", {-3}}, {"", {1}}}) {
    Project->SetOption("ThreadsCount", count);
    TkxBatch b;
    b.AddFile(s.Dir / "none.doc");
    std::vector<int> left;
    RunChain(b, s.Dir / "out", {}, &left);
    EXPECT_EQ(left, expected) << "ThreadsCount=" << count;
  }
}

TEST(Chain, EveryItemOnceInIndexOrderAcrossThreads) {
  ProjectScope s;
  Project->SetOption("ThreadsCount", "4");
  TkxBatch b;
  std::vector<std::string> files;
  for (int i = 0; i < 60; ++i) files.push_back(s.Dir / ("in/f" + std::to_string(i) + ".doc"));
  for (auto& f : files) WriteFile(f, "x");
  std::mutex lock;
  std::vector<int> done;
  b.Start(s.Dir / "in/*.doc", s.Dir / "out/", false);
  RunChain(b, s.Dir / "out/", [&](TkxBatch*, TkxNode* n) {
    std::lock_guard<std::mutex> g(lock);
    done.push_back(n->Index);
  });
  std::lock_guard<std::mutex> g(TestLog().Lock);
  ASSERT_EQ(TestLog().Indexes.size(), 60u);
  std::set<int> unique(TestLog().Indexes.begin(), TestLog().Indexes.end());
  EXPECT_EQ(unique.size(), 60u);
  EXPECT_EQ(done.size(), 60u);
  EXPECT_EQ(b.SuccessCount(), 60);
  EXPECT_TRUE(b.Drained());
}

TEST(Chain, AnErrorEscapingConvertFileFailsOnlyItsItem) {
  ProjectScope s;
  TkxBatch b;
  AddFiles(b, {s.Dir / "in/throw.doc", s.Dir / "in/b.doc", s.Dir / "in/c.doc"});
  std::vector<int> notified;
  RunChain(b, s.Dir / "out/", [&](TkxBatch*, TkxNode* n) { notified.push_back(n->Index); });
  auto& items = b.LockItems();
  EXPECT_EQ(items[0]->ResultText, "thrown for throw.doc");
  EXPECT_EQ(items[0]->Status, kx::TkxNode::Failure);  // failed with its message, never left as not finished
  EXPECT_EQ(items[1]->Status, kx::TkxNode::Success);
  EXPECT_EQ(items[2]->Status, kx::TkxNode::Success);
  b.UnlockItems();
  EXPECT_EQ(notified, (std::vector<int>{0, 1, 2}));  // the front end hears of the failed one too
  EXPECT_EQ(b.FailCount(), 1);
  EXPECT_EQ(b.Errors(), std::vector<std::string>{"thrown for throw.doc"});
  EXPECT_EQ(b.Totals().Failed, 1);
}

TEST(Chain, TerminateAllStopsAfterTheItemsInHand) {
  ProjectScope s;
  Project->SetOption("ThreadsCount", "2");
  TestLog().DelayMs = 30;
  TkxBatch b;
  for (int i = 0; i < 40; ++i) b.AddFile(s.Dir / ("in/f" + std::to_string(i) + ".doc"));
  TkxConvertor* head = TkxConvertor::CreateChain(&b, s.Dir / "out/", {});
  auto chain = head->Chain();
  RunningConvertors = 2;
  head->ResumeAll();
  kx::Sleep(50);
  chain->TerminateAll();
  while (RunningConvertors.load() > 0) kx::Sleep(1);
  EXPECT_EQ(chain->Alive(), 0);
  int processed = int(TestLog().Files.size());
  EXPECT_GT(processed, 0);
  EXPECT_LT(processed, 40);
  EXPECT_EQ(b.NextIndex(), processed);  // nothing taken and dropped
  chain->TerminateAll();                // on an ended chain: touches nobody
  EXPECT_EQ(TestLog().Destroyed.load(), 2);
}

TEST(Chain, TerminateWhileWaitingForTheSearchStillProcessesTheNextItem) {
  ProjectScope s;
  TkxBatch b;  // never started: its search is "running" until AddFile completes it
  TkxConvertor* head = TkxConvertor::CreateChain(&b, s.Dir / "out/", {});
  auto chain = head->Chain();
  RunningConvertors = 1;
  head->ResumeAll();
  kx::Sleep(20);
  chain->TerminateAll();
  b.AddFile(s.Dir / "late.doc");
  while (RunningConvertors.load() > 0) kx::Sleep(1);
  ASSERT_EQ(TestLog().Files.size(), 1u);
  EXPECT_EQ(TestLog().Files[0], s.Dir / "late.doc");
}

TEST(Chain, OnThreadEndRunsThroughTheUiDispatcherOncePerConverter) {
  ProjectScope s;
  Project->SetOption("ThreadsCount", "3");
  std::atomic<int> dispatched{0}, ended{0};
  std::atomic<int> runningSeen{-1};
  kx::TThread::SetUiDispatcher([&](const std::function<void()>& fn) {
    ++dispatched;
    fn();
  });
  TkxBatch b;
  b.AddFile(s.Dir / "a.doc");
  TkxConvertor* head = TkxConvertor::CreateChain(&b, s.Dir / "out/", {});
  head->SetOnFinishAll([&] {
    runningSeen = RunningConvertors.load();
    ++ended;
  });
  RunningConvertors = 3;
  head->ResumeAll();
  while (RunningConvertors.load() > 0) kx::Sleep(1);
  kx::TThread::SetUiDispatcher(nullptr);
  EXPECT_EQ(dispatched.load(), 3);
  EXPECT_EQ(ended.load(), 3);
  EXPECT_GE(runningSeen.load(), 1);  // the end notification comes before the count drops
}

TEST(Chain, ConsoleChainNeedsNoUiThread) {
  ProjectScope s;
  TkxBatch b;
  b.AddFile(s.Dir / "a.doc");
  RunChain(b, s.Dir / "out/");  // no dispatcher installed, no OnThreadEnd: must end cleanly
  EXPECT_EQ(b.SuccessCount(), 1);
}

TEST(Chain, NoConverterClassFailsClearly) {
  ProjectScope s;
  Project->ConvertorClass = nullptr;
  TkxBatch b;
  EXPECT_THROW(TkxConvertor::CreateChain(&b, s.Dir.Path(), {}), std::runtime_error);
}

class TargetTest : public ::testing::Test {
 protected:
  ProjectScope S;
  TkxBatch B;
  std::unique_ptr<TkxConvertor> C;
  void SetUp() override {
    B.SourceDir = S.Dir / "Docs/";
    B.TargetDir = S.Dir / "Out/";
    C = std::make_unique<TkxConvertor>(&B, kx::TkxNodeEvent{}, 1);
  }
  std::string Target(const std::string& file) {
    TkxNode n(0, file);
    return C->MakeTarget(&B, &n);
  }
};

TEST_F(TargetTest, SubfoldersKeptOrFlattenedAndFoldersCreated) {
  EXPECT_EQ(Target(S.Dir / "Docs/sub/a.doc"), S.Dir / "Out/sub/a.png");
  EXPECT_TRUE(kx::DirectoryExists(S.Dir / "Out/sub"));
  Project->SetOption("KeepTargetSubdirs", "False");
  EXPECT_EQ(Target(S.Dir / "Docs/sub/a.doc"), S.Dir / "Out/a.png");
}

TEST_F(TargetTest, HandAddedAddressAndNamesWithoutExtensionOrWithColons) {
  B.SourceDir = "";
  EXPECT_EQ(Target("http://host/x/a.doc"), S.Dir / "Out/a.png");
  EXPECT_EQ(Target(S.Dir / "Docs/README"), S.Dir / "Out/README.png");
  B.SourceDir = S.Dir / "Docs/";
  EXPECT_EQ(Target(S.Dir / "Docs/a:b/c:d.doc"), S.Dir / "Out/a_b/c_d.png");
}

TEST_F(TargetTest, ExistingTargetByOverwriteMode) {
  WriteFile(S.Dir / "Out/a.png", "old");
  EXPECT_EQ(Target(S.Dir / "Docs/a.doc"), S.Dir / "Out/a.png");
  Project->SetOption("IsOverwrite", "0");
  EXPECT_EQ(Target(S.Dir / "Docs/a.doc"), S.Dir / "Out/-lumipix-a.png");
  Project->SetOption("IsOverwrite", "Skip");
  TkxNode n(0, S.Dir / "Docs/a.doc");
  EXPECT_EQ(C->MakeTarget(&B, &n), "");
  EXPECT_EQ(n.Status, kx::TkxNode::Success);
  EXPECT_EQ(n.ResultText, "");
  EXPECT_EQ(B.SuccessCount() + B.FailCount(), 0);
}

TEST_F(TargetTest, FolderThatCannotBeCreatedIsRecordedOncePerMessage) {
  WriteFile(S.Dir / "Out/blocker", "a file where a folder should be");
  B.TargetDir = S.Dir / "Out/blocker/";
  EXPECT_EQ(Target(S.Dir / "Docs/a.doc"), S.Dir / "Out/blocker/a.png");
  Target(S.Dir / "Docs/b.doc");
  EXPECT_EQ(B.FailCount(), 2);
  // With the system's reason, the same for every document of the folder.
  EXPECT_EQ(B.Errors(), (std::vector<std::string>{"CreateDir Failed: " + S.Dir / "Out/blocker/: Not a directory"}));
}

TEST_F(TargetTest, FinishSourceTimesDeleteAndRename) {
  std::string doc = S.Dir / "Docs/a.doc";
  WriteFile(doc, "doc");
  kx::TkxFileTimes t;
  ASSERT_TRUE(kx::GetFileTimes(doc, t));
  t.Write.tv_sec = t.Access.tv_sec = 1000000000;
  kx::SetFileTimes(doc, t);
  TkxNode n(0, doc);
  std::string target = C->MakeTarget(&B, &n);
  WriteFile(target, "img");
  Project->SetOption("KeepFileTime", "1");
  Project->SetOption("RenameSource", ".done");
  EXPECT_EQ(C->FinishSource(&B, &n, target), "");
  struct stat st {};
  stat(target.c_str(), &st);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
  EXPECT_FALSE(kx::FileExists(doc));
  EXPECT_TRUE(kx::FileExists(doc + ".done"));

  WriteFile(doc, "doc");
  Project->SetOption("DeleteSource", "1");
  C->MakeTarget(&B, &n);
  EXPECT_EQ(C->FinishSource(&B, &n, S.Dir / "Out/missing-pattern-%.*d.png"), "");  // no such file: times ignored
  EXPECT_FALSE(kx::FileExists(doc));
  EXPECT_TRUE(kx::FileExists(doc + ".done"));  // the earlier one, not a new rename
}

TEST_F(TargetTest, RenameSourceNeverReplacesAFileAndSaysWhy) {
  std::string doc = S.Dir / "Docs/a.doc";
  WriteFile(doc, "document");
  WriteFile(doc + ".bak", "the user's own backup");
  Project->SetOption("RenameSource", ".bak");
  TkxNode n(0, doc);
  std::string target = C->MakeTarget(&B, &n);
  EXPECT_EQ(C->FinishSource(&B, &n, target), "the document was not renamed: \"" + doc + ".bak\" already exists");
  EXPECT_EQ(kxtest::ReadFile(doc), "document");
  EXPECT_EQ(kxtest::ReadFile(doc + ".bak"), "the user's own backup");
}

TEST_F(TargetTest, DeleteSourceRemovesOnlyTheDocumentThatWasConverted) {
  std::string doc = S.Dir / "Docs/a.doc";
  Project->SetOption("DeleteSource", "1");
  TkxNode n(0, doc);
  WriteFile(doc, "version one");
  std::string target = C->MakeTarget(&B, &n);
  WriteFile(doc, "version two, saved while the first was converted");
  EXPECT_EQ(C->FinishSource(&B, &n, target), "the document was left as it is: it changed while it was converted");
  EXPECT_TRUE(kx::FileExists(doc));

  C->MakeTarget(&B, &n);
  WriteFile(S.Dir / "Docs/other.doc", "another file");
  std::rename((S.Dir / "Docs/other.doc").c_str(), doc.c_str());  // replaced by another file of the same size
  EXPECT_EQ(C->FinishSource(&B, &n, target), "the document was left as it is: it changed while it was converted");
  EXPECT_EQ(kxtest::ReadFile(doc), "another file");

  C->MakeTarget(&B, &n);
  EXPECT_EQ(C->FinishSource(&B, &n, target), "");
  EXPECT_FALSE(kx::FileExists(doc));

  TkxNode web(1, "http://host/x/a.doc");
  C->MakeTarget(&B, &web);
  EXPECT_EQ(C->FinishSource(&B, &web, target), "the document was left as it is: it is not there any more");
}

TEST_F(TargetTest, NamesakesOfOneRunHoldNamesOfTheirOwn) {
  Project->SetOption("KeepTargetSubdirs", "0");
  std::vector<std::string> files = {"Docs/report.doc",    "Docs/report.docx", "Docs/report-docx.doc",
                                    "Docs/x/report.docx", "Docs/README",      "Docs/x/README"};
  std::vector<std::string> want = {"Out/report.png",        "Out/report-docx.png", "Out/report-docx-doc.png",
                                   "Out/report-docx-2.png", "Out/README.png",      "Out/README-2.png"};
  for (size_t i = 0; i < files.size(); ++i) {
    TkxNode n(int(i), S.Dir / files[i]);
    EXPECT_EQ(C->MakeTarget(&B, &n), S.Dir / want[i]) << files[i];
    EXPECT_EQ(C->MakeTarget(&B, &n), S.Dir / want[i]) << "asked again: " << files[i];
  }
  // Documents whose pages could be named alike share one share key, so one share
  // takes them all; with sub-folders kept, the folder tells them apart.
  EXPECT_EQ(B.ShareKey(S.Dir / "Docs/report.doc"), B.ShareKey(S.Dir / "Docs/x/report.docx"));
  EXPECT_EQ(B.ShareKey(S.Dir / "Docs/a:b.doc"), B.ShareKey(S.Dir / "Docs/a_b.docx"));
  Project->SetOption("KeepTargetSubdirs", "1");
  EXPECT_EQ(B.ShareKey(S.Dir / "Docs/x/report.doc"), B.ShareKey(S.Dir / "Docs/x/report.docx"));
  EXPECT_NE(B.ShareKey(S.Dir / "Docs/report.doc"), B.ShareKey(S.Dir / "Docs/x/report.docx"));
}

TEST_F(TargetTest, RenamedNamesAreTestedAndHeldToo) {
  Project->SetOption("IsOverwrite", "0");
  WriteFile(S.Dir / "Out/a.png", "old");
  WriteFile(S.Dir / "Out/-lumipix-a.png", "renamed in an earlier run");
  TkxNode first(0, S.Dir / "Docs/a.doc");
  EXPECT_EQ(C->MakeTarget(&B, &first), S.Dir / "Out/-lumipix-a-2.png");
  WriteFile(S.Dir / "Out/-lumipix-a-3.png", "x");
  WriteFile(S.Dir / "Out/b.png", "old");
  TkxNode second(1, S.Dir / "Docs/b.doc");
  EXPECT_EQ(C->MakeTarget(&B, &second), S.Dir / "Out/-lumipix-b.png");
  // A document named like another's renamed name does not take it.
  TkxNode third(2, S.Dir / "Docs/-lumipix-b.doc");
  EXPECT_EQ(C->MakeTarget(&B, &third), S.Dir / "Out/-lumipix-b-doc.png");
}

TEST_F(TargetTest, FileAddressTargetIsAPathBeforeAnythingIsMade) {
  std::string cwd = kx::CurrentDir();
  ASSERT_EQ(chdir(S.Dir.Path().c_str()), 0);
  Project->SetOption("Target", "file://" + S.Dir / "made/out");
  std::string folder = Project->TargetFolder();
  Project->SetOption("Target", "file:");
  std::string none = Project->TargetFolder();
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  EXPECT_EQ(folder, S.Dir / "made/out/");
  EXPECT_TRUE(kx::DirectoryExists(S.Dir / "made/out"));
  EXPECT_FALSE(kx::DirectoryExists(S.Dir / "file:"));
  EXPECT_EQ(none, "");  // names no folder: never the root folder
}

namespace {

// A whole run over `source` with two converter threads; the result text of each
// document by its path, and the item order.
struct RunResult {
  std::map<std::string, std::string> Target;
  std::vector<std::string> Order;
};

RunResult RunTwoThreads(const ProjectScope& s, const std::map<int, int>& delays = {}) {
  RunResult r;
  Project->SetOption("ThreadsCount", "2");
  TestLog().Reset();
  TestLog().DelayForIndex = delays;
  TkxBatch b;
  b.Start(s.Dir / "in/*.doc?", s.Dir / "out/", true);
  RunChain(b, s.Dir / "out/");
  auto& items = b.LockItems();
  for (auto& n : items) {
    r.Target[n->FileName] = n->ResultText;
    r.Order.push_back(n->FileName);
  }
  b.UnlockItems();
  return r;
}

}  // namespace

// The later of two namesakes is always the quicker thread here: it must wait for
// the earlier item, and neither writes the other's target.
TEST(ChainTargets, NamesakesWithTwoThreadsAreDistinctAndDeterministic) {
  ProjectScope s;
  Project->SetOption("KeepTargetSubdirs", "0");
  for (const char* f : {"in/report.doc", "in/report.docx", "in/x/a.doc", "in/y/a.doc", "in/z/a.doc"})
    WriteFile(s.Dir / f, f);
  RunResult first;
  for (int round = 0; round < 4; ++round) {
    std::filesystem::remove_all(s.Dir / "out");
    kxtest::Run = round;
    RunResult r = RunTwoThreads(s, {{round % 2, 60}, {2 + round % 3, 40}});
    ASSERT_EQ(r.Target.size(), 5u);
    std::set<std::string> distinct;
    for (auto& [file, target] : r.Target) {
      distinct.insert(target);
      EXPECT_EQ(kxtest::ReadFile(target), file + " #" + std::to_string(round)) << target;
    }
    EXPECT_EQ(distinct.size(), 5u);
    if (round == 0)
      first = r;
    else
      EXPECT_EQ(r.Target, first.Target) << "round " << round;
  }
  // Names follow the namesakes' own paths only: nearest the source folder first, then
  // by path, whatever the listing order and the thread that is quicker.
  EXPECT_EQ(first.Target[s.Dir / "in/x/a.doc"], s.Dir / "out/a.png");
  EXPECT_EQ(first.Target[s.Dir / "in/y/a.doc"], s.Dir / "out/a-doc.png");
  EXPECT_EQ(first.Target[s.Dir / "in/z/a.doc"], s.Dir / "out/a-doc-2.png");
  EXPECT_EQ(first.Target[s.Dir / "in/report.doc"], s.Dir / "out/report.png");
  EXPECT_EQ(first.Target[s.Dir / "in/report.docx"], s.Dir / "out/report-docx.png");
  // The same documents listed the other way round name alike.
  std::filesystem::remove_all(s.Dir / "out");
  TkxBatch b;
  b.SourceDir = s.Dir / "in/";
  for (auto it = first.Order.rbegin(); it != first.Order.rend(); ++it) b.AddFile(*it);
  RunChain(b, s.Dir / "out/");
  for (auto& n : b.LockItems()) EXPECT_EQ(n->ResultText, first.Target[n->FileName]) << n->FileName;
  b.UnlockItems();
}

TEST(ChainTargets, SkipAndRenameModesWithTwoThreads) {
  ProjectScope s;
  for (const char* f : {"in/report.doc", "in/report.docx"}) WriteFile(s.Dir / f, f);
  kxtest::Run = 1;
  RunResult one = RunTwoThreads(s, {{0, 50}});
  Project->SetOption("IsOverwrite", "skip");
  kxtest::Run = 2;
  RunResult skipped = RunTwoThreads(s, {{0, 50}});
  for (auto& [file, target] : one.Target) {
    EXPECT_EQ(kxtest::ReadFile(target), file + " #1");
    EXPECT_EQ(skipped.Target[file], "");
  }
  Project->SetOption("IsOverwrite", "0");
  std::set<std::string> names;
  for (int run = 3; run <= 5; ++run) {
    kxtest::Run = run;
    RunResult r = RunTwoThreads(s, {{0, 50}});
    for (auto& [file, target] : r.Target) {
      EXPECT_TRUE(names.insert(target).second) << "given twice: " << target;
      EXPECT_EQ(kxtest::ReadFile(target), file + " #" + std::to_string(run));
      EXPECT_EQ(kx::ExtractFileName(target).rfind("-lumipix-", 0), 0u) << target;
    }
  }
  for (auto& [file, target] : one.Target) EXPECT_EQ(kxtest::ReadFile(target), file + " #1");  // never replaced
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(s.Dir / "out"), {}), 8);
}

TEST(FileUtils, WriteReadAndDates) {
  kxtest::TempDir d;
  std::string p = d / "a/b/c.bin";
  kx::TkxFileUtils::WriteStringToFile(p, std::string("long content\0x", 14));
  kx::TkxFileUtils::WriteStringToFile(p, "short");
  EXPECT_EQ(kx::TkxFileUtils::ReadStringFromFile(p), "short");
  kx::TkxFileUtils::WriteStringToFile(p, "");
  EXPECT_EQ(kx::TkxFileUtils::ReadStringFromFile(p), "");
  EXPECT_THROW(kx::TkxFileUtils::ReadStringFromFile(d / "none"), std::runtime_error);
  EXPECT_THROW(kx::TkxFileUtils::WriteStringToFile(d / "a/b/c.bin/x", "1"), std::runtime_error);
  EXPECT_EQ(kx::TkxFileUtils::FileDate(d / "none", true), -1);
  int32_t now = kx::TkxFileUtils::FileDate(d.Path(), true);
  EXPECT_GT(now, 0);
  EXPECT_EQ(uint32_t(now) >> 25, uint32_t(kx::UnixToDosDateTime(time(nullptr), true)) >> 25);  // same year
}
