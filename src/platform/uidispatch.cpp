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
const TkxUiDispatcher* Installed = nullptr;  // guarded by CallLock
}  // namespace

// Shared with the installed dispatcher function and with waiters, which may
// outlive the dispatcher object by a moment.
struct TkxUiDispatcher::TState {
  bool ShutDown = false;  // guarded by CallLock
  QObject* Target = nullptr;
};

TkxUiDispatcher::TkxUiDispatcher() : FState(std::make_shared<TState>()) { FState->Target = this; }

TkxUiDispatcher::~TkxUiDispatcher() {
  Shutdown();
  bool mine;
  {
    std::lock_guard<std::mutex> g(CallLock);
    mine = Installed == this;
    if (mine) Installed = nullptr;
  }
  if (mine) TThread::SetUiDispatcher(nullptr);
}

void TkxUiDispatcher::Install() {
  {
    std::lock_guard<std::mutex> g(CallLock);
    Installed = this;
  }
  std::shared_ptr<TState> state = FState;
  TThread::SetUiDispatcher([state](const std::function<void()>& fn) { Run(state, fn); });
}

void TkxUiDispatcher::Shutdown() {
  std::lock_guard<std::mutex> g(CallLock);
  FState->ShutDown = true;
  CallCond.notify_all();
}

void TkxUiDispatcher::Run(const std::function<void()>& fn) { Run(FState, fn); }

void TkxUiDispatcher::Run(const std::shared_ptr<TState>& state, const std::function<void()>& fn) {
  auto call = std::make_shared<TCall>();
  bool direct = false;  // decided under the lock: once posted, the call's state is the GUI thread's
  {
    std::lock_guard<std::mutex> g(CallLock);
    if (state->ShutDown) return;
    if (QThread::currentThread() != state->Target->thread()) {
      QMetaObject::invokeMethod(
          state->Target,
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
    } else {
      direct = true;
    }
  }
  if (direct) {
    fn();  // already on the GUI thread
    return;
  }
  std::unique_lock<std::mutex> g(CallLock);
  CallCond.wait(g, [&] {
    if (call->State == TCallState::Done) return true;
    if (state->ShutDown && call->State == TCallState::Pending) {
      call->State = TCallState::Dropped;
      return true;
    }
    return false;
  });
  if (call->Error) std::rethrow_exception(call->Error);
}

}  // namespace kx
