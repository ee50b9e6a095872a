#pragma once
// The UI dispatcher of the thread class for a Qt GUI thread: a worker's
// Synchronize becomes a queued call into the GUI thread that the worker waits
// for. Once shut down, calls not yet started are dropped and their waiters
// released, so a closing window never deadlocks with a thread that is ending.
#include <functional>
#include <memory>

#include <QObject>

namespace kx {

class TkxUiDispatcher : public QObject {
 public:
  // Lives in (and must be created on) the GUI thread.
  TkxUiDispatcher();
  ~TkxUiDispatcher() override;  // shuts down and uninstalls

  // Becomes the dispatcher of TThread::Synchronize.
  void Install();
  // Drops calls that have not started and every later one; waiters return at once.
  void Shutdown();
  // Runs fn in the GUI thread and waits; on the GUI thread it runs directly.
  void Run(const std::function<void()>& fn);

 private:
  struct TState;
  static void Run(const std::shared_ptr<TState>& state, const std::function<void()>& fn);
  std::shared_ptr<TState> FState;
};

}  // namespace kx
