#include "engine/match.h"

#include "platform/regexp.h"
#include "platform/text.h"

namespace kx {

TkxMatchBase* Matcher = nullptr;

bool Regex::IsMatch(const std::string& pattern, int options, const std::string& input) {
  return RegexSearch(pattern, (options & roIgnoreCase) != 0, input);
}

std::string Regex::Replace(const std::string& pattern, const std::string& input, const std::string& replacement) {
  return RegexReplaceFirst(pattern, false, input, replacement);
}

std::string MaskToRegex(const std::string& mask) {
  static const char* const kSteps[][2] = {
      {".", "\\."}, {"*", ".*"},  {"?", ".?"},  {"+", "\\+"}, {"^", "\\^"}, {"$", "\\$"},
      {"(", "\\("}, {")", "\\)"}, {"[", "\\["}, {"]", "\\]"}, {"{", "\\{"}, {"}", "\\}"},
  };
  std::string r = mask;
  for (const auto& step : kSteps) r = ReplaceAll(r, step[0], step[1]);
  return r + "$";
}

bool TkxMatchBase::Matches(const std::string&, const std::string&) const { return true; }

bool TkxMatch::Matches(const std::string& fileName, const std::string& pattern) const {
  try {
    return Regex::IsMatch(pattern, roIgnoreCase, fileName);
  } catch (...) {
    return true;
  }
}

}  // namespace kx
