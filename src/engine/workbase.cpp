#include "engine/workbase.h"

#include <exception>

namespace kx {

TkxWorkBase::TkxWorkBase(TkxBatch* batch) : Batch(batch) { FreeOnTerminate = true; }

void TkxWorkBase::Execute() {
  while (!Terminated()) {
    Node = Batch->NextNode();
    if (!Node) {
      Terminate();
      break;
    }
    try {
      ProcessNode();
    } catch (const std::exception& e) {
      Node->ResultText = e.what();
    } catch (...) {
      Node->ResultText = "Unexpected error";
    }
    Batch->ItemDone(Node);
  }
}

}  // namespace kx
