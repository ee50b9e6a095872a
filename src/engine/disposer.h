#pragma once
// Frees batches that a front end no longer wants once nothing else uses them:
// their search thread has been asked to end and every converter chain that ran
// on them has been freed. The waiting happens on a thread of its own, so the
// front end's thread never waits for a converter that may be waiting for it.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/batch.h"
#include "engine/convertor.h"

namespace kx {

class TkxBatchDisposer {
 public:
  TkxBatchDisposer() = default;
  // Waits until every batch handed over has been freed.
  virtual ~TkxBatchDisposer();
  TkxBatchDisposer(const TkxBatchDisposer&) = delete;
  TkxBatchDisposer& operator=(const TkxBatchDisposer&) = delete;

  // Frees at once when nothing uses the batch any more. When the batch cannot be
  // kept for later (no memory, no thread), the error is raised and the batch is
  // never freed: converters may still use it.
  void Dispose(std::unique_ptr<TkxBatch> batch, std::vector<std::shared_ptr<TkxChain>> chains);
  // Batches handed over and not yet freed.
  int Pending() const;
  // Blocks until Pending() is 0.
  void WaitAll();

 protected:
  // The thread that frees the batches once their chains have ended.
  virtual std::thread NewThread(std::function<void()> body) { return std::thread(std::move(body)); }

 private:
  struct TEntry {
    std::unique_ptr<TkxBatch> Batch;
    std::vector<std::shared_ptr<TkxChain>> Chains;
    bool Free() const;
  };
  void Loop();

  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TEntry> FEntries;
  std::thread FThread;
  int FFreeing = 0;
  bool FClosing = false;
};

}  // namespace kx
