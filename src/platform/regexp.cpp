#include "platform/regexp.h"

#include <regex>

namespace kx {

static std::regex Compile(const std::string& pattern, bool ignoreCase) {
  auto flags = std::regex::ECMAScript;
  if (ignoreCase) flags |= std::regex::icase;
  try {
    return std::regex(pattern, flags);
  } catch (const std::regex_error& e) {
    throw RegexError(e.what());
  }
}

bool RegexSearch(const std::string& pattern, bool ignoreCase, const std::string& input) {
  std::regex re = Compile(pattern, ignoreCase);
  try {
    return std::regex_search(input, re);
  } catch (const std::regex_error& e) {  // complexity or stack limits of the engine
    throw RegexError(e.what());
  }
}

std::string RegexReplaceFirst(const std::string& pattern, bool ignoreCase, const std::string& input,
                              const std::string& replacement) {
  std::regex re = Compile(pattern, ignoreCase);
  try {
    std::smatch m;
    if (!std::regex_search(input, m, re)) return input;
    return m.prefix().str() + replacement + m.suffix().str();
  } catch (const std::regex_error& e) {
    throw RegexError(e.what());
  }
}

}  // namespace kx
