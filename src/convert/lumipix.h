#pragma once
// The converter class of both editions: every page of a document becomes its own
// file, an enhanced metafile (EMF edition) or a PNG image (PNG edition).
#include <string>
#include <vector>

#include "convert/wordole.h"
#include "core/pagerange.h"
#include "platform/metafile.h"

namespace kx {

// The target with "-%.*d" before its extension.
std::string PagePattern(const std::string& target);
// The pattern's placeholder (its last "%.*d") filled with the page number, at least
// two digits; every other character stays as it is, a "%" of the path included.
std::string PageName(const std::string& pattern, int page);
// The pattern as a result text: the placeholder shown as "*".
std::string PatternText(const std::string& pattern);

class TkxLUMIPIX : public TkxWordOle {
 public:
  using TkxWordOle::TkxWordOle;

  void ConvertFile(TkxBatch* batch, TkxNode* node) override;
  std::string MakeTargetName(const std::string& target) override;

  void ExportPageBits();
  void ExportByClipboard();
  void RenderPage(const std::string& pageName);
  void ConvertToPng(const std::string& pageName);

 protected:
  std::string ExistingName(const std::string& target) override;
  std::vector<std::string> WrittenFiles(const std::string&) override { return FWritten; }

 private:
  void PageDone(const std::string& pageName);
  void Fail(TkxBatch* batch, TkxNode* node, const std::string& message);

  TkxBatch* FBatch = nullptr;
  std::string FPattern;
  TkxMetafile* FMetafile = nullptr;
  int32_t FColor = 0;
  TkxPageRange FPages;  // the pages of each document that are written
  std::vector<std::string> FWritten;
};

// Registers "TkxLUMIPIX" with the converter classes.
void RegisterLumipix();

}  // namespace kx
