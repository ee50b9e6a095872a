// Many small items, several converters, repeated runs: no item lost or handed out
// twice, no deadlock (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <set>

#include "core/project.h"
#include "engine/convertor.h"
#include "testutil.h"

TEST(Stress, RepeatedRunsWhileTheSearchIsAdding) {
  kxtest::ProjectScope s;
  for (int d = 0; d < 20; ++d)
    for (int f = 0; f < 10; ++f)
      kxtest::WriteFile(s.Dir / ("in/d" + std::to_string(d) + "/f" + std::to_string(f) + ".doc"), "");
  for (int run = 0; run < 8; ++run) {
    kxtest::TestLog().Reset();
    kx::Project->SetOption("ThreadsCount", std::to_string(1 + run % 4));
    kx::TkxBatch b;
    std::atomic<int> done{0};
    b.Start(s.Dir / "in/*.doc", s.Dir / "out/", true);
    kx::TkxConvertor* head =
        kx::TkxConvertor::CreateChain(&b, s.Dir / "out/", [&](kx::TkxBatch*, kx::TkxNode*) { ++done; });
    int n = 0;
    for (auto* c = head; c; c = c->Next) ++n;
    kx::RunningConvertors = n;
    head->ResumeAll();
    int64_t until = kx::GetTickCount() + 60000;
    while (kx::RunningConvertors.load() > 0 && kx::GetTickCount() < until) kx::Sleep(1);
    ASSERT_EQ(kx::RunningConvertors.load(), 0) << "run " << run;
    EXPECT_EQ(b.ItemCount(), 200);
    EXPECT_EQ(done.load(), 200);
    std::lock_guard<std::mutex> g(kxtest::TestLog().Lock);
    std::set<int> unique(kxtest::TestLog().Indexes.begin(), kxtest::TestLog().Indexes.end());
    EXPECT_EQ(unique.size(), 200u);
    EXPECT_EQ(kxtest::TestLog().Indexes.size(), 200u);
  }
}
