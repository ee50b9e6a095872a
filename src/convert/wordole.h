#pragma once
// The converter that owns one automation link to the word processor: starts the
// server on the first document, opens and closes one document at a time in it,
// and quits it when the converter ends.
#include <string>

#include "convert/olecall.h"
#include "engine/convertor.h"

namespace kx {

inline constexpr const char* kWordApplication = "Word.Application";

// The major version of a "Version" value: "12.0" gives 12, "120" gives 12.
int32_t VersionNumber(const Variant& value);

class TkxWordOle : public TkxConvertor {
 public:
  TkxWordOle(TkxBatch* batch, const TkxNodeEvent& onNodeDone, int threadsLeft);
  ~TkxWordOle() override;

  void StartServer();
  void OpenDocument(const std::string& path);
  void CloseDocument();
  void QuitServer();
  bool HasMacros() override;
  std::string GetServerExe() override;
  bool GetReadOnly() const;
  bool GetSkipPassword() const;

  Variant FApp;
  Variant FDoc;
  int32_t FServerVersion = 0;

 protected:
  // The path the office is given for a document: the document's own, or a link to
  // it when its name is not valid UTF-8 (see the definition).
  std::string OfficePath(const std::string& path);

 private:
  void DropLink();
  std::string FLinkDir;  // private folder of this converter's links, with its '/'
  std::string FLink;
};

// Removes the link folders in `root` left by processes of this account that have ended.
void SweepLinkFolders(const std::string& root);

}  // namespace kx
