#include "engine/convertor.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
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
  batch->SetTargetDir(target);
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
  auto started = std::chrono::steady_clock::now();
  try {
    ConvertFile(Batch, Node);
  } catch (const std::exception& e) {
    EndAsFailed(e.what());
  } catch (...) {
    EndAsFailed("Unexpected error while converting this document");
  }
  // The pages are in place (or the document failed): the name is free for others.
  FClaim.Release();
  if (Node->Status == TkxNode::Success && !Node->Skipped)
    for (std::string& f : WrittenFiles(std::string()))
      if (!f.empty()) Node->Pages.push_back(std::move(f));
  Node->Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
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

// The extension of a document's name, without its dot.
std::string SourceExt(const std::string& file) {
  std::string ext = ExtractFileExt(ExtractFileName(file));
  return ext.empty() ? ext : ext.substr(1);
}

// Enough choices for any folder: a name is free long before.
constexpr int kMaxChoices = 100000;

// "2024-05-01 10:31" in local time.
std::string ShortTime(time_t t) {
  std::tm tm{};
  char text[32] = "";
  if (localtime_r(&t, &tm)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
  return text;
}

}  // namespace

std::string SourceRecord(const std::string& relativePath) {
  std::string r;
  const auto* p = reinterpret_cast<const unsigned char*>(relativePath.data());
  size_t n = relativePath.size();
  auto hex = [&r](unsigned c) {
    static const char kHex[] = "0123456789ABCDEF";
    r += "\\x";
    r.push_back(kHex[c >> 4]);
    r.push_back(kHex[c & 15]);
  };
  for (size_t i = 0; i < n;) {
    unsigned c = p[i];
    if (c == '\\') {
      r += "\\\\";
      ++i;
      continue;
    }
    if (c < 0x20 || c == 0x7F) {
      hex(c);
      ++i;
      continue;
    }
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool valid = len > 0 && i + len <= n;
    for (size_t k = 1; valid && k < len; ++k) valid = (p[i + k] & 0xC0) == 0x80;
    if (valid && len > 1) {
      // No overlong forms, surrogates or code points past U+10FFFF.
      uint32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
      for (size_t k = 1; k < len; ++k) cp = cp << 6 | (p[i + k] & 0x3F);
      valid = (len == 2 && cp >= 0x80) || (len == 3 && cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) ||
              (len == 4 && cp >= 0x10000 && cp <= 0x10FFFF);
    }
    if (!valid) {
      hex(c);
      ++i;
      continue;
    }
    r.append(relativePath, i, len);
    i += len;
  }
  return r;
}

std::string TkxConvertor::ChoiceName(const std::string& target, const std::string& file, int k) {
  return MakeTargetName(Tagged(target, NamesakeTag(SourceExt(file), k)));
}

bool TkxConvertor::PagesOfAnother(const std::string& name, const std::string& record, std::string* recorded) {
  std::string existing = ExistingName(name);
  if (!FileExists(existing)) return false;
  std::string r = RecordedSource(existing);
  if (recorded) *recorded = r;
  // Pages that record no document (written before pages did) count as the pages of
  // whichever document the names give them to.
  return !r.empty() && r != record;
}

int TkxConvertor::NameNamesakes(TkxBatch* batch, TkxTargetTurn& turn, const std::vector<const TkxNode*>& namesakes,
                                const std::string& target, const TkxNode* node) {
  std::map<const TkxNode*, int> chosen;
  std::set<std::string> taken;
  // A document whose own pages are in the target keeps their name.
  for (const TkxNode* m : namesakes) {
    std::string record = SourceRecord(batch->RelativePath(*m));
    for (int k = 0; k < 1000; ++k) {
      std::string name = ChoiceName(target, m->FileName, k);
      if (!FileExists(ExistingName(name))) {
        if (k > int(namesakes.size()) + 2) break;  // past the names a folder of these namesakes can have
        continue;
      }
      std::string recorded;
      PagesOfAnother(name, record, &recorded);
      if (recorded == record && !taken.count(name) && !turn.HeldByOtherThan(name, m->Index)) {
        chosen[m] = k;
        taken.insert(name);
        break;
      }
    }
  }
  // The others, in name order, take the first of their names that no namesake has,
  // no other document of the run holds, and that holds no other document's pages.
  for (const TkxNode* m : namesakes) {
    if (chosen.count(m)) continue;
    std::string record = SourceRecord(batch->RelativePath(*m));
    for (int k = 0; k < kMaxChoices; ++k) {
      std::string name = ChoiceName(target, m->FileName, k);
      if (taken.count(name) || turn.HeldByOtherThan(name, m->Index) || PagesOfAnother(name, record)) continue;
      chosen[m] = k;
      taken.insert(name);
      break;
    }
  }
  for (const auto& [m, k] : chosen) {
    turn.ReserveFor(ChoiceName(target, m->FileName, k), m->Index);
    turn.SetChoice(*m, k);
  }
  auto it = chosen.find(node);
  return it == chosen.end() ? 0 : it->second;
}

std::string TkxConvertor::TargetOf(TkxBatch* batch, const TkxNode& node) {
  const std::string& file = node.FileName;
  // Each source item is a folder of its own: with several, the path below that one.
  std::string sourceDir = batch->SourceDirOf(node), targetDir = batch->TargetDirOf(node);
  if (targetDir.empty()) throw std::runtime_error("No Target folder is given for the pages of this document");
  std::string rel;
  if (batch->KeepsSubdirs() && !sourceDir.empty() && file.size() > sourceDir.size() &&
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
    std::string why;
    try {
      ForceDirectories(folder);
    } catch (const std::exception& e) {
      why = e.what();
    }
    if (!DirectoryExists(folder)) {
      // The message is the same for every document of the folder: recorded once.
      size_t cause = why.rfind("\". ");
      batch->RecordFailure("CreateDir Failed: " + DisplayPath(folder) +
                           (cause == std::string::npos ? std::string() : ": " + why.substr(cause + 3)));
    }
  }
  return target;
}

std::string TkxConvertor::MakeTarget(TkxBatch* batch, TkxNode* node) {
  FClaim.Release();
  const std::string& file = node->FileName;
  std::string target = TargetOf(batch, *node);
  std::string folder = ExtractFilePath(target);
  // Temporary files and claims that killed runs left behind; once per folder and run.
  if (batch->FirstUseOf(folder)) SweepTempFiles(folder);
  FSourceNode = node;
  FSourceKnown = GetFileId(file, FSourceId);
  FRecord = SourceRecord(batch->RelativePath(*node));

  // Namesakes are named together, by their own paths only: before the turn, since
  // finding them all may wait for the search.
  std::vector<const TkxNode*> namesakes = batch->Namesakes(*node);
  TkxTargetTurn turn(*batch, *node);
  int chosen = turn.Choice(*node);
  if (chosen < 0) chosen = NameNamesakes(batch, turn, namesakes, target, node);
  TOverwriteMode mode = Project->OverwriteMode();
  // A folder that is not there takes no claim; writing into it fails and says why.
  bool claims = DirectoryExists(folder);
  // The chosen name first; when another run holds it, or another document's pages
  // came there meanwhile, the next of the document's names.
  for (int k = chosen; k < kMaxChoices; ++k) {
    std::string name = ChoiceName(target, file, k);
    if (k != chosen && (turn.HeldByOther(name) || PagesOfAnother(name, FRecord))) continue;
    TkxClaimOwner holder;
    bool inUse = false;  // by this document: its pages are there, or another run writes them now
    if (claims && !TakeClaim(folder, name, &holder)) {
      if (holder.Source != FRecord) continue;  // another document's name
      if (mode != TOverwriteMode::Rename) {
        // The same document, converted by another run into the same name right now.
        node->Status = TkxNode::Success;
        node->Skipped = true;
        node->ResultText = "left alone: another run converts it now (host " +
                           holder.Host.substr(0, holder.Host.find('~')) + ", process " + std::to_string(holder.Pid) +
                           ", since " + ShortTime(holder.Since) + "; if that run has ended, remove " + holder.File +
                           ")";
        batch->RecordSkip();
        return std::string();
      }
      inUse = true;
    } else if (PagesOfAnother(name, FRecord)) {
      FClaim.Release();
      continue;
    }
    // The item holds its own name even when it writes elsewhere, so that no later
    // namesake takes the files that belong to it.
    turn.Reserve(name);
    if (!inUse && !FileExists(ExistingName(name))) return name;
    switch (mode) {
      case TOverwriteMode::Overwrite: return name;
      case TOverwriteMode::Skip:
        FClaim.Release();
        node->Status = TkxNode::Success;
        node->Skipped = true;
        batch->RecordSkip();
        return std::string();
      case TOverwriteMode::Rename: break;
    }
    FClaim.Release();
    // A renamed name is itself new: neither held in this run, nor claimed by another
    // run, nor on disk already.
    std::string own = Tagged(target, NamesakeTag(SourceExt(file), k));
    for (int n = 1; n < kMaxChoices; ++n) {
      std::string base = ExtractFileName(n == 1 ? own : Tagged(own, "-" + std::to_string(n)));
      std::string renamed = MakeTargetName(folder + "-" + Project->ShortName + "-" + base);
      if (turn.HeldByOther(renamed) || FileExists(ExistingName(renamed))) continue;
      if (claims && !TakeClaim(folder, renamed, nullptr)) continue;
      if (FileExists(ExistingName(renamed))) {
        FClaim.Release();
        continue;
      }
      turn.Reserve(renamed);
      return renamed;
    }
    break;
  }
  throw std::runtime_error("No free name is left for the pages of this document in " + folder);
}

bool TkxConvertor::TakeClaim(const std::string& folder, const std::string& name, TkxClaimOwner* holder) {
  try {
    return FClaim.Take(folder, ExtractFileName(name), FRecord, holder, ExistingName(name));
  } catch (const std::exception&) {
    // Nothing can be made in the folder (full, not writable): neither can the pages,
    // whose writing then fails the document with the reason.
    return true;
  }
}

void TkxConvertor::CheckClaim() const {
  if (FClaim.Held() && !FClaim.StillOurs())
    throw std::runtime_error(
        "Another run took the name of this document's pages meanwhile; they were not put in place");
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
