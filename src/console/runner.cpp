#include "console/runner.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "console/console.h"
#include "console/runchecks.h"
#include "console/runsummary.h"
#include "core/optiontable.h"
#include "core/project.h"
#include "core/shard.h"
#include "core/strlist.h"
#include "engine/batch.h"
#include "engine/convertor.h"
#include "engine/jsonreport.h"
#include "engine/runreport.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/signals.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace kx {

TkxConsoleRunner* Runner = nullptr;

TkxConsoleRunner::TkxConsoleRunner() = default;
TkxConsoleRunner::~TkxConsoleRunner() = default;

std::string RunLogLine(int status, const std::string& fileName, const std::string& resultText) {
  return std::string(StatusWord(status)) + " => " + fileName + " => " + resultText;
}

void TkxConsoleRunner::Run() {
  Log.Clear();
  Batch = std::make_unique<TkxBatch>();
  if (!Report) Report = std::make_unique<TkxConsoleReport>(TkxConsoleReport::ForStandardError(Project->Title));
  bool subdir = Project->Subdir();
  // First what would do nothing: a mistyped "Target" key explains an empty Target.
  for (const std::string& w : OptionWarnings(Project->SettingsCopy()))
    if (!StartsText("Shard=", w)) Report->Warning(w);  // refused below instead
  // An empty target would send the pages to the root folder: refuse before anything starts.
  // ("file:" alone is an address of nothing.)
  if (FileAddressToPath(Project->Target()).empty())
    throw std::runtime_error("The option \"Target\" is empty: name the folder that receives the page images");
  // n machines with an unreadable share would each convert the whole folder.
  std::string shard = Project->GetOption("Shard");
  TkxShard share;
  std::string why;
  if (!TkxShard::Parse(shard, share, &why)) throw std::runtime_error(why);
  auto started = std::chrono::steady_clock::now();
  std::string target = Project->TargetFolder();
  FSource = SearchSource(Project->Source(), Project->SourceMask);
  std::string problem = SourceProblem(TkxBatch::NormalizePath(FSource));
  FSourceWarned = !problem.empty();
  if (FSourceWarned) Report->Warning(problem);
  // After the target folder exists: a log beside the pages is the usual case.
  problem = LogFileProblem(Project->GetOption("LogFile"));
  if (!problem.empty()) Report->Warning(problem);
  Batch->Start(FSource, target, subdir);
  Convertor = TkxConvertor::CreateChain(Batch.get(), Project->TargetFolder(),
                                        [this](TkxBatch* b, TkxNode* n) { OnItemDone(b, n); });
  Chain = Convertor->Chain();
  int count = 0;
  for (TkxConvertor* c = Convertor; c; c = c->Next) ++count;
  RunningConvertors.store(count);
  Convertor->ResumeAll();
  Convertor = nullptr;  // the converters free themselves from here on
  CountRunStart();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
  bool stopping = false;
  while (RunningConvertors.load() > 0) {
    Sleep(100);
    if (!stopping && InterruptSignal()) {
      // As Stop does: the search ends, every converter ends after its document in hand.
      stopping = true;
      Batch->Terminate();
      Chain->TerminateAll();
    }
    if (Report->ShowsProgress()) Report->Progress(Batch->Totals(), elapsed());
  }
  FSeconds = elapsed();
  Finish();
}

void TkxConsoleRunner::OnItemDone(TkxBatch* batch, TkxNode* node) {
  std::string line = RunLogLine(node->Status, DisplayPath(node->FileName), node->ResultText);
  std::lock_guard<TCriticalSection> g(batch->ItemsLock());
  Log.Add(std::move(line));
}

void TkxConsoleRunner::Finish() {
  ReportRunEnd(*Batch);
  std::string logFile = Project->GetOption("LogFile");
  if (Report) {
    TkxRunTotals totals = Batch->Totals();
    std::vector<TkxSearchProblem> unread = Batch->SearchProblems();
    for (const TkxSearchProblem& p : unread)
      Report->Warning("the folder " + p.Folder + " cannot be searched (" + std::strerror(p.Error) +
                      "): its documents were left out");
    // With a folder that could not be read, "no document matches" would tell too little.
    if (totals.Found == 0 && !FSourceWarned && unread.empty() && !Batch->Terminated()) {
      TkxShard share = Project->Shard();
      Report->Warning(
          "no document matches " + FSource +
          (share.All() ? "" : " in share " + std::to_string(share.Index()) + "/" + std::to_string(share.Count())) +
          (Project->Subdir() ? "" : "; Subdir=1 also searches its sub-folders"));
    }
    std::vector<TkxFailure> failed;
    for (const auto& node : Batch->LockItems())
      if (node->Status == TkxNode::Failure) failed.emplace_back(DisplayPath(node->FileName), node->ResultText);
    Batch->UnlockItems();
    for (const std::string& line : FailureLines(failed, logFile)) Report->Say(line);
    Report->Say(RunSummaryLine(Project->Title, totals, FSeconds));
  }
  if (!logFile.empty()) Log.SaveToFile(logFile);
  std::string report = Project->GetOption("JsonLog");
  if (!report.empty()) WriteFileAtomic(report, JsonReportLines(*Batch));
}

int TkxConsoleRunner::ExitCode() const {
  bool failed = Batch && Batch->Totals().Failed > 0;
  return failed && ReadBool(Project->GetOption("FailExit"), false) ? kFailedDocumentsExit : 0;
}

}  // namespace kx
