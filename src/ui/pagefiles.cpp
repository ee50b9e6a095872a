#include "ui/pagefiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/numbers.h"
#include "platform/paths.h"

namespace kx {

std::vector<std::string> PageFilesOf(const std::string& resultText) {
  std::string folder = ExtractFilePath(resultText);
  std::string name = ExtractFileName(resultText);
  size_t star = name.find('*');
  if (folder.empty() || star == std::string::npos || name.find('*', star + 1) != std::string::npos) return {};
  const std::string head = name.substr(0, star), tail = name.substr(star + 1);
  std::vector<std::pair<unsigned long long, std::string>> pages;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string file = it->path().filename().string();
    if (file.size() <= head.size() + tail.size() || file.compare(0, head.size(), head) != 0 ||
        file.compare(file.size() - tail.size(), tail.size(), tail) != 0)
      continue;
    std::string number = file.substr(head.size(), file.size() - head.size() - tail.size());
    // Only a page number: "report-*.png" must not take "report-docx-01.png" of a namesake.
    std::optional<uint64_t> page = number.size() > 9 ? std::nullopt : ReadDigits(number);
    if (!page) continue;
    std::error_code kind;
    if (!it->is_regular_file(kind)) continue;
    pages.emplace_back(*page, folder + file);
  }
  std::sort(pages.begin(), pages.end());
  std::vector<std::string> files;
  for (auto& p : pages) files.push_back(std::move(p.second));
  return files;
}

}  // namespace kx
