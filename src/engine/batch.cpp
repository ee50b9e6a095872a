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
  FSources = ReadSource(source, Project ? Project->SourceMask : std::string("*.doc?"));
  SetTargetDir(target);
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
  if (Project)
    KeepSubdirs = Project->KeepTargetSubdirs();
  else
    KeepSubdirs.reset();
  if (!FSearchDone.load() && !Started()) Resume();
}

void TkxBatch::SetTargetDir(const std::string& target) {
  std::string dir = NormalizePath(target);
  std::lock_guard<TCriticalSection> g(FItemsLock);
  if (dir != TargetDir) TargetDir = dir;
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
  return Shard.Takes(ShareKey(path, base));
}

namespace {
// The path below `base`, or the whole path when it is not below.
std::string Below(const std::string& path, const std::string& base) {
  bool below = !base.empty() && path.size() > base.size() && path.compare(0, base.size(), base) == 0;
  return below ? path.substr(base.size()) : path;
}
}  // namespace

std::string TkxBatch::RelativePath(const TkxNode& node) const { return Below(node.FileName, SourceDirOf(node)); }

bool TkxBatch::KeepsSubdirs() const {
  if (KeepSubdirs) return *KeepSubdirs;
  return Project ? Project->KeepTargetSubdirs() : true;
}

std::string TkxBatch::ShareKey(const std::string& path, const std::string& base) const {
  const std::string& from = base.empty() ? SourceDir : base;
  std::string rel = Below(path, from);
  bool kept = KeepsSubdirs() && !from.empty() && rel.size() < path.size();
  std::string folder = kept ? ExtractFilePath(rel) : std::string();
  return folder + ReplaceAll(ChangeFileExt(ExtractFileName(rel), ""), ":", "_");
}

std::string TkxBatch::NamesakeKey(const std::string& path, const std::string& base) const {
  // Pages beside each source item (no Target): namesakes only within one item's folder.
  bool beside;
  {
    std::lock_guard<TCriticalSection> g(FItemsLock);
    beside = TargetDir.empty();
  }
  return (beside ? base : std::string()) + '\0' + ShareKey(path, base);
}

std::vector<const TkxNode*> TkxBatch::Namesakes(const TkxNode& node) {
  if (!IsItem(&node)) return {&node};
  std::string key = NamesakeKey(node.FileName, node.BaseDir), folder = ExtractFilePath(node.FileName);
  bool kept = KeepsSubdirs() && !SourceDirOf(node).empty();  // read before the lock: never both locks at once
  for (;;) {
    {
      std::lock_guard<TCriticalSection> g(FItemsLock);
      // The search lists a folder's files before anything else of it: once it has
      // added an item of another folder, this one has no more.
      bool complete = FSearchDone.load() || (kept && folder != FLastFolder);
      if (complete) {
        std::vector<const TkxNode*> r;
        for (int32_t i : FNamesakes[key]) r.push_back(FItems[size_t(i)].get());
        if (std::find(r.begin(), r.end(), &node) == r.end()) r.push_back(&node);  // the target changed meanwhile
        auto rank = [this](const TkxNode* n) {
          std::string rel = RelativePath(*n);
          return std::make_tuple(std::count(rel.begin(), rel.end(), '/'), rel, n->Index);
        };
        std::sort(r.begin(), r.end(), [&](const TkxNode* a, const TkxNode* b) { return rank(a) < rank(b); });
        return r;
      }
    }
    Sleep(2);
  }
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
  std::string key = NamesakeKey(path, base);
  TkxNode* node;
  {
    std::lock_guard<TCriticalSection> g(FItemsLock);
    FItems.push_back(std::make_unique<TkxNode>(int(FItems.size()), path, base));
    node = FItems.back().get();
    FNamesakes[key].push_back(node->Index);
    FLastFolder = ExtractFilePath(path);
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
