#include "engine/runreport.h"

#include "platform/text.h"

namespace kx {

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
  return "err&e=" + ReplaceAll(CommaText(errors), "?", "%3F");
}

}  // namespace kx
