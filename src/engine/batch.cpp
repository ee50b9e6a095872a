#include "engine/batch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

#include "core/app.h"
#include "core/project.h"
#include "core/strlist.h"
#include "engine/match.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

const char* StatusWord(int status) {
  switch (status) {
    case TkxNode::Success: return "Success";
    case TkxNode::Failure: return "Failure";
    default: return "Running";
  }
}

bool IsOwnerFile(const std::string& name) {
  if (name.rfind("~$", 0) == 0) return true;
  return name.rfind(".~lock.", 0) == 0 && name.size() > 7 && name.back() == '#';
}

TkxBatch::TkxBatch() = default;

TkxBatch::~TkxBatch() {
  Terminate();
  if (Started()) WaitFor();
  Clear();
}

std::string TkxBatch::NormalizePath(const std::string& path) { return FileAddressToPath(path); }

void TkxBatch::Start(const std::string& source, const std::string& target, bool subdirs) {
  SourceDir = NormalizePath(source);
  TargetDir = NormalizePath(target);
  if (Project && Project->PathDelim == PathDelim && !DirectoryExists(TargetDir)) {
    if (TargetDir.empty()) throw std::runtime_error("Unable to create directory");
    try {
      ForceDirectories(TargetDir);
    } catch (...) {
      // Each converter reports the folder when it builds a target in it.
    }
  }
  Mask = ExtractFileName(SourceDir);
  SourceDir = ExtractFilePath(SourceDir);
  Subdirs = subdirs;
  if (Project)
    KeepSubdirs = Project->KeepTargetSubdirs();
  else
    KeepSubdirs.reset();
  if (!FSearchDone.load() && !Started()) Resume();
}

void TkxBatch::Execute() {
  try {
    RegExt = Project ? Project->GetOption("RegExt") : std::string();
    SkipHidden = ReadBool(Project ? Project->GetOption("SkipHidden") : std::string(), false);
    Shard = Project ? Project->Shard() : TkxShard();
    int allowed = faReadOnly | faHidden | faSysFile | faVolumeID | faArchive;
    if (SkipHidden) allowed &= ~faHidden;
    Search(SourceDir, Mask, Subdirs, allowed);
  } catch (const std::exception& e) {
    RecordFailure(std::string("The search ended early: ") + e.what());
  } catch (...) {
    RecordFailure("The search ended early");
  }
  FSearchDone.store(true);  // however the body ends, waiting converters must not wait forever
}

std::string TkxSearchProblem::Text() const {
  return "The folder " + Folder + " cannot be searched: " + std::strerror(Error);
}

void TkxBatch::Search(const std::string& folder, const std::string& mask, bool subdirs, int allowed) {
  // A folder that is not there has no documents to miss (a run checks its source's
  // folder before it starts); one that is there and cannot be read hides its
  // documents, and the run says so.
  auto listed = [&](int error) {
    if (error == 0 || error == ENOENT || error == ENOTDIR) return error == 0;
    RecordSearchProblem(folder, error);
    return false;
  };
  bool ok = listed(FindFiles(folder + mask, allowed, [&](const TkxFileEntry& e) {
    if (e.Name != "." && e.Name != ".." && (e.Attr & 63 & ~allowed) == 0 && !(SkipOwnerFiles && IsOwnerFile(e.Name)) &&
        InShard(folder + e.Name))
      AddFound(folder + e.Name);
    return !Terminated();
  }));
  if (!ok || Terminated() || !subdirs) return;
  listed(FindFiles(folder + "*.*", faDirectory, [&](const TkxFileEntry& e) {
    // The folder walk asks for folders only, so hidden folders are never searched.
    if (e.Name != "." && e.Name != ".." && (e.Attr & faDirectory))
      Search(folder + e.Name + PathDelim, mask, subdirs, allowed);
    return !Terminated();
  }));
}

void TkxBatch::RecordSearchProblem(const std::string& folder, int error) {
  TkxSearchProblem problem{folder, error};
  std::lock_guard<TCriticalSection> g(FItemsLock);
  FSearchProblems.push_back(problem);
  RecordFailure(problem.Text());
}

bool TkxBatch::InShard(const std::string& path) const {
  // By the path below the source folder, so machines that mount it elsewhere agree.
  return Shard.Takes(ShareKey(path));
}

std::string TkxBatch::RelativePath(const std::string& path) const {
  bool below =
      !SourceDir.empty() && path.size() > SourceDir.size() && path.compare(0, SourceDir.size(), SourceDir) == 0;
  return below ? path.substr(SourceDir.size()) : path;
}

bool TkxBatch::KeepsSubdirs() const {
  if (KeepSubdirs) return *KeepSubdirs;
  return Project ? Project->KeepTargetSubdirs() : true;
}

std::string TkxBatch::ShareKey(const std::string& path) const {
  std::string rel = RelativePath(path);
  bool kept = KeepsSubdirs() && !SourceDir.empty() && rel.size() < path.size();
  std::string folder = kept ? ExtractFilePath(rel) : std::string();
  return folder + ReplaceAll(ChangeFileExt(ExtractFileName(rel), ""), ":", "_");
}

std::vector<const TkxNode*> TkxBatch::Namesakes(const TkxNode& node) {
  if (!IsItem(&node)) return {&node};
  std::string key = ShareKey(node.FileName), folder = ExtractFilePath(node.FileName);
  bool kept = KeepsSubdirs() && !SourceDir.empty();  // read before the lock: never both locks at once
  for (;;) {
    {
      std::lock_guard<TCriticalSection> g(FItemsLock);
      // The search lists a folder's files before anything else of it: once it has
      // added an item of another folder, this one has no more.
      bool complete = FSearchDone.load() || (kept && folder != FLastFolder);
      if (complete) {
        std::vector<const TkxNode*> r;
        for (int32_t i : FNamesakes[key]) r.push_back(FItems[size_t(i)].get());
        auto rank = [this](const TkxNode* n) {
          std::string rel = RelativePath(n->FileName);
          return std::make_tuple(std::count(rel.begin(), rel.end(), '/'), rel, n->Index);
        };
        std::sort(r.begin(), r.end(), [&](const TkxNode* a, const TkxNode* b) { return rank(a) < rank(b); });
        return r;
      }
    }
    Sleep(2);
  }
}

bool TkxBatch::Accepts(const std::string& path) const {
  if (!Matcher) return true;
  if (!Matcher->Matches(path, MaskToRegex(Mask))) return false;
  if (!RegExt.empty() && !Matcher->Matches(path, RegExt)) return false;
  return true;
}

void TkxBatch::AddFound(const std::string& path) {
  if (!Accepts(path)) return;
  std::string key = ShareKey(path);
  TkxNode* node;
  {
    std::lock_guard<TCriticalSection> g(FItemsLock);
    FItems.push_back(std::make_unique<TkxNode>(int(FItems.size()), path));
    node = FItems.back().get();
    FNamesakes[key].push_back(node->Index);
    FLastFolder = ExtractFilePath(path);
  }
  Sleep(0);
  if (OnNodeAdded) OnNodeAdded(this, node);
}

void TkxBatch::AddFile(const std::string& path) {
  AddFound(path);
  FSearchDone.store(true);
}

TkxNode* TkxBatch::NextNode() {
  for (;;) {
    {
      std::lock_guard<TCriticalSection> g(FItemsLock);
      if (FNextIndex < int(FItems.size())) return HandOut();
    }
    // Read the flag after the list: an item added just before the search ended is never missed.
    if (FSearchDone.load()) {
      std::lock_guard<TCriticalSection> g(FItemsLock);
      if (FNextIndex < int(FItems.size())) return HandOut();
      FDrained.store(true);
      return nullptr;
    }
    Sleep(1);
  }
}

void TkxBatch::RecordFailure(const std::string& message) {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  ++FFailCount;
  for (const auto& e : FErrors)
    if (SameText(e, message)) return;
  FErrors.push_back(message);
}

void TkxBatch::RecordFileFailure(const std::string& message) {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  ++FFailedFiles;
  RecordFailure(message);
}

void TkxBatch::RecordSuccess(int pages) {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  ++FSuccessCount;
  FPageCount += pages;
}

void TkxBatch::RecordSkip() {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  ++FSkipCount;
}

TkxRunTotals TkxBatch::Totals() const {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  TkxRunTotals t;
  t.Found = int(FItems.size());
  t.Converted = FSuccessCount;
  t.Failed = FFailedFiles;
  t.Skipped = FSkipCount;
  t.Pages = FPageCount;
  t.SearchDone = FSearchDone.load();
  t.Current = FCurrent;
  return t;
}

TkxNode* TkxBatch::HandOut() {
  TkxNode* node = FItems[size_t(FNextIndex++)].get();
  FCurrent = node->FileName;
  return node;
}

int TkxBatch::ItemCount() const {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  return int(FItems.size());
}

TkxBatch::TItems& TkxBatch::LockItems() {
  FItemsLock.lock();
  return FItems;
}

void TkxBatch::UnlockItems() { FItemsLock.unlock(); }

int TkxBatch::SuccessCount() const {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  return FSuccessCount;
}

int TkxBatch::FailCount() const {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  return FFailCount;
}

std::vector<std::string> TkxBatch::Errors() const {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  return FErrors;
}

std::vector<TkxSearchProblem> TkxBatch::SearchProblems() const {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  return FSearchProblems;
}

int TkxBatch::NextIndex() const {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  return FNextIndex;
}

bool TkxBatch::IsItem(const TkxNode* node) const {
  std::lock_guard<TCriticalSection> g(FItemsLock);
  return node && node->Index >= 0 && size_t(node->Index) < FItems.size() && FItems[size_t(node->Index)].get() == node;
}

void TkxBatch::PassTurn(int32_t index) {
  if (index < FTurn) return;
  FPassedAhead.insert(index);
  while (!FPassedAhead.empty() && *FPassedAhead.begin() == FTurn) {
    FPassedAhead.erase(FPassedAhead.begin());
    ++FTurn;
  }
  FTurnChanged.notify_all();
}

void TkxBatch::ItemDone(const TkxNode* node) {
  if (!IsItem(node)) return;
  std::lock_guard<std::mutex> g(FTargetsLock);
  PassTurn(node->Index);
}

bool TkxBatch::FirstUseOf(const std::string& folder) {
  std::lock_guard<std::mutex> g(FTargetsLock);
  return FUsedFolders.insert(folder).second;
}

TkxTargetTurn::TkxTargetTurn(TkxBatch& batch, const TkxNode& node)
    : FBatch(batch), FNode(node), FInOrder(batch.IsItem(&node)), FLock(batch.FTargetsLock) {
  // Only items of this batch take turns; a node made elsewhere chooses at once.
  if (FInOrder) FBatch.FTurnChanged.wait(FLock, [this] { return FBatch.FTurn >= FNode.Index; });
}

TkxTargetTurn::~TkxTargetTurn() {
  if (FInOrder) FBatch.PassTurn(FNode.Index);
}

bool TkxTargetTurn::HeldByOtherThan(const std::string& target, int32_t index) const {
  auto it = FBatch.FTargets.find(target);
  return it != FBatch.FTargets.end() && it->second != index;
}

void TkxTargetTurn::ReserveFor(const std::string& target, int32_t index) { FBatch.FTargets.emplace(target, index); }

int TkxTargetTurn::Choice(const TkxNode& node) const {
  if (!FBatch.IsItem(&node)) return -1;
  auto it = FBatch.FChoices.find(node.Index);
  return it == FBatch.FChoices.end() ? -1 : it->second;
}

void TkxTargetTurn::SetChoice(const TkxNode& node, int choice) {
  if (FBatch.IsItem(&node)) FBatch.FChoices[node.Index] = choice;
}

void TkxBatch::Clear() {
  {
    std::lock_guard<std::mutex> g(FTargetsLock);
    FTurn = 0;
    FPassedAhead.clear();
    FTargets.clear();
    FChoices.clear();
    FUsedFolders.clear();
  }
  std::lock_guard<TCriticalSection> g(FItemsLock);
  FItems.clear();
  FNextIndex = FSuccessCount = FFailCount = FFailedFiles = FSkipCount = FPageCount = 0;
  FCurrent.clear();
  FSearchProblems.clear();
  FNamesakes.clear();
  FLastFolder.clear();
  FSearchDone.store(false);
  FDrained.store(false);
}

}  // namespace kx
