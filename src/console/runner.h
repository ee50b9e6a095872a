#pragma once
// The console runner: the whole job without any window, ending with the totals,
// the error report and the run log.
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/sourcelist.h"
#include "core/strlist.h"
#include "platform/fd.h"

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

  // Raises before anything is made when the job cannot start (a source that is not
  // there, a value that would touch files it did not mean, an unreadable "Shard", a
  // target folder that cannot be made or written, a log that cannot be opened), and
  // at the end when the log could not be written.
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
  void CheckBeforeRun(std::vector<TkxSourceItem>& items, std::string& target);
  void WriteLogLine(const std::string& line);  // under the items lock

  std::string FSource;         // the "Source" value
  bool FSourceWarned = false;  // its folder was reported missing already
  double FSeconds = 0;         // from the start of the run to its end
  bool FInterrupted = false;   // a signal stopped the run
  bool FSearchCut = false;     // ... while its search was still listing documents
  UniqueFd FLog;               // the run log, open from before the first document
  std::string FLogFile;
  std::string FJsonFile;  // "JsonLog", written at the end
  int FLogError = 0;      // the errno of a line that could not be written
};

// A job that cannot start; each line is said on its own.
class ERunRefused : public std::runtime_error {
 public:
  explicit ERunRefused(const std::vector<std::string>& lines);
  std::vector<std::string> Lines;
};

extern TkxConsoleRunner* Runner;

// The exit code of a run that had failed documents, with "FailExit" on.
constexpr int kFailedDocumentsExit = 3;

// "%s => %s => %s" of a status word, a file name and a result text.
std::string RunLogLine(int status, const std::string& fileName, const std::string& resultText);
// The result of a document an interrupted run did not reach.
inline constexpr const char* kNotReached = "not converted: the run was interrupted before it";

}  // namespace kx
