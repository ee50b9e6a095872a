#pragma once
// The consumer loop of a run: takes items from the batch until it is drained.
#include "engine/batch.h"
#include "platform/thread.h"

namespace kx {

class TkxWorkBase : public TThread {
 public:
  // Created suspended; frees itself when its body ends.
  explicit TkxWorkBase(TkxBatch* batch);

  TkxBatch* const Batch;
  TkxNode* Node = nullptr;

 protected:
  void Execute() override;
  virtual void ProcessNode() {}
};

}  // namespace kx
