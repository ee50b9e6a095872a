#pragma once
// What every front end reports when a run ends: the usage counters of the run and
// the web error report of its failures.
#include <string>
#include <vector>

namespace kx {

class TkxBatch;

// A run has started: counted in the usage counters.
void CountRunStart();
// A run has ended: its documents are added to the usage counters and, when anything
// failed, its distinct messages go out as one web error report.
void ReportRunEnd(const TkxBatch& batch);

// The distinct messages as one comma-separated text, quoted where needed.
std::string CommaText(const std::vector<std::string>& items);
// kErrorReportAction and the messages made safe to send (ReportSafeText), each once,
// "?" as "%3F".
std::string ErrorReportAction(const std::vector<std::string>& errors);
// A message as it may leave the machine: a web address keeps its scheme, host and
// path, without user name, password, query or fragment; a local path (a '/' that
// starts a word, with the words after it that continue it) becomes "<path>", and so
// does a "file:" address.
std::string ReportSafeText(const std::string& message);

}  // namespace kx
