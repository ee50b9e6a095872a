#include "ui/info.h"

#include "core/app.h"
#include "core/project.h"
#include "engine/convertor.h"
#include "engine/runreport.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace kx {

TkxInfo::TkxInfo(const std::string& exeName) : FExeName(exeName) {
  FInstallNumber = TkxFileUtils::FileDate(ExcludeTrailingPathDelimiter(ExtractFilePath(exeName)), true);
  try {
    FStore.SetText(TkxFileUtils::ReadStringFromFile(StoreFile()));
  } catch (const std::exception&) {
    FStore.Clear();  // no store yet, or none that can be read: the counters start again
  }
  Count(counter::kStarts, 0, 1);
}

TkxInfo::~TkxInfo() {
  std::lock_guard<std::mutex> g(FLock);
  WriteStore();
}

void TkxInfo::WriteStore() const {
  try {
    TkxFileUtils::WriteStringToFile(StoreFile(), FStore.GetText());
  } catch (...) {
    // A folder that cannot be written (a system-wide install) keeps no counters.
  }
}

void TkxInfo::Count(const std::string& key, int value, int increment) {
  std::lock_guard<std::mutex> g(FLock);
  std::string stored = FStore.GetValue(key);
  long long next = value > 0 ? value : (long long)ReadInt(stored, 0) + increment;
  std::string text = std::to_string(int32_t(next));
  if (text == stored) return;
  FStore.SetValue(key, text);
  WriteStore();
}

std::string TkxInfo::StoredValue(const std::string& key) const {
  std::lock_guard<std::mutex> g(FLock);
  return FStore.GetValue(key);
}

std::string TkxInfo::CounterText() const {
  std::lock_guard<std::mutex> g(FLock);
  std::string r;
  for (const std::string& line : FStore.Lines()) {
    size_t eq = line.find('=');
    if (eq == std::string::npos || line.empty() || line[0] < 'A' || line[0] > 'Z') continue;
    r += char(line[0] - 'A' + 'a');
    r += line.substr(eq + 1);
  }
  return r;
}

std::string TkxInfo::LinkTarget(const std::string& page, const std::string& action, const std::string& extra) const {
  std::string title = Project ? Project->Title : std::string();
  std::string shortName = Project ? Project->ShortName : std::string();
  std::string version = Project ? Project->Version : std::string();
  if (page == "supports")
    return std::string("mailto:") + kSupportMail + "?subject=Support required for " + ReplaceFirst(title, "&", "And") +
           " " + version + " - " + std::to_string(FInstallNumber);
  if (page == "h") return HelpFile(FExeName);
  std::string link = kWebSite;
  if (!page.empty())
    link += "/en/" + shortName + "/" + page + ".htm";
  else if (!action.empty())
    link += "/net/";
  std::string query;
  auto add = [&](const char* name, const std::string& value) {
    if (value.empty()) return;
    if (!query.empty()) query += '&';
    query += name;
    query += '=';
    query += ReplaceAll(value, "\"", "");
  };
  add("a", action);
  add("p", shortName);
  add("v", version);
  add("c", CounterText());
  add("i", std::to_string(FInstallNumber));
  if (!extra.empty()) query += "&" + extra;
  return link + "?" + query;
}

void TkxInfo::OpenLink(const std::string& page, const std::string& action, const std::string& extra) {
  ShellOpen(LinkTarget(page, action, extra));
}

void TkxInfo::HandleError(const std::string& message) {
  try {
    Count(counter::kErrors, 0, 1);
  } catch (...) {
    // The report below matters more than its count, which is only a convenience.
  }
  // What leaves the machine names no person, password, query or local path.
  OpenLink("", kErrorReportAction + ReportSafeText(message), "");
}

}  // namespace kx
