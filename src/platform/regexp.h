#pragma once
// Regular expressions with the ECMAScript grammar. Errors raise RegexError
// carrying the engine's message.
#include <stdexcept>
#include <string>
#include <string_view>

namespace kx {

class RegexError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True when `pattern` matches anywhere in `input`.
bool RegexSearch(const std::string& pattern, bool ignoreCase, const std::string& input);
// `input` with its first match replaced by `replacement` (taken literally).
std::string RegexReplaceFirst(const std::string& pattern, bool ignoreCase, const std::string& input,
                              const std::string& replacement);

}  // namespace kx
