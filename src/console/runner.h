#pragma once
// The console runner: the whole job without any window, ending with the totals,
// the error report and the run log.
#include <memory>
#include <string>
#include <vector>

#include "core/strlist.h"

namespace kx {

class TkxBatch;
class TkxNode;
class TkxConvertor;
class TkxChain;

class TkxConsoleReport;

class TkxConsoleRunner {
 public:
  TkxConsoleRunner();
  ~TkxConsoleRunner();

  // Raises when the job cannot start (an empty "Target", an unreadable "Shard") or
  // the log cannot be written.
  void Run();
  void OnItemDone(TkxBatch* batch, TkxNode* node);
  void Finish();
  // After Run: 0, or kFailedDocumentsExit when documents failed and "FailExit" is on.
  int ExitCode() const;

  std::unique_ptr<TkxBatch> Batch;
  TkxConvertor* Convertor = nullptr;  // head of the chain; valid only until it starts
  std::shared_ptr<TkxChain> Chain;
  TkxStringList Log;
  // Where the run talks; standard error when none is set before Run.
  std::unique_ptr<TkxConsoleReport> Report;

 private:
  std::string FSource;         // as the search takes it
  bool FSourceWarned = false;  // its folder was reported missing already
  double FSeconds = 0;         // from the start of the run to its end
};

extern TkxConsoleRunner* Runner;

// The exit code of a run that had failed documents, with "FailExit" on.
constexpr int kFailedDocumentsExit = 3;

// "%s => %s => %s" of a status word, a file name and a result text.
std::string RunLogLine(int status, const std::string& fileName, const std::string& resultText);

}  // namespace kx
