#pragma once
// What every front end reports when a run ends: the usage counters of the run and
// the web error report of its failures.
#include <string>
#include <vector>

namespace kx {

// The distinct messages as one comma-separated text, quoted where needed.
std::string CommaText(const std::vector<std::string>& items);
// "err&e=" and the messages, "?" as "%3F".
std::string ErrorReportAction(const std::vector<std::string>& errors);

}  // namespace kx
