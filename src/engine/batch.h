#pragma once
// The batch: file items of one run, filled by a search on its own thread or by
// hand, handed out one at a time to the converter threads.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/shard.h"
#include "core/sourcelist.h"
#include "platform/thread.h"

namespace kx {

class TkxNode {
 public:
  // The values of Status; also the image index of the item's row.
  enum : int32_t {
    Running = 0,  // not finished
    Success = 1,  // converted, or skipped because its pages exist
    Failure = 2,  // failed: ResultText says why
  };

  TkxNode(int index, std::string fileName, std::string baseDir = std::string())
      : Index(index), FileName(std::move(fileName)), BaseDir(std::move(baseDir)) {}
  int32_t Status = Running;
  const int32_t Index;
  const std::string FileName;
  // The folder of the source item it was found by (with its '/'); "" for a web
  // address or a file added by hand. Its target keeps the path below it.
  const std::string BaseDir;
  std::string ResultText;
  // The page files' names as bytes, "*" in place of the page number; set with
  // Success when pages were written. ResultText shows names, this one finds them.
  std::string PagePattern;
  // What the converter did, for the machine-readable report.
  bool Skipped = false;            // left alone: its own pages were there
  std::vector<std::string> Pages;  // the page files it wrote
  double Seconds = 0;              // time spent on it
};

// "Success", "Failure" or "Running".
const char* StatusWord(int status);

// Names the search never takes as documents: the word processor's owner files
// ("~$...") and LibreOffice's lock files (".~lock....#").
bool IsOwnerFile(const std::string& name);

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

// A folder the search could not list, and why.
struct TkxSearchProblem {
  std::string Folder;
  int Error = 0;  // the errno
  // "The folder /in/locked/ cannot be searched: Permission denied"
  std::string Text() const;
};

class TkxBatch;
class TkxTargetTurn;
using TkxNodeEvent = std::function<void(TkxBatch*, TkxNode*)>;

class TkxBatch : public TThread {
 public:
  using TItems = std::vector<std::unique_ptr<TkxNode>>;

  TkxBatch();
  // Stops and waits for the search, then frees the items. The owner must not free
  // a batch that converters may still use.
  ~TkxBatch() override;

  static std::string NormalizePath(const std::string& path);

  // Searches what `source` names (a "Source" value: ReadSource) on the batch's thread.
  // An existing target folder is made; an empty target puts each document's pages
  // beside it (the folder of its source item).
  void Start(const std::string& source, const std::string& target, bool subdirs);
  // The items of the source given to Start.
  const std::vector<TkxSourceItem>& Sources() const { return FSources; }
  // The folder that receives an item's pages: TargetDir, or beside its source item.
  std::string TargetDirOf(const TkxNode& node) const;
  // Sets TargetDir while the search may be running: it keys namesakes by it.
  void SetTargetDir(const std::string& target);
  // The folder below which an item keeps its sub-folders: its source item's folder.
  std::string SourceDirOf(const TkxNode& node) const;
  void AddFile(const std::string& path);
  bool Accepts(const std::string& path) const;
  // Whether a found document is in this machine's share of its source folder `base`
  // (SourceDir when "").
  bool InShard(const std::string& path, const std::string& base = std::string()) const;
  // The key of a document's share: the folder below its source folder `base` (SourceDir
  // when "") when sub-folders are kept in the target, then the name without its
  // extension with each ':' as '_', as in its page names. The same on every machine,
  // wherever it mounts the source.
  std::string ShareKey(const std::string& path, const std::string& base = std::string()) const;
  // The path of an item below its source folder (its whole path when it is not below).
  std::string RelativePath(const TkxNode& node) const;
  // The namesakes of an item (itself included), the documents whose pages could be
  // named alike (the same share key and target folder), in name order: nearest the
  // source folder first, then by the path below it, byte by byte. Waits until no
  // more can be found: the search has ended or, with sub-folders kept, has left the
  // item's folder. A node that is not an item of the batch is its own only namesake.
  std::vector<const TkxNode*> Namesakes(const TkxNode& node);

  // Converter side.
  TkxNode* NextNode();
  // A message for the error list; counts in FailCount, not as a failed document.
  void RecordFailure(const std::string& message);
  // A document that failed with `message`.
  void RecordFileFailure(const std::string& message);
  void RecordSuccess(int pages = 0);
  void RecordSkip();
  TkxRunTotals Totals() const;

  // An item's processing has ended: its turn to choose a target is over, whether
  // it chose one or not. Items are handed out in index order and every one handed
  // out must end here; an item left out of a run must pass its turn too, or the
  // items after it wait for it.
  void ItemDone(const TkxNode* node);
  // True the first time `folder` is readied for writing in this batch.
  bool FirstUseOf(const std::string& folder);

  int ItemCount() const;
  TItems& LockItems();
  void UnlockItems();
  TCriticalSection& ItemsLock() { return FItemsLock; }

  bool Drained() const { return FDrained.load(); }
  bool SearchDone() const { return FSearchDone.load(); }
  int SuccessCount() const;
  int FailCount() const;
  std::vector<std::string> Errors() const;
  // Folders that exist but could not be listed, in the order the search met them;
  // each is in Errors() as well. Their documents are missing from the items.
  std::vector<TkxSearchProblem> SearchProblems() const;
  int NextIndex() const;

  TkxNodeEvent OnNodeAdded;
  std::string Mask;
  bool Subdirs = false;
  std::string SourceDir;
  std::string TargetDir;
  std::string RegExt;
  bool SkipHidden = false;
  TkxShard Shard;  // read with the other search options when the search starts
  // Whether targets keep the folders below the source folder; read when the search
  // starts, so that shares and namesakes agree with the targets of the whole run
  // (a batch never started reads the option).
  std::optional<bool> KeepSubdirs;
  bool KeepsSubdirs() const;

 protected:
  void Execute() override;

 private:
  // How one source item is searched.
  struct TkxSearchWay {
    std::string Mask;
    bool Literal = false;  // the mask is a name, taken exactly, not as a pattern
    std::string Base;      // the item's folder
    bool Subdirs = false;
    int Allowed = 0;  // the attributes a found file may have
  };
  // Without `files` only the sub-folders are searched.
  void Search(const std::string& folder, const TkxSearchWay& way, bool files = true);
  // Adds `path` found below `base` when the mask (null: a name given exactly) and
  // RegExt take it.
  void AddFound(const std::string& path, const std::string& base = std::string(), const std::string* mask = nullptr);
  bool Accepts(const std::string& path, const std::string& mask) const;
  void RecordSearchProblem(const std::string& folder, int error);
  TkxNode* HandOut();  // the next item; under the items lock
  void Clear();
  bool IsItem(const TkxNode* node) const;
  void PassTurn(int32_t index);  // under FTargetsLock
  // The group of an item's namesakes: its share key, and its source folder when
  // pages go beside each source item.
  std::string NamesakeKey(const std::string& path, const std::string& base) const;

  friend class TkxTargetTurn;

  std::vector<TkxSourceItem> FSources;  // written before the thread starts
  mutable TCriticalSection FItemsLock;  // guards FItems, FNextIndex, the counters, FErrors and TargetDir's changes
  TItems FItems;
  int32_t FNextIndex = 0;
  int32_t FSuccessCount = 0;
  int32_t FFailCount = 0;
  int32_t FFailedFiles = 0;
  int32_t FSkipCount = 0;
  int32_t FPageCount = 0;
  std::string FCurrent;
  std::vector<std::string> FErrors;
  std::vector<TkxSearchProblem> FSearchProblems;
  std::map<std::string, std::vector<int32_t>> FNamesakes;  // share key -> items
  std::string FLastFolder;                                 // of the item added last
  std::atomic<bool> FSearchDone{false};
  std::atomic<bool> FDrained{false};

  // Targets of the run. The items lock may be taken while this one is held, never
  // the other way round.
  std::mutex FTargetsLock;
  std::condition_variable FTurnChanged;
  int32_t FTurn = 0;                        // every item below it has chosen its target
  std::set<int32_t> FPassedAhead;           // items above FTurn that have chosen
  std::map<std::string, int32_t> FTargets;  // target -> the item that holds it
  std::map<int32_t, int> FChoices;          // item -> its choice among its names
  std::set<std::string> FUsedFolders;
};

// One item's choice of its target. Items choose one at a time in item order: the
// turn waits until every earlier item of the batch has chosen or is done, so the
// names a folder gets never depend on which converter thread is faster. While the
// turn lasts it holds the batch's targets lock, so the test for an existing file
// and the reservation of a name are one step.
class TkxTargetTurn {
 public:
  TkxTargetTurn(TkxBatch& batch, const TkxNode& node);
  ~TkxTargetTurn();  // the item has chosen: the next one may
  TkxTargetTurn(const TkxTargetTurn&) = delete;
  TkxTargetTurn& operator=(const TkxTargetTurn&) = delete;

  // True when another item of the run holds `target`.
  bool HeldByOther(const std::string& target) const { return HeldByOtherThan(target, FNode.Index); }
  bool HeldByOtherThan(const std::string& target, int32_t index) const;
  void Reserve(const std::string& target) { ReserveFor(target, FNode.Index); }
  void ReserveFor(const std::string& target, int32_t index);
  // The choice of name made for an item when its namesakes were named together
  // (-1: none yet); only items of the batch keep one.
  int Choice(const TkxNode& node) const;
  void SetChoice(const TkxNode& node, int choice);

 private:
  TkxBatch& FBatch;
  const TkxNode& FNode;
  bool FInOrder;
  std::unique_lock<std::mutex> FLock;
};

}  // namespace kx
