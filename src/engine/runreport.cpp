#include "engine/runreport.h"

#include "core/infoslot.h"
#include "engine/batch.h"
#include "platform/text.h"

namespace kx {

void CountRunStart() {
  if (Info) Info->Count(counter::kRuns, 0, 1);
}

void ReportRunEnd(const TkxBatch& batch) {
  if (!Info) return;
  Info->Count(counter::kListed, 0, batch.ItemCount());
  Info->Count(counter::kConverted, 0, batch.SuccessCount());
  Info->Count(counter::kFailed, 0, batch.FailCount());
  if (batch.FailCount() > 0) Info->OpenLink("", ErrorReportAction(batch.Errors()), "");
}

std::string CommaText(const std::vector<std::string>& items) {
  if (items.size() == 1 && items[0].empty()) return "\"\"";
  std::string r;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) r += ',';
    const std::string& s = items[i];
    bool quote = false;
    for (unsigned char c : s)
      if (c <= ' ' || c == ',' || c == '"') quote = true;
    if (!quote) {
      r += s;
      continue;
    }
    r += '"';
    r += ReplaceAll(s, "\"", "\"\"");
    r += '"';
  }
  return r;
}

std::string ErrorReportAction(const std::vector<std::string>& errors) {
  // Program text is UTF-8 already, so the code-page conversion is the identity.
  return kErrorReportAction + ReplaceAll(CommaText(errors), "?", "%3F");
}

}  // namespace kx
