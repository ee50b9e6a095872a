#pragma once
// The run's report for machines: one JSON object per document, one a line (JSON
// Lines), so that the reports of several runs (the shares of one folder) put one
// after the other are one report.
#include <string>

namespace kx {

class TkxBatch;

// Every document of the batch in item order:
//   {"source": path, "status": "converted" | "skipped" | "failed" | "not done",
//    "files": [page files], "pages": count, "seconds": time, "message": result text}
// Paths as the run log shows them. Each line ends with "\n".
std::string JsonReportLines(TkxBatch& batch);

}  // namespace kx
