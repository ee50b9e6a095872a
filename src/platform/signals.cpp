#include "platform/signals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace kx {

namespace {
std::atomic<int> First{0};
std::mutex StopLock;
std::function<void(int)> HardStop;
std::once_flag Started;
}  // namespace

void WatchInterrupts(std::function<void(int)> hardStop) {
  {
    std::lock_guard<std::mutex> g(StopLock);
    HardStop = std::move(hardStop);
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::call_once(Started, [set] {
    std::thread([set] {
      for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        int expected = 0;
        if (First.compare_exchange_strong(expected, sig)) continue;
        std::function<void(int)> stop;
        {
          std::lock_guard<std::mutex> g(StopLock);
          stop = HardStop;
        }
        if (stop) stop(sig);
      }
    }).detach();
  });
}

int InterruptSignal() { return First.load(); }

}  // namespace kx
