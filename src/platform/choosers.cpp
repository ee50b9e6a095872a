#include "platform/choosers.h"

#include "platform/text.h"

namespace kx {

namespace {
class TkxNoChoosers : public TkxChoosers {
 public:
  std::string BrowseFolder(const std::string& initial) override { return initial; }
  bool PromptOpenFile(const std::string&, std::string&, bool) override { return false; }
  bool PromptSaveFile(const std::string&, const std::string&, std::string&) override { return false; }
};
TkxNoChoosers NoChoosers;
TkxChoosers* Current = &NoChoosers;
}  // namespace

void SetChoosers(TkxChoosers* c) { Current = c ? c : &NoChoosers; }
TkxChoosers& Choosers() { return *Current; }

std::string BrowseFolder(const std::string& initial) { return Current->BrowseFolder(initial); }
bool PromptOpenFile(const std::string& filter, std::string& path, bool multiple) {
  return Current->PromptOpenFile(filter, path, multiple);
}
bool PromptSaveFile(const std::string& filter, const std::string& defaultExt, std::string& path) {
  return Current->PromptSaveFile(filter, defaultExt, path);
}

std::string ConvertFilter(const std::string& filter) {
  std::string result;
  size_t pos = 0;
  while (pos <= filter.size()) {
    size_t bar = filter.find('|', pos);
    std::string name = filter.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
    std::string patterns;
    if (bar != std::string::npos) {
      size_t next = filter.find('|', bar + 1);
      patterns = filter.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
      pos = next == std::string::npos ? filter.size() + 1 : next + 1;
    } else {
      pos = filter.size() + 1;
    }
    if (name.empty() && patterns.empty()) continue;
    // A name that shows its patterns already gets them once, in the dialog's form.
    size_t open = name.rfind('(');
    if (!name.empty() && name.back() == ')' && open != std::string::npos && name.find('*', open) != std::string::npos) {
      name.erase(open);
      while (!name.empty() && name.back() == ' ') name.pop_back();
    }
    if (!result.empty()) result += ";;";
    result += name + " (" + ReplaceAll(patterns, ";", " ") + ")";
  }
  return result;
}

}  // namespace kx
