#include "engine/convertor.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

#include "core/project.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

std::atomic<int32_t> RunningConvertors{0};

namespace {
std::mutex RegistryLock;
std::map<std::string, std::unique_ptr<TkxConvertorClass>>& Registry() {
  static std::map<std::string, std::unique_ptr<TkxConvertorClass>> r;
  return r;
}
// The chain a constructor on this thread is building, so that every member joins it.
thread_local std::shared_ptr<TkxChain>* BuildingChain = nullptr;
}  // namespace

const TkxConvertorClass* RegisterConvertorClass(
    const std::string& name, std::function<TkxConvertor*(TkxBatch*, const TkxNodeEvent&, int)> create) {
  std::lock_guard<std::mutex> g(RegistryLock);
  auto& slot = Registry()[name];
  if (!slot) slot = std::make_unique<TkxConvertorClass>();
  slot->Name = name;
  slot->Create = std::move(create);
  return slot.get();
}

const TkxConvertorClass* FindConvertorClass(const std::string& name) {
  std::lock_guard<std::mutex> g(RegistryLock);
  auto it = Registry().find(name);
  return it == Registry().end() ? nullptr : it->second.get();
}

void TkxChain::Add(TkxConvertor* c) {
  std::lock_guard<std::mutex> g(FLock);
  FMembers.push_back(c);
  ++FCreated;
}

void TkxChain::Gone() {
  std::lock_guard<std::mutex> g(FLock);
  ++FGone;
}

bool TkxChain::Ended() const {
  std::lock_guard<std::mutex> g(FLock);
  return FGone >= FCreated;
}

void TkxChain::Remove(TkxConvertor* c) {
  std::lock_guard<std::mutex> g(FLock);
  std::erase(FMembers, c);
}

void TkxChain::TerminateAll() {
  std::lock_guard<std::mutex> g(FLock);
  // From the end of the chain towards the head, as the chain is linked.
  for (auto it = FMembers.rbegin(); it != FMembers.rend(); ++it) (*it)->Terminate();
}

int TkxChain::Alive() const {
  std::lock_guard<std::mutex> g(FLock);
  return int(FMembers.size());
}

TkxConvertor* TkxConvertor::CreateChain(TkxBatch* batch, const std::string& target, const TkxNodeEvent& onNodeDone) {
  batch->TargetDir = TkxBatch::NormalizePath(target);
  int n = Project->ThreadsCount();
  const TkxConvertorClass* cls = Project->ConvertorClass;
  if (!cls || !cls->Create) throw std::runtime_error("No converter class is available");
  return cls->Create(batch, onNodeDone, n);
}

TkxConvertor::TkxConvertor(TkxBatch* batch, const TkxNodeEvent& onNodeDone, int threadsLeft)
    : TkxWorkBase(batch), OnNodeDone(onNodeDone), ThreadsLeft(threadsLeft) {
  bool head = BuildingChain == nullptr;
  FChain = head ? std::make_shared<TkxChain>() : *BuildingChain;
  FChain->Add(this);
  if (threadsLeft <= 1) return;
  const TkxConvertorClass* cls = Project ? Project->ConvertorClass : nullptr;
  if (!cls || !cls->Create) return;
  if (head) BuildingChain = &FChain;
  try {
    Next = cls->Create(batch, onNodeDone, threadsLeft - 1);
  } catch (...) {
    if (head) BuildingChain = nullptr;
    FChain->Remove(this);
    for (TkxConvertor* c = Next; c;) {  // never started: freeing them announces nothing
      TkxConvertor* n = c->Next;
      delete c;  // NOLINT(cppcoreguidelines-owning-memory): never started, so nobody else owns it
      c = n;
    }
    throw;
  }
  if (head) BuildingChain = nullptr;
}

TkxConvertor::~TkxConvertor() {
  if (!Started()) {
    FChain->Remove(this);
    FChain->Gone();
    return;
  }
  if (OnThreadEnd) {
    try {
      TThread::Synchronize(OnThreadEnd);
    } catch (...) {
      // The end must still be counted below, or the front end would wait forever.
    }
  }
  {
    std::lock_guard<TCriticalSection> g(Batch->ItemsLock());
    RunningConvertors.fetch_sub(1);
  }
  FChain->Gone();
}

void TkxConvertor::DoTerminate() { FChain->Remove(this); }

void TkxConvertor::ResumeAll() {
  // Collect first: a resumed converter may end and free itself at once.
  std::vector<TkxConvertor*> all;
  for (TkxConvertor* c = this; c; c = c->Next) all.push_back(c);
  for (TkxConvertor* c : all) c->Resume();
}

void TkxConvertor::SetOnFinishAll(const std::function<void()>& onThreadEnd) {
  for (TkxConvertor* c = this; c; c = c->Next) c->OnThreadEnd = onThreadEnd;
}

void TkxConvertor::ProcessNode() {
  try {
    ConvertFile(Batch, Node);
  } catch (const std::exception& e) {
    EndAsFailed(e.what());
  } catch (...) {
    EndAsFailed("Unexpected error while converting this document");
  }
  if (OnNodeDone) OnNodeDone(Batch, Node);
}

void TkxConvertor::EndAsFailed(const std::string& message) {
  Node->ResultText = message;
  if (Node->Status == TkxNode::Failure) return;  // counted already by the converter
  Node->Status = TkxNode::Failure;
  Batch->RecordFileFailure(message);
}

void TkxConvertor::ConvertFile(TkxBatch*, TkxNode*) {}
std::string TkxConvertor::MakeTargetName(const std::string& target) { return target; }
std::string TkxConvertor::GetServerExe() { return std::string(); }
bool TkxConvertor::HasMacros() { return true; }

namespace {

// `target` with `tag` before the extension of its name part.
std::string Tagged(const std::string& target, const std::string& tag) {
  return ChangeFileExt(target, "") + tag + ExtractFileExt(target);
}

// The tag of a document's k-th choice of name: none, then its own extension
// ("-docx"), then that with a number ("-docx-2", "-docx-3", ...).
std::string NamesakeTag(const std::string& sourceExt, int k) {
  if (k == 0) return std::string();
  if (sourceExt.empty()) return "-" + std::to_string(k + 1);
  return k == 1 ? "-" + sourceExt : "-" + sourceExt + "-" + std::to_string(k);
}

}  // namespace

std::string TkxConvertor::MakeTarget(TkxBatch* batch, TkxNode* node) {
  const std::string& file = node->FileName;
  // Each source item is a folder of its own: with several, the path below that one.
  std::string sourceDir = batch->SourceDirOf(*node), targetDir = batch->TargetDirOf(*node);
  if (targetDir.empty()) throw std::runtime_error("No Target folder is given for the pages of this document");
  std::string rel;
  if (Project->KeepTargetSubdirs() && !sourceDir.empty() && file.size() > sourceDir.size() &&
      file.compare(0, sourceDir.size(), sourceDir) == 0)
    rel = file.substr(sourceDir.size());
  else
    rel = ExtractFileName(file);
  rel = ReplaceAll(rel, ":", "_");  // '/' stays: it delimits the kept sub-folders
  std::string target = targetDir + rel;

  const std::string& out = Project->OutputExt;
  const std::string& alt = Project->AltOutputExt;
  const std::string& macro = Project->MacroOutputExt;
  if (!out.empty()) {
    if (alt.empty()) {
      target = ChangeFileExt(target, out);
    } else {
      std::string ext = ExtractFileExt(target);
      if (SameText(ext, alt) || SameText(ext, macro))
        target = ChangeFileExt(target, out);
      else
        target = ChangeFileExt(target, Project->MacroEnabled() && HasMacros() ? macro : alt);
    }
  }

  std::string folder = ExtractFilePath(target);
  if (!DirectoryExists(folder)) {
    try {
      ForceDirectories(folder);
    } catch (const std::exception&) {
      // Recorded below when the folder is still missing.
    }
    if (!DirectoryExists(folder)) batch->RecordFailure("CreateDir Failed: " + folder);
  }
  // Temporary files that a killed run left behind; once per folder and run.
  if (batch->FirstUseOf(folder)) SweepTempFiles(folder);
  FSourceNode = node;
  FSourceKnown = GetFileId(file, FSourceId);

  std::string sourceExt = ExtractFileExt(ExtractFileName(file));
  if (!sourceExt.empty()) sourceExt.erase(0, 1);
  TkxTargetTurn turn(*batch, *node);
  std::string own, result;
  for (int k = 0;; ++k) {
    own = Tagged(target, NamesakeTag(sourceExt, k));
    result = MakeTargetName(own);
    if (!turn.HeldByOther(result)) break;
  }
  // The item holds its own name even when it writes elsewhere, so that no later
  // namesake takes the files that belong to it.
  turn.Reserve(result);
  if (!FileExists(ExistingName(result))) return result;
  switch (Project->OverwriteMode()) {
    case TOverwriteMode::Overwrite: return result;
    case TOverwriteMode::Skip:
      node->Status = TkxNode::Success;
      batch->RecordSkip();
      return std::string();
    case TOverwriteMode::Rename: break;
  }
  // A renamed name is itself new: neither held in this run nor on disk already.
  for (int n = 1;; ++n) {
    std::string name = ExtractFileName(n == 1 ? own : Tagged(own, "-" + std::to_string(n)));
    std::string renamed = MakeTargetName(folder + "-" + Project->ShortName + "-" + name);
    if (turn.HeldByOther(renamed) || FileExists(ExistingName(renamed))) continue;
    turn.Reserve(renamed);
    return renamed;
  }
}

// Why the document is no longer the one MakeTarget saw; "" when it still is.
std::string TkxConvertor::SourceChange(const TkxNode* node) const {
  TkxFileId now;
  if (FSourceNode != node || !FSourceKnown || !GetFileId(node->FileName, now)) return "it is not there any more";
  if (!(now == FSourceId)) return "it changed while it was converted";
  return std::string();
}

std::string TkxConvertor::FinishSource(TkxBatch*, TkxNode* node, const std::string& target) {
  const std::string& doc = node->FileName;
  if (Project->KeepFileTime()) {
    TkxFileTimes t;
    // Times are a courtesy: a page that cannot take them is still a good page.
    if (GetFileTimes(doc, t))
      for (const std::string& file : WrittenFiles(target))
        if (FileExists(file)) SetFileTimes(file, t);
  }
  bool remove = Project->DeleteSource();
  std::string suffix = Project->RenameSource();
  if (!remove && suffix.empty()) return std::string();
  std::string change = SourceChange(node);
  if (!change.empty()) return "the document was left as it is: " + change;
  std::string note;
  if (remove) {
    if (DeleteFile(doc)) return std::string();  // nothing left to rename
    note = "the document was not deleted: " + std::string(std::strerror(errno));
  }
  if (!suffix.empty() && !RenameFile(doc, doc + suffix)) {
    if (!note.empty()) note += "; ";
    if (errno == EEXIST)
      note += "the document was not renamed: \"" + doc + suffix + "\" already exists";
    else
      note += "the document was not renamed: " + std::string(std::strerror(errno));
  }
  return note;
}

int32_t TkxFileUtils::FileDate(const std::string& path, bool utc) {
  timespec t{};
  if (path.empty() || !GetCreationTime(path, t)) return -1;
  return UnixToDosDateTime(t.tv_sec, utc);
}

std::string TkxFileUtils::ReadStringFromFile(const std::string& path) { return ReadWholeFile(path); }

void TkxFileUtils::WriteStringToFile(const std::string& path, const std::string& data) {
  std::string folder = ExtractFilePath(path);
  if (!folder.empty() && !DirectoryExists(folder)) {
    try {
      ForceDirectories(folder);
    } catch (const std::exception&) {
      // The write below fails in the missing folder and says why.
    }
  }
  WriteFileAtomic(path, data);
}

}  // namespace kx
