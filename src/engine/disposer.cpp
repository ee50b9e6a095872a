#include "engine/disposer.h"

#include <chrono>

namespace kx {

bool TkxBatchDisposer::TEntry::Free() const {
  for (const auto& c : Chains)
    if (c && !c->Ended()) return false;
  return true;
}

TkxBatchDisposer::~TkxBatchDisposer() {
  WaitAll();
  {
    std::lock_guard<std::mutex> g(FLock);
    FClosing = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TkxBatchDisposer::Dispose(std::unique_ptr<TkxBatch> batch, std::vector<std::shared_ptr<TkxChain>> chains) {
  if (!batch) return;
  batch->Terminate();
  TEntry e{std::move(batch), std::move(chains)};
  if (e.Free()) return;  // the batch's destructor waits for its search, which never waits for anyone
  std::lock_guard<std::mutex> g(FLock);
  try {
    FEntries.push_back(std::move(e));
    if (!FThread.joinable()) FThread = NewThread([this] { Loop(); });
  } catch (...) {
    // A batch that converters may still use stays allocated for good: freeing it
    // here, during the unwinding, would pull it from under them.
    if (e.Batch) {
      static_cast<void>(e.Batch.release());
    } else {
      static_cast<void>(FEntries.back().Batch.release());
      FEntries.pop_back();
    }
    throw;
  }
  FChanged.notify_all();
}

int TkxBatchDisposer::Pending() const {
  std::lock_guard<std::mutex> g(FLock);
  return int(FEntries.size()) + FFreeing;
}

void TkxBatchDisposer::WaitAll() {
  std::unique_lock<std::mutex> g(FLock);
  FChanged.wait(g, [this] { return FEntries.empty() && FFreeing == 0; });
}

void TkxBatchDisposer::Loop() {
  std::unique_lock<std::mutex> g(FLock);
  while (!FClosing) {
    std::vector<TEntry> done;
    for (auto it = FEntries.begin(); it != FEntries.end();) {
      if (it->Free()) {
        done.push_back(std::move(*it));
        it = FEntries.erase(it);
      } else {
        ++it;
      }
    }
    if (!done.empty()) {
      FFreeing += int(done.size());
      g.unlock();
      done.clear();  // frees the batches outside the lock
      g.lock();
      FFreeing = 0;
      FChanged.notify_all();
      continue;
    }
    // Chains announce nothing when they end; look again shortly.
    FChanged.wait_for(g, std::chrono::milliseconds(20));
  }
}

}  // namespace kx
