#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {
struct Counter : kx::TThread {
  std::atomic<int>* Runs;
  std::atomic<bool>* Freed;
  explicit Counter(std::atomic<int>* runs, std::atomic<bool>* freed = nullptr) : Runs(runs), Freed(freed) {}
  ~Counter() override {
    if (Freed) *Freed = true;
  }
  void Execute() override {
    ++*Runs;
    while (!Terminated()) kx::Sleep(1);
  }
};
}  // namespace

TEST(Thread, CreatedSuspendedStartsOnceEndsOnTerminate) {
  std::atomic<int> runs{0};
  Counter t(&runs);
  kx::Sleep(20);
  EXPECT_EQ(runs.load(), 0);
  EXPECT_FALSE(t.Started());
  t.Resume();
  t.Resume();
  while (runs.load() == 0) kx::Sleep(1);
  EXPECT_FALSE(t.Finished());
  t.Terminate();
  t.WaitFor();
  EXPECT_TRUE(t.Finished());
  EXPECT_EQ(runs.load(), 1);
}

TEST(Thread, FreeOnTerminateDeletesItselfOnItsOwnThread) {
  std::atomic<int> runs{0};
  std::atomic<bool> freed{false};
  auto* t = new Counter(&runs, &freed);
  t->FreeOnTerminate = true;
  t->Terminate();  // the body ends at once
  t->Resume();
  int64_t until = kx::GetTickCount() + 5000;
  while (!freed && kx::GetTickCount() < until) kx::Sleep(1);
  EXPECT_TRUE(freed.load());
  EXPECT_EQ(runs.load(), 1);
}

TEST(Thread, SynchronizeNeedsADispatcherAndRunsThroughIt) {
  EXPECT_THROW(kx::TThread::Synchronize([] {}), std::logic_error);
  int through = 0, ran = 0;
  kx::TThread::SetUiDispatcher([&](const std::function<void()>& fn) {
    ++through;
    fn();
  });
  kx::TThread::Synchronize([&] { ++ran; });
  kx::TThread::SetUiDispatcher(nullptr);
  EXPECT_EQ(through, 1);
  EXPECT_EQ(ran, 1);
}

TEST(Thread, TickCountIsMonotonicMilliseconds) {
  int64_t a = kx::GetTickCount();
  kx::Sleep(15);
  int64_t b = kx::GetTickCount();
  EXPECT_GE(b - a, 14);
}
