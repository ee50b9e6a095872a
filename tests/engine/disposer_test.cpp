#include "engine/disposer.h"

#include <gtest/gtest.h>

#include <system_error>

#include "testutil.h"

using kx::TkxBatch;
using kx::TkxConvertor;
using kxtest::ProjectScope;

namespace {

// A batch that says when it is freed.
struct WatchedBatch : TkxBatch {
  explicit WatchedBatch(bool* freed) : Freed(freed) {}
  ~WatchedBatch() override { *Freed = true; }
  bool* Freed;
};

// A disposer whose freeing thread cannot be started.
struct NoThreadDisposer : kx::TkxBatchDisposer {
  std::thread NewThread(std::function<void()>) override {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  }
};

}  // namespace

TEST(Disposer, ABatchIsFreedOnceItsChainsHaveEnded) {
  ProjectScope s;
  bool idle = false, busy = false;
  kx::TkxBatchDisposer d;
  d.Dispose(std::make_unique<WatchedBatch>(&idle), {});
  EXPECT_TRUE(idle);  // nothing used it: freed at once
  auto batch = std::make_unique<WatchedBatch>(&busy);
  TkxConvertor* head = TkxConvertor::CreateChain(batch.get(), s.Dir / "out/", {});  // suspended: the chain lives
  d.Dispose(std::move(batch), {head->Chain()});
  kx::Sleep(60);
  EXPECT_FALSE(busy);
  EXPECT_EQ(d.Pending(), 1);
  delete head;  // never started: the chain has ended with it
  d.WaitAll();
  EXPECT_TRUE(busy);
  EXPECT_EQ(d.Pending(), 0);
}

TEST(Disposer, ABatchThatCannotBeKeptIsNeverFreedUnderItsConverters) {
  ProjectScope s;
  bool freed = false;
  auto owned = std::make_unique<WatchedBatch>(&freed);
  WatchedBatch* batch = owned.get();
  TkxConvertor* head = TkxConvertor::CreateChain(batch, s.Dir / "out/", {});
  {
    NoThreadDisposer d;
    EXPECT_THROW(d.Dispose(std::move(owned), {head->Chain()}), std::system_error);
    EXPECT_FALSE(freed);
    EXPECT_EQ(d.Pending(), 0);  // and the disposer does not wait for it when it goes
  }
  delete head;
  delete batch;  // only this test may: the disposer let go of it
  EXPECT_TRUE(freed);
}
