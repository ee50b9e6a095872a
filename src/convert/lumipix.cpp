#include "convert/lumipix.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "convert/pagesource.h"
#include "convert/wordconst.h"
#include "core/app.h"
#include "core/project.h"
#include "core/strlist.h"
#include "emf/bitmap.h"
#include "engine/batch.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace kx {

namespace {

bool IsPng(const std::string& path) {
  static const std::string kSignature("\x89PNG\r\n\x1A\n", 8);
  try {
    return ReadWholeFile(path, kSignature.size()) == kSignature;
  } catch (const std::exception&) {
    return false;  // nothing to read is no PNG; the caller says which page has none
  }
}

[[noreturn]] void NotPng(const std::string& page, const std::string& why) {
  throw std::runtime_error("The page image " + page + " could not be written as PNG" + (why.empty() ? "" : ": " + why));
}

// The message of a failure in hand, for the trace.
std::string WhatOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an unexpected error";
  }
}

TkxPixelFormat FormatOfColor(int32_t color, bool& valid) {
  valid = true;
  switch (color) {
    case 1: return TkxPixelFormat::pf1bit;
    case 2: return TkxPixelFormat::pf4bit;
    case 3: return TkxPixelFormat::pf8bit;
    case 4: return TkxPixelFormat::pf15bit;
    case 5: return TkxPixelFormat::pf16bit;
    case 6: return TkxPixelFormat::pf24bit;
    case 7: return TkxPixelFormat::pf32bit;
    default: valid = false; return TkxPixelFormat::pfCustom;  // 8 and values outside the table
  }
}

}  // namespace

std::string TkxLUMIPIX::MakeTargetName(const std::string& target) { return PagePattern(target); }

// The first page written tells whether a document's pages exist already.
std::string TkxLUMIPIX::ExistingName(const std::string& target) { return PageName(target, Project->Pages().First()); }

namespace {

// "document: <name>: <step> in 1.234 s" for the trace, the time since the step before.
class TkxStepTrace {
 public:
  explicit TkxStepTrace(const std::string& file) : FName(DisplayPath(file)) {}
  void operator()(const std::string& step) {
    if (!TraceOn()) return;
    auto now = std::chrono::steady_clock::now();
    char took[32];
    std::snprintf(took, sizeof took, " in %.3f s", std::chrono::duration<double>(now - FLast).count());
    Trace("document: " + FName + ": " + step + took);
    FLast = now;
  }

 private:
  std::string FName;
  std::chrono::steady_clock::time_point FLast = std::chrono::steady_clock::now();
};

}  // namespace

std::string TkxLUMIPIX::RecordedSource(const std::string& file) { return ReadPageSource(file); }

void TkxLUMIPIX::ConvertFile(TkxBatch* batch, TkxNode* node) {
  TkxStepTrace step(node->FileName);
  std::string pattern = MakeTarget(batch, node);
  step(pattern.empty() ? "skipped: its pages exist" : "target " + DisplayPath(PatternText(pattern)) + " chosen");
  if (pattern.empty()) return;
  TkxMetafile holder;
  TkxPageFiles pages(pattern, PageSource(), Project->Title);
  FBatch = batch;
  FPattern = pattern;
  FMetafile = &holder;
  FPageFiles = &pages;
  FPageCount = 0;
  FWritten.clear();
  try {
    OpenDocument(node->FileName);
    step("opened");
    FColor = ReadInt(Project->GetOption("Color"), 0);
    FPages = Project->Pages();
    if (FServerVersion < 11)
      ExportByClipboard();
    else
      ExportPagesOrCopy();
    step(std::to_string(FPageCount) + " pages made");
    CloseDocument();
    CheckClaim();
    // Pages beyond the document's end are an earlier version's only when all were made.
    pages.Commit(FPages.All() ? FPageCount : -1);
    FWritten = pages.Written();
    step(std::to_string(FWritten.size()) + " page files written");
    std::string note = FinishSource(batch, node, pattern);
    if (FWritten.empty() && !FPages.All()) {
      // Nothing written is said, never left for a person to find out from the folder.
      std::string none = "no page written: the document has " + std::to_string(FPageCount) +
                         " pages and Pages=" + Project->GetOption("Pages") + " names none of them";
      note = note.empty() ? none : none + "; " + note;
    }
    node->ResultText = DisplayPath(PatternText(pattern) + (note.empty() ? "" : " (" + note + ")"));
    node->PagePattern = PatternText(pattern);
    node->Status = TkxNode::Success;
    batch->RecordSuccess(int(FWritten.size()));
  } catch (const std::exception& e) {
    pages.Discard();
    Fail(batch, node, e.what());
  } catch (...) {
    pages.Discard();
    Fail(batch, node, "Unexpected error while converting this document");
  }
  FMetafile = nullptr;
  FPageFiles = nullptr;
}

void TkxLUMIPIX::Fail(TkxBatch* batch, TkxNode* node, const std::string& message) {
  Trace("document: " + DisplayPath(node->FileName) + ": failed: " + message);
  node->ResultText = DisplayPath(message);
  node->Status = TkxNode::Failure;
  batch->RecordFileFailure(node->ResultText);
  CloseDocument();
}

void TkxLUMIPIX::ExportPagesOrCopy() {
  std::exception_ptr pageBitsFailure;
  try {
    ExportPageBits();
    return;
  } catch (...) {
    pageBitsFailure = std::current_exception();
  }
  // Whatever failed, at whichever page: the clipboard route from the first page again.
  Trace("page export failed (" + WhatOf(pageBitsFailure) + "); the pages are copied instead");
  FPageFiles->Discard();
  FPageCount = 0;
  try {
    ExportByClipboard();
  } catch (...) {
    // The first failure is the cause; the second mostly follows from it (the same
    // export asked for again, or the office the first one ended).
    Trace("copying the pages failed too (" + WhatOf(std::current_exception()) + ")");
    std::rethrow_exception(pageBitsFailure);
  }
}

void TkxLUMIPIX::ExportPageBits() {
  OlePut(FApp, "Visible", TkxOleArg::Bool(true));
  OlePut(FApp, "WindowState", TkxOleArg::Int(word::wdWindowStateMinimize));
  OlePut(OleGet(FApp, "ActiveWindow"), "View", TkxOleArg::Int(word::wdPrintView));
  Variant pages = OleGet(OleGet(OleGet(FApp, "ActiveWindow"), "ActivePane"), "Pages");
  int n = VarToInt(OleGet(pages, "Count"));
  for (int i = 1; i <= n && !FPages.EndsBy(i - 1); ++i) {
    if (!FPages.Wants(i)) continue;
    Variant bits = OleGet(OleGet(pages, "Item", {TkxOleArg::Int(i)}), "EnhMetaFileBits");
    std::string bytes(bits.Bytes.begin(), bits.Bytes.end());
    if (Edition == kPngEdition) {
      // The metafile is only a step on the way to the image: it never becomes a file.
      FMetafile->LoadFromBytes(std::move(bytes));
      RenderPage(i);
    } else {
      FPageFiles->Stage(i, bytes);
    }
  }
  FPageCount = std::max(n, 0);
}

void TkxLUMIPIX::ExportByClipboard() {
  Variant sel = OleGet(FApp, "Selection");
  // Finding where the pages start lays the document out (the office exports it then),
  // so all of that is done before the lock that the batch's items, the other converters
  // and the window's rows share; the lock covers the clipboard alone.
  std::vector<std::pair<Variant, Variant>> ranges = PageRanges(sel);
  FPageCount = int(ranges.size());
  for (int page = 1; page <= FPageCount; ++page) {
    auto& [from, to] = ranges[size_t(page - 1)];
    if (!FPages.Wants(page) || VarEqual(from, to)) continue;
    OleCall(sel, "SetRange", {TkxOleArg::Var(from), TkxOleArg::Var(to)});
    {
      // One clipboard for all converters of the batch.
      std::lock_guard<TCriticalSection> clipboard(FBatch->ItemsLock());
      OleCall(sel, "Copy", {TkxOleArg::Omitted()});
      FMetafile->LoadFromClipboard();
    }
    if (Edition == kEmfEdition)
      FPageFiles->Stage(page, FMetafile->Bytes());
    else
      RenderPage(page);
  }
}

std::vector<std::pair<Variant, Variant>> TkxLUMIPIX::PageRanges(const Variant& sel) {
  std::vector<std::pair<Variant, Variant>> ranges;
  int32_t i = 1;
  // The start of page i; past the last page, the start of the last page again.
  auto pageStart = [&] {
    return OleGet(FDoc, "Goto",
                  {TkxOleArg::Int(word::wdGoToPage), TkxOleArg::Int(word::wdGoToAbsolute), TkxOleArg::Ref(&i)});
  };
  Variant r = pageStart();
  do {
    Variant prev = r;
    i = i + 1;
    r = pageStart();
    if (VarEqual(OleGet(prev, "Start"), OleGet(r, "Start"))) {  // no further page: to the end of the document
      OleCall(sel, "EndKey", {TkxOleArg::Int(word::wdStory)});
      OlePut(r, "Start", TkxOleArg::Var(OleGet(sel, "End")));
      i = -1;
    }
    ranges.emplace_back(OleGet(prev, "Start"), OleGet(r, "Start"));
  } while (i > 0);
  return ranges;
}

void TkxLUMIPIX::RenderPage(int page) {
  std::string pageName = FPageFiles->Name(page);
  TkxPixelFormat pf = TkxPixelFormat::pf32bit;
  if (FColor != 0) {
    bool valid;
    TkxPixelFormat wanted = FormatOfColor(FColor, valid);
    // A refused format leaves 32 bits per pixel, as the option's table says.
    if (wanted != TkxPixelFormat::pfCustom) pf = wanted;
  }
  int32_t natW = FMetafile->Width(), natH = FMetafile->Height();
  if (natW <= 0 || natH <= 0) throw std::runtime_error("The page metafile " + pageName + " has no size");
  int32_t w = ReadInt(Project->GetOption("Width"), 0);
  int64_t h = 0;
  double drawW = 0, drawH = 0;
  if (w >= 1) {
    h = int64_t(w) * natH / natW;  // 64 bits: the product of two page sizes may not fit 32
    drawW = w, drawH = double(h);
  } else {
    // At a resolution: the size pdftoppm gives the page at it (each side rounded up from
    // the page's own size), the page drawn at exactly that scale. The natural size is
    // the page at 96 dpi in whole pixels.
    double dpi = Project->Dpi(), pw = 0, ph = 0;
    if (FMetafile->PagePoints(pw, ph)) {
      w = int32_t(std::clamp(std::ceil(pw * dpi / 72 - 1e-7), 1.0, double(INT32_MAX)));
      h = int64_t(std::clamp(std::ceil(ph * dpi / 72 - 1e-7), 1.0, double(INT32_MAX)));
    } else {
      w = int32_t(std::min<int64_t>(std::llround(double(natW) * dpi / 96.0), INT32_MAX));
      h = int64_t(w) * natH / natW;
    }
    drawW = natW * dpi / 96, drawH = natH * dpi / 96;
  }
  // Drawn band by band straight into the bitmap file, a temporary file of its own: the
  // page's name only ever gets the PNG.
  TkxTempFile bitmap(ExtractFilePath(pageName), pageName);
  TkxBitmapPlan plan{w, int32_t(std::min<int64_t>(h, INT32_MAX)), drawW, drawH, pf};
  WriteBitmapFile(*FMetafile, plan, [&](const std::string& bytes) { bitmap.Write(bytes); });
  bitmap.Finish(false);
  FPageFiles->StageBy(page, [&](const std::string& png) { ConvertToPng(bitmap.Path(), png, pageName); });
}

void TkxLUMIPIX::ConvertToPng(const std::string& bmpFile, const std::string& pngFile, const std::string& pageName) {
  using TConvert = bool (*)(const char16_t*, const char16_t*);
  std::string module = ChangeFileExt(App ? App->ExeName : std::string(), ".so");
  if (!FileExists(module)) NotPng(pageName, "the PNG module " + module + " is missing");
  void* lib = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);  // stays loaded
  if (!lib) NotPng(pageName, "the PNG module " + module + " cannot be loaded");
  auto convert = reinterpret_cast<TConvert>(dlsym(lib, "ConvertBMP2PNG"));
  if (!convert) NotPng(pageName, "the PNG module " + module + " has no ConvertBMP2PNG");
  // The module takes UTF-16 paths; the escaped form gives it every name's bytes exactly.
  errno = 0;
  bool converted = convert(PathToUtf16(bmpFile).c_str(), PathToUtf16(pngFile).c_str());
  int err = errno;
  if (!converted || !IsPng(pngFile)) NotPng(pageName, converted || err == 0 ? "" : std::strerror(err));
}

void RegisterLumipix() {
  RegisterConvertorClass(
      "TkxLUMIPIX", [](TkxBatch* b, const TkxNodeEvent& e, int n) -> TkxConvertor* { return new TkxLUMIPIX(b, e, n); });
}

}  // namespace kx
