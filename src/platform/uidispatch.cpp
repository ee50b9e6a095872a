#include "platform/uidispatch.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>

#include <QThread>

#include "platform/thread.h"

namespace kx {

namespace {
enum class TCallState { Pending, Running, Done, Dropped };

struct TCall {
  TCallState State = TCallState::Pending;
  std::exception_ptr Error;
};

// One lock and condition for all calls: waiters also wake on shutdown.
std::mutex CallLock;
std::condition_variable CallCond;
bool ShutDown = false;
}  // namespace

TkxUiDispatcher::TkxUiDispatcher() {
  std::lock_guard<std::mutex> g(CallLock);
  ShutDown = false;
}

TkxUiDispatcher::~TkxUiDispatcher() {
  Shutdown();
  TThread::SetUiDispatcher(nullptr);
}

void TkxUiDispatcher::Install() {
  TThread::SetUiDispatcher([this](const std::function<void()>& fn) { Run(fn); });
}

void TkxUiDispatcher::Shutdown() {
  std::lock_guard<std::mutex> g(CallLock);
  ShutDown = true;
  CallCond.notify_all();
}

void TkxUiDispatcher::Run(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  auto call = std::make_shared<TCall>();
  {
    std::lock_guard<std::mutex> g(CallLock);
    if (ShutDown) return;
  }
  QMetaObject::invokeMethod(
      this,
      [call, fn] {
        {
          std::lock_guard<std::mutex> g(CallLock);
          if (call->State != TCallState::Pending) return;
          call->State = TCallState::Running;
        }
        try {
          fn();
        } catch (...) {
          call->Error = std::current_exception();
        }
        std::lock_guard<std::mutex> g(CallLock);
        call->State = TCallState::Done;
        CallCond.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> g(CallLock);
  CallCond.wait(g, [&] {
    if (call->State == TCallState::Done) return true;
    if (ShutDown && call->State == TCallState::Pending) {
      call->State = TCallState::Dropped;
      return true;
    }
    return false;
  });
  if (call->Error) std::rethrow_exception(call->Error);
}

}  // namespace kx
