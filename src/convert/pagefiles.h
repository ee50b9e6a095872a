#pragma once
// Page names, and the page files of one document: written under temporary names
// in the target folder and put in place together once the whole document has
// succeeded, so that a folder only ever shows whole pages, all of one version.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace kx {

// The target with "-%.*d" before its extension.
std::string PagePattern(const std::string& target);
// The pattern's placeholder (its last "%.*d") filled with the page number, at least
// two digits; every other character stays as it is, a "%" of the path included.
std::string PageName(const std::string& pattern, int page);
// The pattern as a result text: the placeholder shown as "*".
std::string PatternText(const std::string& pattern);
// The page number of `name` (a name part) when it is exactly a page name of the
// pattern, as PageName writes it; otherwise -1.
int PageNumberOf(const std::string& pattern, const std::string& name);

class TkxPageFiles {
 public:
  // Pages record `source` as their document (convert/pagesource.h), an EMF page with
  // `program` beside it; an empty source records nothing.
  explicit TkxPageFiles(std::string pattern, std::string source = std::string(), std::string program = std::string());
  ~TkxPageFiles();  // discards whatever was not put in place
  TkxPageFiles(const TkxPageFiles&) = delete;
  TkxPageFiles& operator=(const TkxPageFiles&) = delete;

  std::string Name(int page) const { return PageName(FPattern, page); }
  // The page's bytes into a new temporary file, flushed to the disk. An earlier
  // temporary file of the same page is dropped.
  void Stage(int page, const std::string& bytes);
  // A new temporary file for the page that `write` fills or replaces by its path;
  // flushed to the disk afterwards.
  void StageBy(int page, const std::function<void(const std::string& temp)>& write);
  // Puts every staged page in place under its final name, then removes the page
  // files of the pattern numbered above `pages`, left by a longer earlier version
  // (only those that record this document, or none).
  // `pages` is the document's own page count; -1 removes nothing, for a run that
  // makes only some of the pages.
  void Commit(int pages);
  // Drops the temporary files and removes the pages this object put in place.
  void Discard();
  // The page files put in place, in page order.
  const std::vector<std::string>& Written() const { return FWritten; }

 private:
  std::unique_ptr<TkxTempFile> NewTemp(int page);
  void RemoveStale(int pages);

  std::string FPattern;
  std::string FFolder;
  std::string FSource;
  std::string FProgram;
  std::map<int, std::unique_ptr<TkxTempFile>> FStaged;
  std::vector<std::string> FWritten;
};

}  // namespace kx
