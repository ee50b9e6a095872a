#pragma once
// The converter base: the chain of converter threads of a run, the per-item
// dispatch, the target-path rules and the handling of documents afterwards.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/workbase.h"
#include "platform/files.h"

namespace kx {

class TkxConvertor;

// A converter class reference: the virtual constructor of one converter class.
struct TkxConvertorClass {
  std::string Name;
  std::function<TkxConvertor*(TkxBatch*, const TkxNodeEvent&, int threadsLeft)> Create;
};

// Registers a class under its name (replacing one of the same name); the returned
// reference stays valid for the whole process.
const TkxConvertorClass* RegisterConvertorClass(
    const std::string& name, std::function<TkxConvertor*(TkxBatch*, const TkxNodeEvent&, int)> create);
const TkxConvertorClass* FindConvertorClass(const std::string& name);

// Converter threads of the current run not yet ended; changed only under the
// batch's items lock.
extern std::atomic<int32_t> RunningConvertors;

// The members of one chain that have not ended yet. Front ends keep it to ask the
// whole chain to stop without ever touching a converter that has freed itself.
class TkxChain {
 public:
  void TerminateAll();
  int Alive() const;
  // True once every member has been freed: nothing of the chain touches its batch any more.
  bool Ended() const;

 private:
  friend class TkxConvertor;
  void Add(TkxConvertor* c);
  void Remove(TkxConvertor* c);
  void Gone();
  mutable std::mutex FLock;
  std::vector<TkxConvertor*> FMembers;
  int FCreated = 0;
  int FGone = 0;
};

class TkxConvertor : public TkxWorkBase {
 public:
  // Builds the chain of "ThreadsCount" converters of the project's converter class,
  // all suspended; the batch's TargetDir becomes the normalised target.
  static TkxConvertor* CreateChain(TkxBatch* batch, const std::string& target, const TkxNodeEvent& onNodeDone);

  TkxConvertor(TkxBatch* batch, const TkxNodeEvent& onNodeDone, int threadsLeft);
  ~TkxConvertor() override;

  // Call on the head before it can have ended (right after CreateChain).
  void ResumeAll();
  void SetOnFinishAll(const std::function<void()>& onThreadEnd);
  void TerminateAll() { FChain->TerminateAll(); }
  std::shared_ptr<TkxChain> Chain() const { return FChain; }

  TkxNodeEvent OnNodeDone;
  std::function<void()> OnThreadEnd;
  TkxConvertor* Next = nullptr;
  const int32_t ThreadsLeft;

  virtual void ConvertFile(TkxBatch* batch, TkxNode* node);
  virtual std::string MakeTargetName(const std::string& target);
  virtual std::string GetServerExe();
  virtual bool HasMacros();

  // Target path of an item; empty when the item is skipped. Every target of a run
  // belongs to one item, and the name is claimed in the target folder against other
  // runs until the item has ended. Namesakes (documents whose pages could be named
  // alike) are named together, in name order (TkxBatch::Namesakes): the first keeps
  // the plain name, the others get their extension in it ("report.docx" gives
  // "report-docx"), then a number; a document whose own pages are in the target keeps
  // their name, and pages that record another document are never taken.
  std::string MakeTarget(TkxBatch* batch, TkxNode* node);
  // File times, deleting or renaming the document after its conversion. Only the
  // file that MakeTarget saw is touched, and a renamed document never replaces a
  // file. Returns why the document was left as it is, "" when all was done.
  std::string FinishSource(TkxBatch* batch, TkxNode* node, const std::string& target);

 protected:
  // The file whose existence the overwrite rule looks at, for a target.
  virtual std::string ExistingName(const std::string& target) { return target; }
  // The files written for a target, which receive the document's times.
  virtual std::vector<std::string> WrittenFiles(const std::string& target) { return {target}; }
  // The document an existing page file records (SourceRecord), "" when it records none.
  virtual std::string RecordedSource(const std::string&) { return std::string(); }
  // What the pages of the item MakeTarget saw record as their document.
  const std::string& PageSource() const { return FRecord; }
  // Raises when another run cleared this item's claim (proving it gone) meanwhile:
  // its pages must not be put in place.
  void CheckClaim() const;

  // Converts the item; an error that escapes ConvertFile ends it as failed with the
  // error's message. The front end hears of the item either way.
  void ProcessNode() override;
  void DoTerminate() override;

 private:
  void EndAsFailed(const std::string& message);
  std::string SourceChange(const TkxNode* node) const;
  // The target path of a document before names are chosen (sub-folders, extension);
  // its folder is made, or "CreateDir Failed" recorded with the reason.
  std::string TargetOf(TkxBatch* batch, const TkxNode& node);
  // The k-th name a document may take for a target (its page pattern).
  std::string ChoiceName(const std::string& target, const std::string& file, int k);
  // Whether pages of another document (by what they record) are under `name`.
  bool PagesOfAnother(const std::string& name, const std::string& record, std::string* recorded = nullptr);
  // Claims a name for the item; true also when no claim can be made there at all.
  bool TakeClaim(const std::string& folder, const std::string& name, TkxClaimOwner* holder);
  // Names every namesake of a folder at once and returns the choice of `node`.
  int NameNamesakes(TkxBatch* batch, TkxTargetTurn& turn, const std::vector<const TkxNode*>& namesakes,
                    const std::string& target, const TkxNode* node);

  std::shared_ptr<TkxChain> FChain;
  // The document as MakeTarget found it.
  const TkxNode* FSourceNode = nullptr;
  bool FSourceKnown = false;
  TkxFileId FSourceId;
  std::string FRecord;  // what its pages record as their document
  TkxClaim FClaim;      // its name in the target folder, held until the item has ended
};

// How a page file records its document: the path below the source folder (the whole
// path of a document that is not below it) as UTF-8 text; a backslash is doubled, and
// a byte that is not part of valid UTF-8 or is a control character becomes \xHH.
std::string SourceRecord(const std::string& relativePath);

class TkxFileUtils {
 public:
  // Creation time packed as a DOS date-time (local time unless utc); -1 when unknown.
  static int32_t FileDate(const std::string& path, bool utc);
  // The whole file; raises when it cannot be opened.
  static std::string ReadStringFromFile(const std::string& path);
  // Creates missing folders, then writes `data` whole or not at all: an existing
  // file is replaced only by the complete new content.
  static void WriteStringToFile(const std::string& path, const std::string& data);
};

}  // namespace kx
