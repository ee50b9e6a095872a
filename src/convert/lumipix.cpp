#include "convert/lumipix.h"

#include <stdexcept>

#include "engine/convertor.h"

namespace kx {

namespace {
// Until the word-processor link and the page export exist, every document fails
// with a plain statement instead of being reported as converted.
class TkxLUMIPIX : public TkxConvertor {
 public:
  using TkxConvertor::TkxConvertor;
  void ConvertFile(TkxBatch* batch, TkxNode* node) override {
    if (MakeTarget(batch, node).empty()) return;
    const std::string message = "Page export is not available in this build";
    node->ResultText = message;
    node->Status = 2;
    batch->RecordFailure(message);
  }
};
}  // namespace

void RegisterLumipix() {
  RegisterConvertorClass("TkxLUMIPIX", [](TkxBatch* b, const TkxNodeEvent& e, int n) -> TkxConvertor* {
    return new TkxLUMIPIX(b, e, n);
  });
}

}  // namespace kx
