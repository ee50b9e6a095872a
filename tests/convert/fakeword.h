#pragma once
// "Word.Application" for tests of the page export: a document of prepared page
// metafiles behind the object model the export drives, with injectable failures.
#include <memory>
#include <string>
#include <vector>

namespace kxtest {

struct FakeDocument {
  std::vector<std::string> Pages;  // one EMF per page
  std::string Version = "16.0";
  int FailBitsAt = 0;   // EnhMetaFileBits fails for this page and later ones (0: never)
  int FailCopyAt = 0;   // Copy fails for this page and later ones (0: never)
  std::vector<std::string> Calls;  // "Object.Member", in order
};

// Registers the fake as "Word.Application" until the returned guard is destroyed.
struct FakeWordScope {
  explicit FakeWordScope(std::shared_ptr<FakeDocument> doc);
  ~FakeWordScope();
  std::shared_ptr<FakeDocument> Doc;
  int Count(const std::string& call) const;
};

}  // namespace kxtest
