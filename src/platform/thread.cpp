#include "platform/thread.h"

#include <stdexcept>

namespace kx {

namespace {
std::mutex DispatcherLock;
std::function<void(const std::function<void()>&)> Dispatcher;
}  // namespace

TThread::~TThread() {
  // A free-on-terminate thread is detached and deletes itself on its own thread.
  if (FThread.joinable()) {
    if (FThread.get_id() == std::this_thread::get_id())
      FThread.detach();
    else
      FThread.join();
  }
}

void TThread::Resume() {
  std::lock_guard<std::mutex> g(FStartLock);
  if (FStarted.exchange(true)) return;
  FThread = std::thread(&TThread::Proc, this);
  if (FreeOnTerminate) FThread.detach();
}

void TThread::Proc(TThread* self) {
  // Resume still holds the lock until a free-on-terminate thread is detached.
  { std::lock_guard<std::mutex> g(self->FStartLock); }
  try {
    self->Execute();
  } catch (...) {
    // A body that lets an error escape ends its thread, nothing more.
  }
  self->DoTerminate();
  bool freeIt = self->FreeOnTerminate;
  self->FFinished.store(true);
  if (freeIt) delete self;  // NOLINT(cppcoreguidelines-owning-memory): it owns itself
}

void TThread::WaitFor() {
  // The owner resumes and waits from one thread; the join lock only keeps two waiters apart.
  std::lock_guard<std::mutex> g(FJoinLock);
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TThread::Synchronize(const std::function<void()>& fn) {
  std::function<void(const std::function<void()>&)> d;
  {
    std::lock_guard<std::mutex> g(DispatcherLock);
    d = Dispatcher;
  }
  if (!d) throw std::logic_error("Synchronize without a UI dispatcher");
  d(fn);
}

void TThread::SetUiDispatcher(std::function<void(const std::function<void()>&)> dispatcher) {
  std::lock_guard<std::mutex> g(DispatcherLock);
  Dispatcher = std::move(dispatcher);
}

void Sleep(int milliseconds) {
  if (milliseconds <= 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int64_t GetTickCount() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace kx
