#include "convert/pagefiles.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "convert/pagesource.h"
#include "platform/numbers.h"
#include "platform/paths.h"

namespace kx {

namespace {

constexpr const char* kPlaceholder = "%.*d";

std::string Digits(int page) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%.*d", 2, page);
  return digits;
}

}  // namespace

std::string PagePattern(const std::string& target) {
  return ChangeFileExt(target, "") + "-" + kPlaceholder + ExtractFileExt(target);
}

std::string PageName(const std::string& pattern, int page) {
  size_t at = pattern.rfind(kPlaceholder);
  if (at == std::string::npos) return pattern;
  return pattern.substr(0, at) + Digits(page) + pattern.substr(at + std::strlen(kPlaceholder));
}

std::string PatternText(const std::string& pattern) {
  size_t at = pattern.rfind(kPlaceholder);
  if (at == std::string::npos) return pattern;
  return pattern.substr(0, at) + "*" + pattern.substr(at + std::strlen(kPlaceholder));
}

int PageNumberOf(const std::string& pattern, const std::string& name) {
  std::string own = ExtractFileName(pattern);
  size_t at = own.rfind(kPlaceholder);
  if (at == std::string::npos) return -1;
  std::string head = own.substr(0, at), tail = own.substr(at + std::strlen(kPlaceholder));
  if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
    return -1;
  std::string digits = name.substr(head.size(), name.size() - head.size() - tail.size());
  std::optional<uint64_t> page = digits.size() > 9 ? std::nullopt : ReadDigits(digits);
  // Only the digits PageName writes: "report-007.png" is not page 7 of "report".
  return page && Digits(int(*page)) == digits ? int(*page) : -1;
}

TkxPageFiles::TkxPageFiles(std::string pattern, std::string source, std::string program)
    : FPattern(std::move(pattern)),
      FFolder(ExtractFilePath(FPattern)),
      FSource(std::move(source)),
      FProgram(std::move(program)) {}

TkxPageFiles::~TkxPageFiles() = default;  // staged temporary files remove themselves

std::unique_ptr<TkxTempFile> TkxPageFiles::NewTemp(int page) {
  // Found now rather than after the whole document has been made.
  std::string name = ExtractFileName(Name(page));
  if (name.size() > NameMax(FFolder))
    throw std::runtime_error("The page name \"" + name + "\" is longer than the file system allows (" +
                             std::to_string(NameMax(FFolder)) + " bytes)");
  FStaged.erase(page);
  return std::make_unique<TkxTempFile>(FFolder, Name(page));
}

void TkxPageFiles::Stage(int page, const std::string& bytes) {
  std::unique_ptr<TkxTempFile> tmp = NewTemp(page);
  tmp->Write(FSource.empty() ? bytes : WithEmfSource(bytes, FProgram, FSource));
  tmp->Finish(true);
  FStaged[page] = std::move(tmp);
}

void TkxPageFiles::StageBy(int page, const std::function<void(const std::string& temp)>& write) {
  std::unique_ptr<TkxTempFile> tmp = NewTemp(page);
  tmp->Finish(false);  // the name is ours; the writer fills it or renames its own file over it
  write(tmp->Path());
  if (!FSource.empty()) {
    std::string png = ReadWholeFile(tmp->Path());
    if (AddPngSource(png, FSource)) WriteWholeFile(tmp->Path(), png);
  }
  SyncFile(tmp->Path(), Name(page));
  FStaged[page] = std::move(tmp);
}

void TkxPageFiles::Commit(int pages) {
  for (auto& [page, tmp] : FStaged) {
    std::string name = Name(page);
    tmp->Replace(name);
    FWritten.push_back(name);
  }
  FStaged.clear();
  if (!FWritten.empty()) SyncFile(FFolder);
  if (pages >= 0) RemoveStale(pages);
}

void TkxPageFiles::RemoveStale(int pages) {
  DIR* d = opendir(FFolder.empty() ? "." : FFolder.c_str());
  if (!d) return;  // nothing can be left in a folder that cannot be listed
  std::vector<std::string> stale;
  while (dirent* e = readdir(d))
    if (PageNumberOf(FPattern, e->d_name) > pages) stale.push_back(FFolder + e->d_name);
  closedir(d);
  for (const std::string& path : stale) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // A page of another document under this name is that document's.
    std::string recorded = ReadPageSource(path);
    if (recorded.empty() || recorded == FSource) unlink(path.c_str());
  }
}

void TkxPageFiles::Discard() {
  FStaged.clear();
  for (const std::string& name : FWritten) unlink(name.c_str());
  FWritten.clear();
}

}  // namespace kx
