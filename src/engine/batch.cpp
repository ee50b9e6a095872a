#include "engine/batch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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
  FSources = ReadSource(source, Project ? Project->SourceMask : std::string("*.doc?"));
  TargetDir = NormalizePath(target);
  if (Project && Project->PathDelim == PathDelim && !TargetDir.empty() && !DirectoryExists(TargetDir)) {
    try {
      ForceDirectories(TargetDir);
    } catch (...) {
      // Each converter reports the folder when it builds a target in it.
    }
  }
  // The first local item is the batch's source folder and mask, as a single one always was.
  SourceDir.clear();
  Mask.clear();
  for (const TkxSourceItem& item : FSources) {
    if (!item.Local()) continue;
    SourceDir = item.Folder;
    Mask = item.Name;
    break;
  }
  Subdirs = subdirs;
  if (!FSearchDone.load() && !Started()) Resume();
}

std::string TkxBatch::TargetDirOf(const TkxNode& node) const { return TargetDir.empty() ? node.BaseDir : TargetDir; }

std::string TkxBatch::SourceDirOf(const TkxNode& node) const { return node.BaseDir.empty() ? SourceDir : node.BaseDir; }

void TkxBatch::Execute() {
  try {
    RegExt = Project ? Project->GetOption("RegExt") : std::string();
    SkipHidden = ReadBool(Project ? Project->GetOption("SkipHidden") : std::string(), false);
    Shard = Project ? Project->Shard() : TkxShard();
    int allowed = faReadOnly | faHidden | faSysFile | faVolumeID | faArchive;
    if (SkipHidden) allowed &= ~faHidden;
    for (const TkxSourceItem& item : FSources) {
      if (Terminated()) break;
      switch (item.Kind) {
        case TkxSourceItem::skDocument:
          // Named exactly: the file itself, and with Subdirs its namesakes below.
          if (InShard(item.Path(), item.Folder)) AddFound(item.Path(), item.Folder);
          if (Subdirs) Search(item.Folder, TkxSearchWay{item.Name, true, item.Folder, true, allowed}, false);
          break;
        case TkxSourceItem::skFolder:
        case TkxSourceItem::skMask:
          Search(item.Folder, TkxSearchWay{item.Name, false, item.Folder, Subdirs, allowed});
          break;
        case TkxSourceItem::skWebAddress: AddFound(item.Name); break;
        default: break;  // said by the front end before the run
      }
    }
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

// Names in the order a person reads a folder: letter case aside, then by their bytes.
static bool NameBefore(const std::string& a, const std::string& b) {
  std::string la = LowerAscii(a), lb = LowerAscii(b);
  return la != lb ? la < lb : a < b;
}

void TkxBatch::Search(const std::string& folder, const TkxSearchWay& way, bool files) {
  // A folder that is not there has no documents to miss (a run checks its source's
  // folder before it starts); one that is there and cannot be read hides its
  // documents, and the run says so.
  auto listed = [&](int error) {
    if (error == 0 || error == ENOENT || error == ENOTDIR) return error == 0;
    RecordSearchProblem(folder, error);
    return false;
  };
  // Each list is read whole and taken in name order, the same on every file system.
  std::vector<std::string> names;
  bool ok =
      !files || listed(FindFiles(folder + (way.Literal ? "*" : way.Mask), way.Allowed, [&](const TkxFileEntry& e) {
        if (e.Name != "." && e.Name != ".." && (e.Attr & 63 & ~way.Allowed) == 0 &&
            !(SkipOwnerFiles && IsOwnerFile(e.Name)) && (!way.Literal || e.Name == way.Mask))
          names.push_back(e.Name);
        return !Terminated();
      }));
  std::sort(names.begin(), names.end(), NameBefore);
  for (const std::string& name : names) {
    if (Terminated()) return;
    if (InShard(folder + name, way.Base)) AddFound(folder + name, way.Base, way.Literal ? nullptr : &way.Mask);
  }
  if (!ok || Terminated() || !way.Subdirs) return;
  std::vector<std::string> folders;
  listed(FindFiles(folder + "*.*", faDirectory, [&](const TkxFileEntry& e) {
    // The folder walk asks for folders only, so hidden folders are never searched.
    if (e.Name != "." && e.Name != ".." && (e.Attr & faDirectory)) folders.push_back(e.Name);
    return !Terminated();
  }));
  std::sort(folders.begin(), folders.end(), NameBefore);
  for (const std::string& name : folders) {
    if (Terminated()) return;
    Search(folder + name + PathDelim, way);
  }
}

void TkxBatch::RecordSearchProblem(const std::string& folder, int error) {
  TkxSearchProblem problem{folder, error};
  std::lock_guard<TCriticalSection> g(FItemsLock);
  FSearchProblems.push_back(problem);
  RecordFailure(problem.Text());
}

bool TkxBatch::InShard(const std::string& path, const std::string& base) const {
  // By the path below the source folder, so machines that mount it elsewhere agree.
  const std::string& from = base.empty() ? SourceDir : base;
  return Shard.Takes(std::string_view(path).substr(path.rfind(from, 0) == 0 ? from.size() : 0));
}

bool TkxBatch::Accepts(const std::string& path) const { return Accepts(path, Mask); }

bool TkxBatch::Accepts(const std::string& path, const std::string& mask) const {
  if (!Matcher) return true;
  if (!Matcher->Matches(path, MaskToRegex(mask))) return false;
  if (!RegExt.empty() && !Matcher->Matches(path, RegExt)) return false;
  return true;
}

void TkxBatch::AddFound(const std::string& path, const std::string& base, const std::string* mask) {
  // A name given exactly is that file whatever it holds; RegExt still narrows a search.
  bool taken =
      mask ? Accepts(path, *mask) : base.empty() || RegExt.empty() || !Matcher || Matcher->Matches(path, RegExt);
  if (!taken) return;
  TkxNode* node;
  {
    std::lock_guard<TCriticalSection> g(FItemsLock);
    FItems.push_back(std::make_unique<TkxNode>(int(FItems.size()), path, base));
    node = FItems.back().get();
  }
  Sleep(0);
  if (OnNodeAdded) OnNodeAdded(this, node);
}

void TkxBatch::AddFile(const std::string& path) {
  AddFound(path, std::string(), &Mask);
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

bool TkxTargetTurn::HeldByOther(const std::string& target) const {
  auto it = FBatch.FTargets.find(target);
  return it != FBatch.FTargets.end() && it->second != FNode.Index;
}

void TkxTargetTurn::Reserve(const std::string& target) { FBatch.FTargets.emplace(target, FNode.Index); }

void TkxBatch::Clear() {
  {
    std::lock_guard<std::mutex> g(FTargetsLock);
    FTurn = 0;
    FPassedAhead.clear();
    FTargets.clear();
    FUsedFolders.clear();
  }
  std::lock_guard<TCriticalSection> g(FItemsLock);
  FItems.clear();
  FNextIndex = FSuccessCount = FFailCount = FFailedFiles = FSkipCount = FPageCount = 0;
  FCurrent.clear();
  FSearchProblems.clear();
  FSearchDone.store(false);
  FDrained.store(false);
}

}  // namespace kx
