#pragma once
// The converter class of both editions: every page of a document becomes its own
// file, an enhanced metafile (EMF edition) or a PNG image (PNG edition).
#include <string>
#include <vector>

#include "convert/pagefiles.h"
#include "convert/wordole.h"
#include "core/pagerange.h"
#include "emf/metafile.h"

namespace kx {

class TkxLUMIPIX : public TkxWordOle {
 public:
  using TkxWordOle::TkxWordOle;

  void ConvertFile(TkxBatch* batch, TkxNode* node) override;
  std::string MakeTargetName(const std::string& target) override;

  void ExportPageBits();
  void ExportByClipboard();
  // PNG edition: draws the metafile holder and stages the page as a PNG image.
  void RenderPage(int page);
  // Has the PNG module write the bitmap file `bmpFile` as a PNG image at `pngFile`.
  void ConvertToPng(const std::string& bmpFile, const std::string& pngFile, const std::string& pageName);

 protected:
  std::string ExistingName(const std::string& target) override;
  std::string RecordedSource(const std::string& file) override;
  std::vector<std::string> WrittenFiles(const std::string&) override { return FWritten; }

 private:
  void Fail(TkxBatch* batch, TkxNode* node, const std::string& message);

  TkxBatch* FBatch = nullptr;
  std::string FPattern;
  TkxMetafile* FMetafile = nullptr;
  TkxPageFiles* FPageFiles = nullptr;
  int FPageCount = 0;  // pages of the document as far as the export got
  int32_t FColor = 0;
  TkxPageRange FPages;  // the pages of each document that are written
  std::vector<std::string> FWritten;
};

// Registers "TkxLUMIPIX" with the converter classes.
void RegisterLumipix();

}  // namespace kx
