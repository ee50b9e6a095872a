#include "core/sourcelist.h"

#include <cctype>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kx {

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string> SplitSourceList(std::string_view value) {
  std::vector<std::string> items;
  if (value.empty() || value.front() != '"') return {std::string(value)};
  size_t i = 0;
  while (i < value.size()) {
    if (IsBlank(value[i])) {
      ++i;
      continue;
    }
    if (value[i] != '"') return {std::string(value)};  // not a list after all
    std::string item;
    bool closed = false;
    for (++i; i < value.size(); ++i) {
      if (value[i] != '"') {
        item.push_back(value[i]);
      } else if (i + 1 < value.size() && value[i + 1] == '"') {
        item.push_back('"');
        ++i;
      } else {
        closed = true;
        ++i;
        break;
      }
    }
    if (!closed || (i < value.size() && !IsBlank(value[i]))) return {std::string(value)};
    items.push_back(std::move(item));
  }
  return items;
}

std::string JoinSourceList(const std::vector<std::string>& items) {
  auto plain = [](const std::string& s) {
    return !s.empty() && s.front() != '"' && !IsBlank(s.front()) && !IsBlank(s.back());
  };
  if (items.size() == 1 && plain(items[0])) return items[0];
  std::string r;
  for (const std::string& item : items) {
    if (!r.empty()) r += ' ';
    r += '"' + ReplaceAll(item, "\"", "\"\"") + '"';
  }
  return r;
}

bool IsWebAddress(std::string_view text) { return StartsText("http://", text) || StartsText("https://", text); }

std::string AddressScheme(std::string_view text) {
  size_t sep = text.find("://");
  if (sep == std::string_view::npos || sep == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return {};
  for (char c : text.substr(0, sep))
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return {};
  return LowerAscii(text.substr(0, sep));
}

static TkxSourceItem ReadItem(const std::string& given, const std::string& defaultMask, const std::string& base) {
  TkxSourceItem item;
  item.Given = given;
  std::string path = AbsolutePath(FileAddressToPath(given), base);
  if (FileExists(path)) {
    item.Kind = TkxSourceItem::skDocument;
    item.Folder = ExtractFilePath(path);
    item.Name = ExtractFileName(path);
  } else if (DirectoryExists(path)) {
    item.Kind = TkxSourceItem::skFolder;
    item.Folder = IncludeTrailingPathDelimiter(path);
    item.Name = defaultMask;
  } else if (given.rfind("file:", 0) != 0 && (IsWebAddress(given) || !AddressScheme(given).empty())) {
    item.Kind = IsWebAddress(given) ? TkxSourceItem::skWebAddress : TkxSourceItem::skUnsupported;
    item.Name = given;
  } else {
    item.Folder = ExtractFilePath(path);
    item.Name = ExtractFileName(path);
    item.Kind = DirectoryExists(item.Folder) ? TkxSourceItem::skMask : TkxSourceItem::skMissing;
  }
  return item;
}

std::vector<TkxSourceItem> ReadSource(std::string_view value, const std::string& defaultMask, const std::string& base) {
  std::string from = base.empty() ? CurrentDir() : base;
  std::string whole(value);
  if (whole.empty()) return {};
  std::string path = AbsolutePath(FileAddressToPath(whole), from);
  std::vector<std::string> given =
      FileExists(path) || DirectoryExists(path) ? std::vector<std::string>{whole} : SplitSourceList(whole);
  std::vector<TkxSourceItem> items;
  for (const std::string& g : given)
    if (!g.empty()) items.push_back(ReadItem(g, defaultMask, from));
  return items;
}

std::string DefaultTargetOf(const std::vector<TkxSourceItem>& items) {
  std::string folder;
  for (const TkxSourceItem& item : items) {
    if (item.Folder.empty()) continue;
    if (folder.empty())
      folder = item.Folder;
    else if (folder != item.Folder)
      return std::string();
  }
  return folder;
}

static bool HasWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

std::vector<std::string> SourceItemProblems(const std::vector<TkxSourceItem>& items, bool subdirs) {
  std::vector<std::string> lines;
  for (const TkxSourceItem& item : items) {
    switch (item.Kind) {
      case TkxSourceItem::skMissing:
        lines.push_back("the source folder " + DisplayPath(item.Folder) + " does not exist");
        break;
      case TkxSourceItem::skUnsupported:
        lines.push_back("the source " + DisplayPath(item.Given) + " is an address of the kind " +
                        AddressScheme(item.Given) + "://, which cannot be fetched: only http:// and https:// can");
        break;
      case TkxSourceItem::skMask:
        if (!subdirs && !item.Name.empty() && !HasWildcard(item.Name))
          lines.push_back("the document " + DisplayPath(item.Path()) + " does not exist");
        break;
      default: break;
    }
  }
  return lines;
}

}  // namespace kx
