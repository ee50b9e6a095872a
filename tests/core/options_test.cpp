#include "core/optiontable.h"

#include <gtest/gtest.h>

#include <set>

#include "core/pagerange.h"
#include "core/shard.h"

using kx::TkxPageRange;
using kx::TkxShard;

namespace {

std::vector<int> Wanted(const std::string& text, int pages) {
  TkxPageRange r;
  EXPECT_TRUE(TkxPageRange::Parse(text, r)) << text;
  std::vector<int> out;
  for (int p = 1; p <= pages; ++p)
    if (r.Wants(p)) out.push_back(p);
  return out;
}

}  // namespace

TEST(PageRange, SinglesSpansAndOpenEnds) {
  EXPECT_EQ(Wanted("1", 5), (std::vector<int>{1}));
  EXPECT_EQ(Wanted("2-4", 6), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(Wanted("1,3,5-", 7), (std::vector<int>{1, 3, 5, 6, 7}));
  EXPECT_EQ(Wanted("-2", 5), (std::vector<int>{1, 2}));
  EXPECT_EQ(Wanted(" 4 , 1 - 2 ", 5), (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(Wanted("", 3), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Wanted("3,1", 4), (std::vector<int>{1, 3}));
}

TEST(PageRange, FirstPageAndWhereTheExportCanStop) {
  TkxPageRange r;
  ASSERT_TRUE(TkxPageRange::Parse("5,2-3", r));
  EXPECT_EQ(r.First(), 2);
  EXPECT_FALSE(r.EndsBy(4));
  EXPECT_TRUE(r.EndsBy(5));
  ASSERT_TRUE(TkxPageRange::Parse("2-", r));
  EXPECT_FALSE(r.EndsBy(100000));
  EXPECT_FALSE(TkxPageRange().EndsBy(1000));  // every page
  EXPECT_EQ(TkxPageRange().First(), 1);
}

TEST(PageRange, UnreadableTextIsRefusedAndTheOptionThenWantsEveryPage) {
  for (const char* bad : {"0", "4-2", "a", "1,,2", "-", "1-2-3", "2.5", "1;3", "99999999", "1,"}) {
    TkxPageRange r;
    ASSERT_TRUE(TkxPageRange::Parse("7", r));
    EXPECT_FALSE(TkxPageRange::Parse(bad, r)) << bad;
    EXPECT_TRUE(r.Wants(7) && !r.Wants(1)) << "left alone after " << bad;
    EXPECT_TRUE(TkxPageRange::FromOption(bad).All()) << bad;
  }
}

TEST(Shard, FnvOfKnownTexts) {
  EXPECT_EQ(kx::Fnv1a64(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(kx::Fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(kx::Fnv1a64("foobar"), 0x85944171f73967e8ULL);
}

TEST(Shard, EveryPathInExactlyOneShareAndTheSharesAreEven) {
  const int n = 3, paths = 600;
  std::vector<TkxShard> shares(n);
  for (int i = 0; i < n; ++i) ASSERT_TRUE(TkxShard::Parse(std::to_string(i + 1) + "/" + std::to_string(n), shares[i]));
  std::vector<int> sizes(n);
  for (int p = 0; p < paths; ++p) {
    std::string rel = "sub" + std::to_string(p % 7) + "/report " + std::to_string(p) + ".docx";
    int takers = 0;
    for (int i = 0; i < n; ++i)
      if (shares[i].Takes(rel)) ++takers, ++sizes[i];
    EXPECT_EQ(takers, 1) << rel;
  }
  for (int i = 0; i < n; ++i) EXPECT_GT(sizes[i], paths / n / 2) << "share " << i + 1;
}

TEST(Shard, FormsAndRefusals) {
  TkxShard s;
  ASSERT_TRUE(TkxShard::Parse(" 2 / 5 ", s));
  EXPECT_EQ(s.Index(), 2);
  EXPECT_EQ(s.Count(), 5);
  ASSERT_TRUE(TkxShard::Parse("1/1", s));
  EXPECT_TRUE(s.All());
  EXPECT_TRUE(s.Takes("anything.doc"));
  ASSERT_TRUE(TkxShard::Parse("", s));
  EXPECT_TRUE(s.All());
  for (const char* bad : {"0/3", "4/3", "3", "a/b", "1/0", "-1/3", "1/3/4", "/3", "2/", "3/0-2", "1/2-1", "HOME/3"}) {
    EXPECT_FALSE(TkxShard::Parse(bad, s)) << bad;
  }
  // Task t of the tasks lo to hi: a zero-based array as it counts.
  auto share = [](const char* text) {
    TkxShard sh;
    std::string why;
    bool ok = TkxShard::Parse(text, sh, &why);
    return ok ? std::to_string(sh.Index()) + "/" + std::to_string(sh.Count()) : why;
  };
  EXPECT_EQ(share("0/0-2"), "1/3");
  EXPECT_EQ(share("2/0-2"), "3/3");
  EXPECT_EQ(share("3/1-3"), "3/3");
  EXPECT_EQ(share("0/3"),
            "The option \"Shard\" names share 0 of 3, but shares are counted from 1 to 3; for tasks counted from 0 "
            "write 0/0-2");
}

// The scheduler's own variables: a Slurm array (any first id, a step) and a Kubernetes
// Indexed Job (from 0, the count given); what is missing or odd is said.
TEST(Shard, FromTheSchedulersVariables) {
  auto share = [](const char* text) {
    TkxShard sh;
    std::string why;
    bool ok = TkxShard::Parse(text, sh, &why);
    return ok ? std::to_string(sh.Index()) + "/" + std::to_string(sh.Count()) : why;
  };
  for (const char* v : {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_MIN", "SLURM_ARRAY_TASK_MAX", "SLURM_ARRAY_TASK_STEP",
                        "SLURM_ARRAY_TASK_COUNT", "JOB_COMPLETION_INDEX"})
    unsetenv(v);
  EXPECT_EQ(share("SLURM_ARRAY_TASK_ID"),
            "The option \"Shard\" takes the share from SLURM_ARRAY_TASK_ID, which is not set: this run is not a task "
            "of a Slurm job array");
  setenv("SLURM_ARRAY_TASK_ID", "0", 1);
  setenv("SLURM_ARRAY_TASK_MIN", "0", 1);
  setenv("SLURM_ARRAY_TASK_MAX", "2", 1);
  setenv("SLURM_ARRAY_TASK_COUNT", "3", 1);
  EXPECT_EQ(share("SLURM_ARRAY_TASK_ID"), "1/3");
  EXPECT_EQ(share("$SLURM_ARRAY_TASK_ID/3"), "1/3");
  EXPECT_EQ(share("slurm_array_task_id/0-2"), "1/3");
  setenv("SLURM_ARRAY_TASK_ID", "5", 1);
  setenv("SLURM_ARRAY_TASK_MIN", "1", 1);
  setenv("SLURM_ARRAY_TASK_MAX", "9", 1);
  setenv("SLURM_ARRAY_TASK_STEP", "2", 1);
  setenv("SLURM_ARRAY_TASK_COUNT", "5", 1);
  EXPECT_EQ(share("SLURM_ARRAY_TASK_ID"), "3/5");  // 1, 3, 5, 7, 9
  setenv("SLURM_ARRAY_TASK_COUNT", "3", 1);        // --array=1,5,9: no even range
  EXPECT_NE(share("SLURM_ARRAY_TASK_ID").find("write the share as i/n"), std::string::npos);
  setenv("JOB_COMPLETION_INDEX", "0", 1);
  EXPECT_EQ(share("JOB_COMPLETION_INDEX/3"), "1/3");
  setenv("JOB_COMPLETION_INDEX", "2", 1);
  EXPECT_EQ(share("${JOB_COMPLETION_INDEX}/3"), "3/3");
  setenv("JOB_COMPLETION_INDEX", "3", 1);
  EXPECT_EQ(share("JOB_COMPLETION_INDEX/3"),
            "The option \"Shard\" names share 4 of 3, but shares are counted from 1 to 3");
  setenv("JOB_COMPLETION_INDEX", "x", 1);
  EXPECT_EQ(share("JOB_COMPLETION_INDEX/3"),
            "The option \"Shard\" takes the share from JOB_COMPLETION_INDEX, which is \"x\", not a number");
  for (const char* v : {"SLURM_ARRAY_TASK_ID", "SLURM_ARRAY_TASK_MIN", "SLURM_ARRAY_TASK_MAX", "SLURM_ARRAY_TASK_STEP",
                        "SLURM_ARRAY_TASK_COUNT", "JOB_COMPLETION_INDEX"})
    unsetenv(v);
}

TEST(OptionTable, NearestKeyForSlipsAndNoneForStrangers) {
  EXPECT_EQ(kx::NearestOptionKey("Sourse"), "Source");
  EXPECT_EQ(kx::NearestOptionKey("Soucre"), "Source");  // two letters swapped
  EXPECT_EQ(kx::NearestOptionKey("threadcount"), "ThreadsCount");
  EXPECT_EQ(kx::NearestOptionKey("Threads"), "ThreadsCount");  // a beginning
  EXPECT_EQ(kx::NearestOptionKey(" Subdir"), "Subdir");
  EXPECT_EQ(kx::NearestOptionKey("Dip"), "Dpi");
  EXPECT_EQ(kx::NearestOptionKey("Colour"), "Color");
  EXPECT_EQ(kx::NearestOptionKey("Banana"), "");
  EXPECT_EQ(kx::NearestOptionKey("X"), "");
  EXPECT_EQ(kx::OptionKeyDistance("abc", "ABC"), 0);
  EXPECT_EQ(kx::OptionKeyDistance("kitten", "sitting"), 3);
}

TEST(OptionTable, KnownKeysLetterCaseAsideAndOldWindowKeys) {
  EXPECT_NE(kx::FindOptionKey("threadscount"), nullptr);
  EXPECT_NE(kx::FindOptionKey("eSource.Text"), nullptr);
  EXPECT_FALSE(kx::FindOptionKey("eSource.Text")->Listed);
  EXPECT_EQ(kx::FindOptionKey("Sourse"), nullptr);
  std::set<std::string> keys;
  for (const auto& k : kx::OptionTable()) EXPECT_TRUE(keys.insert(kx::FindOptionKey(k.Key)->Key).second) << k.Key;
}

TEST(OptionTable, WarningsNameWhatDoesNothingAndWhatIsUsedInstead) {
  kx::TkxStringList s;
  s.SetText(
      "Source=/in/*.doc?\nSourse=/x\nThreadsCount=two\nSubdir=maybe\nIsOverwrite=SKIP\nIsOverwrite=0\n\n"
      "Pages=1,3,5-\nPages2=1\nDpi=0\nShard=4/3\nRegExt=(\njustaword\nWidth=$20\nBanana=1\n");
  std::vector<std::string> w = kx::OptionWarnings(s);
  std::vector<std::string> expected = {
      "unknown option \"Sourse\" (did you mean \"Source\"?); it is ignored",
      "ThreadsCount=two is not a whole number; the default 1 is used",
      "Subdir=maybe is not a boolean (1, 0, True, False, yes, no, on or off); the default False is used",
      "the option \"IsOverwrite\" is given twice; the first value is used",
      "unknown option \"Pages2\" (did you mean \"Pages\"?); it is ignored",
      "Dpi=0 is not a resolution from 1 to 1200; the default 96 is used",
      "Shard=4/3 is not a share such as 2/3, 0/0-2, SLURM_ARRAY_TASK_ID or JOB_COMPLETION_INDEX/3; every document is "
      "taken",
  };
  ASSERT_GE(w.size(), expected.size() + 3) << testing::PrintToString(w);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(w[i], expected[i]);
  EXPECT_EQ(w[7].rfind("RegExt=( is not a regular expression (", 0), 0u) << w[7];
  EXPECT_EQ(w[8], "\"justaword\" is not an option (Key=Value); it is ignored");
  EXPECT_EQ(w[9], "unknown option \"Banana\"; it is ignored");
  EXPECT_EQ(w.size(), 10u);
}

TEST(OptionTable, EmptyValuesAndGoodValuesSayNothing) {
  kx::TkxStringList s;
  s.SetText(
      "Source=\nTarget=\nSubdir=True\nThreadsCount=0x10\nIsOverwrite=skip\nDpi=300\nPages=2\nShard=3/3\n"
      "RegExt=report\nColor=6\nDaemon=-1\neTarget.Text=/x/\n");
  EXPECT_EQ(kx::OptionWarnings(s), std::vector<std::string>{});
}
