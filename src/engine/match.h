#pragma once
// File-name matching: masks become regular expressions anchored at the end.
#include <string>

namespace kx {

inline constexpr int roIgnoreCase = 1;

// The regular-expression service. Errors (an invalid pattern) raise RegexError.
class Regex {
 public:
  static bool IsMatch(const std::string& pattern, int options, const std::string& input);
  static std::string Replace(const std::string& pattern, const std::string& input, const std::string& replacement);
};

// "*.doc?" gives ".*\.doc.?$": '*' any run, '?' zero or one character.
std::string MaskToRegex(const std::string& mask);

class TkxMatchBase {
 public:
  virtual ~TkxMatchBase() = default;
  virtual bool Matches(const std::string& fileName, const std::string& pattern) const;  // accepts all
};

class TkxMatch : public TkxMatchBase {
 public:
  // True when `pattern` matches somewhere in `fileName`, letter case ignored; an
  // invalid pattern accepts every file.
  bool Matches(const std::string& fileName, const std::string& pattern) const override;
};

// The global matcher; the batch accepts every file while there is none.
extern TkxMatchBase* Matcher;

}  // namespace kx
