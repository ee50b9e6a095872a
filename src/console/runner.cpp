#include "console/runner.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
#include "platform/safepath.h"
#include "platform/signals.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "platform/trace.h"

namespace kx {

TkxConsoleRunner* Runner = nullptr;

TkxConsoleRunner::TkxConsoleRunner() = default;
TkxConsoleRunner::~TkxConsoleRunner() = default;

std::string RunLogLine(int status, const std::string& fileName, const std::string& resultText) {
  return std::string(StatusWord(status)) + " => " + fileName + " => " + resultText;
}

ERunRefused::ERunRefused(const std::vector<std::string>& lines)
    : std::runtime_error(lines.empty() ? std::string() : lines.front()), Lines(lines) {}

void TkxConsoleRunner::CheckBeforeRun(std::vector<TkxSourceItem>& items, std::string& target) {
  std::vector<std::string> refused = OptionRefusals(Project->SettingsCopy());
  // n machines with an unreadable share would each convert the whole folder.
  std::string shard = Project->GetOption("Shard"), why;
  TkxShard share;
  if (!TkxShard::Parse(shard, share, &why)) refused.push_back(why);
  FSource = Project->Source();
  items = ReadSource(FSource, Project->SourceMask);
  if (items.empty()) refused.push_back("the option \"Source\" is empty: there is nothing to convert");
  for (const std::string& p : SourceItemProblems(items, Project->Subdir())) refused.push_back(p);
  bool web = std::any_of(items.begin(), items.end(),
                         [](const TkxSourceItem& i) { return i.Kind == TkxSourceItem::skWebAddress; });
  std::string given = Project->Target();
  std::string folder = FileAddressToPath(given);
  if (!given.empty() && folder.empty()) refused.push_back("the option \"Target\" (" + given + ") names no folder");
  if (given.empty() && web)
    refused.push_back("the option \"Target\" is empty: the pages of a document from a web address need a folder");
  // A mistyped source is said before its folder (the default target) is made.
  if (!refused.empty()) throw ERunRefused(refused);

  // Where the pages go: made now, or refused with the system's reason.
  std::vector<std::string> folders;
  if (!folder.empty()) {
    folders.push_back(AbsolutePath(folder, CurrentDir()));
  } else {
    for (const TkxSourceItem& i : items)  // beside each document
      if (i.Local() && std::find(folders.begin(), folders.end(), i.Folder) == folders.end())
        folders.push_back(i.Folder);
  }
  for (const std::string& f : folders) {
    std::string problem = PlantedLinkOn(f);
    if (!problem.empty()) throw ERunRefused({"the target folder cannot be reached: " + problem});
    problem = MakeFolders(f);
    if (!problem.empty()) throw ERunRefused({"CreateDir Failed: " + problem});
    if (access(f.c_str(), W_OK | X_OK) != 0)
      throw ERunRefused({"the target folder " + DisplayPath(IncludeTrailingPathDelimiter(f)) + " cannot be written (" +
                         std::strerror(errno) + ")"});
  }
  target = folder.empty() ? std::string() : Project->TargetFolder();

  // The log is open before the first document, so that hours of work never end in
  // a log that cannot be written.
  FLogFile = Project->GetOption("LogFile");
  if (!FLogFile.empty()) {
    std::string problem = LogFileProblem(FLogFile);
    if (problem.empty()) {
      FLog = OpenForWriting(FLogFile, problem);
      if (!FLog) problem = "LogFile " + DisplayPath(FLogFile) + " cannot be written: " + problem;
    }
    if (!problem.empty()) throw ERunRefused({problem});
  }
  FJsonFile = Project->GetOption("JsonLog");
  std::string problem = LogFileProblem(FJsonFile, "JsonLog", "the JSON report");
  if (!problem.empty()) throw ERunRefused({problem});
}

void TkxConsoleRunner::Run() {
  Log.Clear();
  FLog.Reset();
  FLogError = 0;
  Batch = std::make_unique<TkxBatch>();
  if (!Report) Report = std::make_unique<TkxConsoleReport>(TkxConsoleReport::ForStandardError(Project->Title));
  bool subdir = Project->Subdir();
  // First what would do nothing: a mistyped "Target" key explains an empty Target.
  for (const std::string& w : OptionWarnings(Project->SettingsCopy()))
    if (!StartsText("Shard=", w)) Report->Warning(w);  // refused below instead
  std::vector<TkxSourceItem> items;
  std::string target;
  CheckBeforeRun(items, target);
  FSourceWarned = false;
  auto started = std::chrono::steady_clock::now();
  Batch->Start(FSource, target, subdir);
  Convertor = TkxConvertor::CreateChain(Batch.get(), target, [this](TkxBatch* b, TkxNode* n) { OnItemDone(b, n); });
  Chain = Convertor->Chain();
  int count = 0;
  for (TkxConvertor* c = Convertor; c; c = c->Next) ++count;
  if (TraceOn())
    Trace("run: source " + DisplayPath(FSource) + ", target " +
          (target.empty() ? std::string("beside each document") : DisplayPath(target)) + ", " + std::to_string(count) +
          " converter thread(s)");
  RunningConvertors.store(count);
  Convertor->ResumeAll();
  Convertor = nullptr;  // the converters free themselves from here on
  CountRunStart();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
  FInterrupted = false;
  FSearchCut = false;
  while (RunningConvertors.load() > 0) {
    Sleep(100);
    if (!FInterrupted && InterruptSignal()) {
      // As Stop does: the search ends, every converter ends after its document in hand.
      FInterrupted = true;
      FSearchCut = !Batch->SearchDone();
      Trace("run: interrupted by signal " + std::to_string(InterruptSignal()) +
            "; the converters end after their documents in hand");
      Batch->Terminate();
      Chain->TerminateAll();
    }
    if (Report->ShowsProgress()) Report->Progress(Batch->Totals(), elapsed());
  }
  FSeconds = elapsed();
  Finish();
}

void TkxConsoleRunner::WriteLogLine(const std::string& line) {
  if (!FLog || FLogError) return;
  std::string bytes = line + "\r\n";
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(FLog.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FLogError = n < 0 ? errno : EIO;
      return;
    }
    done += size_t(n);
  }
}

void TkxConsoleRunner::OnItemDone(TkxBatch* batch, TkxNode* node) {
  std::string line = RunLogLine(node->Status, DisplayPath(node->FileName), node->ResultText);
  std::lock_guard<TCriticalSection> g(batch->ItemsLock());
  Log.Add(line);
  WriteLogLine(line);
}

void TkxConsoleRunner::Finish() {
  ReportRunEnd(*Batch);
  // The documents an interrupted run did not reach are in the log too, so that the
  // log names every document the run was given.
  std::vector<std::string> notReached;
  for (const auto& node : Batch->LockItems()) {
    if (!FInterrupted || node->Status != TkxNode::Running) continue;
    notReached.push_back(DisplayPath(node->FileName));
    std::string line = RunLogLine(node->Status, notReached.back(), kNotReached);
    Log.Add(line);
    WriteLogLine(line);
  }
  Batch->UnlockItems();
  if (Report) {
    TkxRunTotals totals = Batch->Totals();
    std::vector<TkxSearchProblem> unread = Batch->SearchProblems();
    for (const TkxSearchProblem& p : unread)
      Report->Warning("the folder " + DisplayPath(p.Folder) + " cannot be searched (" + std::strerror(p.Error) +
                      "): its documents were left out");
    // With a folder that could not be read, "no document matches" would tell too little.
    if (totals.Found == 0 && !FSourceWarned && unread.empty() && !Batch->Terminated()) {
      TkxShard share = Project->Shard();
      std::string searched;
      for (const TkxSourceItem& i : Batch->Sources())
        searched += (searched.empty() ? "" : " ") + DisplayPath(i.Local() ? i.Path() : i.Given);
      Report->Warning(
          "no document matches " + searched +
          (share.All() ? "" : " in share " + std::to_string(share.Index()) + "/" + std::to_string(share.Count())) +
          (Project->Subdir() ? "" : "; Subdir=1 also searches its sub-folders"));
    }
    std::vector<TkxFailure> failed;
    for (const auto& node : Batch->LockItems())
      if (node->Status == TkxNode::Failure) failed.emplace_back(DisplayPath(node->FileName), node->ResultText);
    Batch->UnlockItems();
    for (const std::string& line : FailureLines(failed, FLogFile)) Report->Say(line);
    for (const std::string& line : NotReachedLines(notReached, FLogFile)) Report->Say(line);
    Report->Say(RunSummaryLine(Project->Title, totals, FSeconds, FInterrupted, FSearchCut));
  }
  // The report for machines, also when the run log failed: it is the other record of the run.
  if (!FJsonFile.empty()) WriteFileAtomic(FJsonFile, JsonReportLines(*Batch));
  if (FLog) {
    int closed = FLog.Close();
    if (!FLogError) FLogError = closed;
  }
  if (FLogError)
    throw std::runtime_error("The run log " + DisplayPath(FLogFile) +
                             " could not be written: " + std::strerror(FLogError));
}

int TkxConsoleRunner::ExitCode() const {
  bool failed = Batch && Batch->Totals().Failed > 0;
  return failed && ReadBool(Project->GetOption("FailExit"), false) ? kFailedDocumentsExit : 0;
}

}  // namespace kx
