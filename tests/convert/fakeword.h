#pragma once
// "Word.Application" for tests of the page export: a document of prepared page
// metafiles behind the object model the export drives, with injectable failures.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kxtest {

struct FakeDocument {
  std::vector<std::string> Pages;  // one EMF per page
  std::string Version = "16.0";
  int FailBitsAt = 0;  // EnhMetaFileBits fails for this page and later ones (0: never)
  int FailCopyAt = 0;  // Copy fails for this page and later ones (0: never)
  // When set, each server's pages are what this gives for the path it was asked to
  // open, so that several converter threads can open documents of their own.
  std::function<std::vector<std::string>(const std::string& path)> OpenFile;
  std::function<void(int page)> OnBits;  // called before a page's bits are given
  // Called where the office exports an opened document: at the first question about
  // its pages (their count, a page's place or bits, a copy).
  std::function<void()> OnExport;
  std::function<void()> OnCopy;     // called before a copy puts a page on the clipboard
  std::mutex Lock;                  // guards Calls and Opened
  std::vector<std::string> Calls;   // "Object.Member", in order
  std::vector<std::string> Opened;  // the paths given to Documents.Open
};

// Registers the fake as "Word.Application" until the returned guard is destroyed.
struct FakeWordScope {
  explicit FakeWordScope(std::shared_ptr<FakeDocument> doc);
  ~FakeWordScope();
  std::shared_ptr<FakeDocument> Doc;
  int Count(const std::string& call) const;
};

}  // namespace kxtest
