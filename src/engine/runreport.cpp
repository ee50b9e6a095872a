#include "engine/runreport.h"

#include <algorithm>
#include <cctype>

#include "core/infoslot.h"
#include "engine/batch.h"
#include "platform/text.h"

namespace kx {

void CountRunStart() {
  if (Info) Info->Count(counter::kRuns, 0, 1);
}

void ReportRunEnd(const TkxBatch& batch) {
  if (!Info) return;
  Info->Count(counter::kListed, 0, batch.ItemCount());
  Info->Count(counter::kConverted, 0, batch.SuccessCount());
  Info->Count(counter::kFailed, 0, batch.FailCount());
  if (batch.FailCount() > 0) Info->OpenLink("", ErrorReportAction(batch.Errors()), "");
}

std::string CommaText(const std::vector<std::string>& items) {
  if (items.size() == 1 && items[0].empty()) return "\"\"";
  std::string r;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) r += ',';
    const std::string& s = items[i];
    bool quote = false;
    for (unsigned char c : s)
      if (c <= ' ' || c == ',' || c == '"') quote = true;
    if (!quote) {
      r += s;
      continue;
    }
    r += '"';
    r += ReplaceAll(s, "\"", "\"\"");
    r += '"';
  }
  return r;
}

std::string ErrorReportAction(const std::vector<std::string>& errors) {
  std::vector<std::string> safe;
  for (const std::string& e : errors) {
    std::string s = ReportSafeText(e);
    // Messages that differed only in a path are one message now.
    if (std::none_of(safe.begin(), safe.end(), [&](const std::string& x) { return SameText(x, s); })) safe.push_back(s);
  }
  // Program text is UTF-8 already, so the code-page conversion is the identity.
  return kErrorReportAction + ReplaceAll(CommaText(safe), "?", "%3F");
}

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool EndsAddress(char c) { return IsSpace(c) || c == '"' || c == '\'' || c == '<' || c == '>'; }
bool StartsWord(const std::string& s, size_t i) {
  return i == 0 || IsSpace(s[i - 1]) || s[i - 1] == '"' || s[i - 1] == '\'' || s[i - 1] == '(' || s[i - 1] == '=';
}

// Web addresses without what identifies a person; "file:" addresses as local paths.
std::string ScrubAddresses(const std::string& text) {
  std::string r;
  size_t i = 0;
  while (i < text.size()) {
    size_t sep = text.find("://", i);
    if (sep == std::string::npos) break;
    size_t start = sep;
    while (start > i && std::isalpha(static_cast<unsigned char>(text[start - 1]))) --start;
    size_t end = sep + 3;
    while (end < text.size() && !EndsAddress(text[end])) ++end;
    if (start == sep) {  // no scheme before "://"
      r.append(text, i, end - i);
      i = end;
      continue;
    }
    r.append(text, i, start - i);
    std::string scheme = LowerAscii(text.substr(start, sep - start));
    std::string rest = text.substr(sep + 3, end - sep - 3);
    rest = rest.substr(0, rest.find_first_of("?#"));
    size_t slash = rest.find('/');
    size_t at = rest.rfind('@', slash);
    if (at != std::string::npos) rest.erase(0, at + 1);
    r += scheme == "file" ? std::string("<path>") : scheme + "://" + rest;
    i = end;
  }
  r.append(text, i, std::string::npos);
  return r;
}

}  // namespace

std::string ReportSafeText(const std::string& message) {
  std::string text = ScrubAddresses(message);
  std::string r;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '/' || !StartsWord(text, i)) {
      r += text[i++];
      continue;
    }
    // A quoted path runs to its closing quote. Otherwise it runs to the end of its
    // word, and on over the next few words up to the last that holds a '/' of its
    // own ("/in/my old docs/ cannot" ends after "docs/").
    size_t end = i;
    char quote = i > 0 && (text[i - 1] == '"' || text[i - 1] == '\'') ? text[i - 1] : 0;
    if (quote) {
      end = text.find(quote, i);
      if (end == std::string::npos) end = text.size();
    } else {
      auto wordEnd = [&](size_t from) {
        while (from < text.size() && !IsSpace(text[from]) && text[from] != '"' && text[from] != '\'') ++from;
        return from;
      };
      end = wordEnd(i);
      size_t at = end;
      for (int words = 0; words < 6 && at < text.size() && text[at] == ' '; ++words) {
        size_t start = at + 1, stop = wordEnd(start);
        if (text.substr(start, stop - start).find('/') != std::string::npos) end = stop;
        at = stop;
      }
    }
    // Punctuation after a path belongs to the sentence.
    while (end > i + 1 && (text[end - 1] == ':' || text[end - 1] == ',' || text[end - 1] == '.' ||
                           text[end - 1] == ')' || text[end - 1] == ';'))
      --end;
    r += "<path>";
    i = end;
  }
  return r;
}

}  // namespace kx
