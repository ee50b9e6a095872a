#include "engine/batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "core/project.h"
#include "engine/match.h"
#include "platform/files.h"
#include "testutil.h"

using kx::Project;
using kx::TkxBatch;
using kxtest::ProjectScope;
using kxtest::WriteFile;

namespace {

// Runs a whole search and returns the found paths relative to `root`, in item order.
std::vector<std::string> Found(const std::string& root, const std::string& source, bool subdirs) {
  TkxBatch b;
  b.Start(source, root + "out/", subdirs);
  b.WaitFor();
  std::vector<std::string> r;
  auto& items = b.LockItems();
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i]->Index, int(i));
    r.push_back(items[i]->FileName.substr(root.size()));
  }
  b.UnlockItems();
  EXPECT_TRUE(b.SearchDone());
  return r;
}

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

}  // namespace

TEST(NormalizePath, FileAddressesBecomePaths) {
  EXPECT_EQ(TkxBatch::NormalizePath("file:///home/ann/*.doc?"), "/home/ann/*.doc?");
  EXPECT_EQ(TkxBatch::NormalizePath("file://server/share/a.doc"), "/server/share/a.doc");
  EXPECT_EQ(TkxBatch::NormalizePath("file:"), "");
  EXPECT_EQ(TkxBatch::NormalizePath("/plain/a.doc"), "/plain/a.doc");
  EXPECT_EQ(TkxBatch::NormalizePath("FILE:///x"), "FILE:///x");  // exactly lower-case "file:"
}

TEST(Search, MaskAndOwnerFilesAndFolderOrder) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  WriteFile(r + "in/a.doc", "");
  WriteFile(r + "in/b.DOCX", "");
  WriteFile(r + "in/c.docm", "");
  WriteFile(r + "in/d.txt", "");
  WriteFile(r + "in/~$a.docx", "");
  WriteFile(r + "in/x~$a.docx", "");
  WriteFile(r + "in/sub/e.doc", "");
  WriteFile(r + "in/sub/deeper/f.doc", "");
  std::vector<std::string> flat = Found(r, r + "in/*.doc?", false);
  EXPECT_EQ(flat.size(), 4u);
  EXPECT_TRUE(Has(flat, "in/a.doc") && Has(flat, "in/b.DOCX") && Has(flat, "in/c.docm") && Has(flat, "in/x~$a.docx"));
  EXPECT_FALSE(Has(flat, "in/~$a.docx"));
  std::vector<std::string> deep = Found(r, r + "in/*.doc?", true);
  ASSERT_EQ(deep.size(), 6u);
  // Files of a folder come before its sub-folders.
  EXPECT_TRUE(Has(std::vector<std::string>(deep.begin(), deep.begin() + 4), "in/a.doc"));
  EXPECT_EQ(deep[4], "in/sub/e.doc");
  EXPECT_EQ(deep[5], "in/sub/deeper/f.doc");
}

TEST(Search, HiddenFilesAndHiddenFolders) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  WriteFile(r + "in/a.doc", "");
  WriteFile(r + "in/.h.doc", "");
  WriteFile(r + "in/.hidden/b.doc", "");
  std::vector<std::string> all = Found(r, r + "in/*.doc", true);
  EXPECT_EQ(all.size(), 2u);
  EXPECT_TRUE(Has(all, "in/.h.doc"));
  EXPECT_FALSE(Has(all, "in/.hidden/b.doc"));  // hidden folders are never searched
  Project->SetOption("SkipHidden", "1");
  std::vector<std::string> visible = Found(r, r + "in/*.doc", true);
  EXPECT_EQ(visible, (std::vector<std::string>{"in/a.doc"}));
}

TEST(Search, SingleFileSourceWithSubfoldersAndTrailingSlash) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  WriteFile(r + "in/a.doc", "");
  WriteFile(r + "in/b.doc", "");
  WriteFile(r + "in/sub/a.doc", "");
  EXPECT_EQ(Found(r, r + "in/a.doc", true), (std::vector<std::string>{"in/a.doc", "in/sub/a.doc"}));
  // A folder named alone, with or without its '/', is searched with the edition's mask.
  EXPECT_EQ(Found(r, r + "in/", true), (std::vector<std::string>{"in/a.doc", "in/b.doc", "in/sub/a.doc"}));
  EXPECT_TRUE(Found(r, r + "missing/*.doc", true).empty());
}

TEST(Search, RegExtIsMatchedAgainstTheWholePath) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  WriteFile(r + "in/2019/a.doc", "");
  WriteFile(r + "in/a2019.doc", "");
  WriteFile(r + "in/a.doc", "");
  Project->SetOption("RegExt", "2019");
  std::vector<std::string> f = Found(r, r + "in/*.doc", true);
  EXPECT_EQ(f.size(), 2u);
  EXPECT_FALSE(Has(f, "in/a.doc"));
  Project->SetOption("RegExt", "([");
  EXPECT_EQ(Found(r, r + "in/*.doc", true).size(), 3u);  // an invalid expression accepts all
}

TEST(Search, DotMaskNeedsADotSomewhereInThePath) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  WriteFile(r + "plain/README", "");
  WriteFile(r + "with.dot/README", "");
  EXPECT_TRUE(Found(r, r + "plain/*.*", false).empty());
  EXPECT_EQ(Found(r, r + "with.dot/*.*", false), (std::vector<std::string>{"with.dot/README"}));
}

TEST(Search, FifosAreSkippedAndLinkCyclesEnd) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  WriteFile(r + "in/a.doc", "");
  ASSERT_EQ(mkfifo((r + "in/pipe.doc").c_str(), 0644), 0);
  ASSERT_EQ(symlink((r + "in").c_str(), (r + "in/loop").c_str()), 0);
  ASSERT_EQ(symlink((r + "in/a.doc").c_str(), (r + "in/alias.doc").c_str()), 0);
  std::vector<std::string> f = Found(r, r + "in/*.doc", true);
  EXPECT_EQ(f.size(), 2u);
  EXPECT_TRUE(Has(f, "in/a.doc") && Has(f, "in/alias.doc"));
}

TEST(Search, AFolderThatCannotBeReadIsReportedNotPassedOver) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  WriteFile(r + "in/a.doc", "");
  WriteFile(r + "in/locked/b.doc", "");
  WriteFile(r + "in/open/c.doc", "");
  chmod((r + "in/locked").c_str(), 0);
  std::vector<std::string> found;
  std::vector<kx::TkxSearchProblem> problems;
  std::vector<std::string> errors;
  int fails;
  {
    kxtest::FileModesHold hold;
    TkxBatch b;
    b.Start(r + "in/*.doc", r + "out/", true);
    b.WaitFor();
    for (const auto& item : b.LockItems()) found.push_back(item->FileName.substr(r.size()));
    b.UnlockItems();
    problems = b.SearchProblems();
    errors = b.Errors();
    fails = b.FailCount();
  }
  chmod((r + "in/locked").c_str(), 0755);
  EXPECT_EQ(found, (std::vector<std::string>{"in/a.doc", "in/open/c.doc"}));  // the rest is still searched
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Folder, r + "in/locked/");
  EXPECT_EQ(problems[0].Error, EACCES);
  EXPECT_EQ(errors, std::vector<std::string>{"The folder " + r + "in/locked/ cannot be searched: Permission denied"});
  EXPECT_EQ(fails, 1);
  // A source folder that is not there is no search problem: nothing was hidden.
  TkxBatch gone;
  gone.Start(r + "missing/*.doc", r + "out/", true);
  gone.WaitFor();
  EXPECT_TRUE(gone.SearchProblems().empty());
  EXPECT_EQ(gone.FailCount(), 0);
}

// One reading of Source for both front ends: exact names, folders, lists and
// addresses, each folder in name order; without a target each item's pages stay beside it.
TEST(Search, SourcesAsTheyAreNamedEachFolderInNameOrder) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  for (const char* name :
       {"qX.doc", "q?.doc", "c.docx", "b.doc", "A.doc", "back\\slash.doc", "star*.doc", "starZZ.doc"})
    WriteFile(r + "in/" + name, "");
  WriteFile(r + "z/sub/z2.doc", "");
  WriteFile(r + "z/z1.doc", "");
  EXPECT_EQ(Found(r, r + "in", false),
            (std::vector<std::string>{"in/A.doc", "in/b.doc", "in/back\\slash.doc", "in/c.docx", "in/q?.doc",
                                      "in/qX.doc", "in/star*.doc", "in/starZZ.doc"}));
  // A name that is a file is that file, whatever it holds; a mask only where none is.
  EXPECT_EQ(Found(r, r + "in/q?.doc", false), std::vector<std::string>{"in/q?.doc"});
  EXPECT_EQ(Found(r, r + "in/star*.doc", false), std::vector<std::string>{"in/star*.doc"});
  EXPECT_EQ(Found(r, r + "in/back\\slash.doc", false), std::vector<std::string>{"in/back\\slash.doc"});
  EXPECT_EQ(Found(r, r + "in/s*.doc", false), (std::vector<std::string>{"in/star*.doc", "in/starZZ.doc"}));
  EXPECT_EQ(Found(r, "file://" + r + "in/back%5Cslash.doc", false), std::vector<std::string>{"in/back\\slash.doc"});

  TkxBatch b;
  b.Start("\"" + r + "in/b.doc\" \"" + r + "z\" \"http://host/w.doc\"", "", true);
  b.WaitFor();
  std::vector<std::string> found, targets;
  for (const auto& n : b.LockItems()) {
    found.push_back(n->FileName);
    targets.push_back(b.TargetDirOf(*n));
  }
  b.UnlockItems();
  EXPECT_EQ(found, (std::vector<std::string>{r + "in/b.doc", r + "z/z1.doc", r + "z/sub/z2.doc", "http://host/w.doc"}));
  EXPECT_EQ(targets, (std::vector<std::string>{r + "in/", r + "z/", r + "z/", ""}));
}

TEST(Batch, StartCreatesTheTargetFolder) {
  ProjectScope s;
  TkxBatch b;
  b.Start(s.Dir / "*.doc", s.Dir / "new/out/", false);
  b.WaitFor();
  EXPECT_TRUE(kx::DirectoryExists(s.Dir / "new/out"));
  EXPECT_EQ(b.Mask, "*.doc");
  EXPECT_EQ(b.SourceDir, s.Dir.Path());
}

TEST(Batch, AddFileAcceptsAnythingOnANewBatchAndCompletesIt) {
  ProjectScope s;
  TkxBatch b;
  std::vector<int> seen;
  b.OnNodeAdded = [&](TkxBatch*, kx::TkxNode* n) { seen.push_back(n->Index); };
  b.AddFile("http://host/x/a.doc");
  b.AddFile("/tmp/b.doc");
  EXPECT_TRUE(b.SearchDone());
  EXPECT_EQ(b.ItemCount(), 2);
  EXPECT_EQ(seen, (std::vector<int>{0, 1}));
  EXPECT_EQ(b.NextNode()->FileName, "http://host/x/a.doc");
  EXPECT_EQ(b.NextNode()->FileName, "/tmp/b.doc");
  EXPECT_EQ(b.NextNode(), nullptr);
  EXPECT_TRUE(b.Drained());
}

TEST(Batch, RejectedAddFileStillCompletes) {
  ProjectScope s;
  TkxBatch b;
  b.Mask = "*.doc";
  b.AddFile("/x/a.txt");
  EXPECT_EQ(b.ItemCount(), 0);
  EXPECT_TRUE(b.SearchDone());
  EXPECT_EQ(b.NextNode(), nullptr);
}

TEST(Batch, NextNodeWaitsForTheSearchThenEnds) {
  ProjectScope s;
  TkxBatch b;
  b.Mask = "";
  std::atomic<kx::TkxNode*> got{nullptr};
  std::atomic<bool> returned{false};
  std::thread consumer([&] {
    got = b.NextNode();
    returned = true;
  });
  kx::Sleep(30);
  EXPECT_FALSE(returned.load());  // nothing there yet, search not done: it waits
  b.AddFile("/late/a.doc");
  consumer.join();
  ASSERT_NE(got.load(), nullptr);
  EXPECT_EQ(got.load()->FileName, "/late/a.doc");
}

TEST(Batch, NextNodeOnAnEmptyFinishedBatchReturnsAtOnce) {
  ProjectScope s;
  TkxBatch b;
  b.Start(s.Dir / "nothing/*.doc", s.Dir / "out/", false);
  b.WaitFor();
  EXPECT_EQ(b.NextNode(), nullptr);
  EXPECT_TRUE(b.Drained());
}

TEST(Batch, RecordFailureKeepsDistinctMessagesCountsEveryCall) {
  ProjectScope s;
  TkxBatch b;
  b.RecordFailure("Disk full");
  b.RecordFailure("DISK FULL");
  b.RecordFailure("Other");
  b.RecordSuccess();
  EXPECT_EQ(b.FailCount(), 3);
  EXPECT_EQ(b.SuccessCount(), 1);
  EXPECT_EQ(b.Errors(), (std::vector<std::string>{"Disk full", "Other"}));
}

TEST(Batch, TerminateDuringTheSearchKeepsWhatWasFound) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  for (int i = 0; i < 300; ++i) WriteFile(r + "in/d" + std::to_string(i) + "/a.doc", "");
  TkxBatch b;
  std::atomic<int> added{0};
  b.OnNodeAdded = [&](TkxBatch* batch, kx::TkxNode*) {
    if (++added == 5) batch->Terminate();
  };
  b.Start(r + "in/*.doc", r + "out/", true);
  b.WaitFor();
  EXPECT_TRUE(b.SearchDone());
  EXPECT_GE(b.ItemCount(), 5);
  EXPECT_LT(b.ItemCount(), 300);
  int handed = 0;
  while (b.NextNode()) ++handed;
  EXPECT_EQ(handed, b.ItemCount());
}

TEST(Batch, DestroyingWhileSearchingWaitsForTheThread) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  for (int i = 0; i < 200; ++i) WriteFile(r + "in/d" + std::to_string(i) + "/a.doc", "");
  std::atomic<int> added{0};
  auto* b = new TkxBatch();
  b->OnNodeAdded = [&](TkxBatch*, kx::TkxNode*) { ++added; };
  b->Start(r + "in/*.doc", r + "out/", true);
  int64_t until = kx::GetTickCount() + 10000;
  while (added.load() == 0 && kx::GetTickCount() < until) kx::Sleep(1);
  ASSERT_GT(added.load(), 0);
  delete b;  // waits for the search: nothing is added after it returns
  int after = added.load();
  kx::Sleep(30);
  EXPECT_EQ(added.load(), after);
}

TEST(Search, LockFilesAreNeverDocumentsAndNamesStayAsTheirBytes) {
  ProjectScope s;
  std::string r = s.Dir.Path();
  for (const char* name :
       {"report.doc", ".~lock.report.doc#", ".~lock.report.docx#", "~$report.docx", "caf\xe9.doc", ".~lock.notes.doc"})
    WriteFile(r + "in/" + name, "");
  std::vector<std::string> f = Found(r, r + "in/*.doc?", false);
  EXPECT_EQ(f.size(), 3u);
  EXPECT_TRUE(Has(f, "in/report.doc"));
  EXPECT_TRUE(Has(f, "in/caf\xe9.doc"));       // the very bytes, so that it can be opened
  EXPECT_TRUE(Has(f, "in/.~lock.notes.doc"));  // no '#' at the end: not a lock file
  EXPECT_TRUE(kx::IsOwnerFile(".~lock.a.doc#"));
  EXPECT_FALSE(kx::IsOwnerFile(".~lock.#x"));
  EXPECT_FALSE(kx::IsOwnerFile("a.doc#"));
}

// Items choose their targets in item order, whichever thread comes first.
TEST(Batch, TargetTurnsFollowTheItemOrder) {
  ProjectScope s;
  TkxBatch b;
  for (const char* f : {"/in/a.doc", "/in/b.doc", "/in/c.doc"}) b.AddFile(f);
  kx::TkxNode* first = b.NextNode();
  kx::TkxNode* second = b.NextNode();
  kx::TkxNode* third = b.NextNode();
  std::vector<int> order;
  std::mutex lock;
  auto choose = [&](kx::TkxNode* n, const std::string& name) {
    kx::TkxTargetTurn turn(b, *n);
    std::lock_guard<std::mutex> g(lock);
    order.push_back(n->Index);
    if (!turn.HeldByOther(name)) turn.Reserve(name);
  };
  std::thread late([&] { choose(third, "/out/c"); });
  std::thread middle([&] { choose(second, "/out/a"); });
  kx::Sleep(50);
  {
    std::lock_guard<std::mutex> g(lock);
    EXPECT_TRUE(order.empty());  // both wait for the first item
  }
  choose(first, "/out/a");
  middle.join();
  late.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  kx::TkxTargetTurn after(b, *second);
  EXPECT_TRUE(after.HeldByOther("/out/a"));  // the first item's, although the second asked
  EXPECT_TRUE(after.HeldByOther("/out/c"));
  EXPECT_FALSE(after.HeldByOther("/out/b"));
}

TEST(Batch, AnItemThatNeverChoosesPassesItsTurnWhenDone) {
  ProjectScope s;
  TkxBatch b;
  b.AddFile("/in/a.doc");
  b.AddFile("/in/b.doc");
  kx::TkxNode* first = b.NextNode();
  kx::TkxNode* second = b.NextNode();
  std::atomic<bool> chosen{false};
  std::thread t([&] {
    kx::TkxTargetTurn turn(b, *second);
    chosen = true;
  });
  kx::Sleep(30);
  EXPECT_FALSE(chosen.load());
  b.ItemDone(first);  // failed before it chose, for instance
  t.join();
  EXPECT_TRUE(chosen.load());
}
