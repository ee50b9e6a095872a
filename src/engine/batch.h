#pragma once
// The batch: file items of one run, filled by a search on its own thread or by
// hand, handed out one at a time to the converter threads.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/shard.h"
#include "platform/thread.h"

namespace kx {

class TkxNode {
 public:
  TkxNode(int index, std::string fileName) : Index(index), FileName(std::move(fileName)) {}
  int32_t Status = 0;  // 0 not finished, 1 converted or skipped, 2 failed
  const int32_t Index;
  const std::string FileName;
  std::string ResultText;
};

// "Success", "Failure" or "Running".
const char* StatusWord(int status);

// Where a run stands: one consistent snapshot of its counters.
struct TkxRunTotals {
  int Found = 0;      // documents listed so far
  int Converted = 0;  // documents whose pages were written
  int Failed = 0;     // documents that failed
  int Skipped = 0;    // documents left alone because their pages existed
  int Pages = 0;      // page files written by converted documents
  bool SearchDone = false;
  std::string Current;  // the document handed out last
  int Done() const { return Converted + Failed + Skipped; }
};

class TkxBatch;
using TkxNodeEvent = std::function<void(TkxBatch*, TkxNode*)>;

class TkxBatch : public TThread {
 public:
  using TItems = std::vector<std::unique_ptr<TkxNode>>;

  TkxBatch();
  // Stops and waits for the search, then frees the items. The owner must not free
  // a batch that converters may still use.
  ~TkxBatch() override;

  static std::string NormalizePath(const std::string& path);

  // Raises "Unable to create directory" for an empty target before anything starts.
  void Start(const std::string& source, const std::string& target, bool subdirs);
  void AddFile(const std::string& path);
  bool Accepts(const std::string& path) const;
  // Whether a found document is in this machine's share of the source folder.
  bool InShard(const std::string& path) const;

  // Converter side.
  TkxNode* NextNode();
  // A message for the error list; counts in FailCount, not as a failed document.
  void RecordFailure(const std::string& message);
  // A document that failed with `message`.
  void RecordFileFailure(const std::string& message);
  void RecordSuccess(int pages = 0);
  void RecordSkip();
  TkxRunTotals Totals() const;

  int ItemCount() const;
  TItems& LockItems();
  void UnlockItems();
  TCriticalSection& ItemsLock() { return FItemsLock; }

  bool Drained() const { return FDrained.load(); }
  bool SearchDone() const { return FSearchDone.load(); }
  int SuccessCount() const;
  int FailCount() const;
  std::vector<std::string> Errors() const;
  int NextIndex() const;

  TkxNodeEvent OnNodeAdded;
  std::string Mask;
  bool Subdirs = false;
  std::string SourceDir;
  std::string TargetDir;
  std::string RegExt;
  bool SkipHidden = false;
  TkxShard Shard;  // read with the other search options when the search starts

 protected:
  void Execute() override;

 private:
  void Search(const std::string& folder, const std::string& mask, bool subdirs, int allowed);
  void AddFound(const std::string& path);
  TkxNode* HandOut();  // the next item; under the items lock
  void Clear();

  mutable TCriticalSection FItemsLock;  // guards FItems, FNextIndex, the counters and FErrors
  TItems FItems;
  int32_t FNextIndex = 0;
  int32_t FSuccessCount = 0;
  int32_t FFailCount = 0;
  int32_t FFailedFiles = 0;
  int32_t FSkipCount = 0;
  int32_t FPageCount = 0;
  std::string FCurrent;
  std::vector<std::string> FErrors;
  std::atomic<bool> FSearchDone{false};
  std::atomic<bool> FDrained{false};
};

}  // namespace kx
