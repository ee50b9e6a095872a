#pragma once
// The thread class of the batch and the workers: created suspended, started once
// by Resume, a terminate flag the body polls, optional free-on-terminate (the
// object deletes itself on its own thread after the body), WaitFor, and
// Synchronize into the UI thread through an installable dispatcher.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace kx {

class TThread {
 public:
  TThread() = default;
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Resume();  // starts the body; later calls do nothing
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  bool Started() const { return FStarted.load(); }
  bool Finished() const { return FFinished.load(); }
  // Waits until the body has ended. Not for free-on-terminate threads.
  void WaitFor();

  bool FreeOnTerminate = false;

  // Runs fn on the UI thread and waits for it. Without a dispatcher this is a
  // programming error and raises.
  static void Synchronize(const std::function<void()>& fn);
  // The window installs a blocking dispatcher into its GUI thread; nullptr removes it.
  static void SetUiDispatcher(std::function<void(const std::function<void()>&)> dispatcher);

 protected:
  virtual void Execute() = 0;
  // Runs on the thread right after Execute, before a free-on-terminate delete.
  virtual void DoTerminate() {}

 private:
  static void Proc(TThread* self);

  std::thread FThread;
  std::mutex FStartLock;
  std::mutex FJoinLock;
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FTerminated{false};
};

using TCriticalSection = std::recursive_mutex;

void Sleep(int milliseconds);  // 0 yields the rest of the time slice
int64_t GetTickCount();        // steady clock, milliseconds

}  // namespace kx
