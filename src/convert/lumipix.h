#pragma once
// The converter class of both editions: every page of a document becomes its own
// file, an enhanced metafile (EMF edition) or a PNG image (PNG edition).
#include <string>
#include <utility>
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

  // The page objects' metafiles; when they fail, the clipboard from the first page
  // again. Should that fail too, the first failure is the one raised.
  void ExportPagesOrCopy();
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
  // From and to (the start of the next page, or the end of the document) of each page.
  std::vector<std::pair<Variant, Variant>> PageRanges(const Variant& sel);

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
