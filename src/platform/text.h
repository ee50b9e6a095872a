#pragma once
// Text helpers. Program text is UTF-8 (the "ANSI" code page of this platform).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

std::string LowerAscii(std::string_view s);
std::string UpperAscii(std::string_view s);
// Case-insensitive equality; folds ASCII letters, compares other bytes exactly.
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);  // letter case ignored
bool EndsWith(std::string_view s, std::string_view suffix);    // letter case counts
bool Contains(std::string_view s, std::string_view part);
// Replaces every occurrence of `from` (non-empty) in one pass, left to right.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
std::string ReplaceFirst(std::string_view s, std::string_view from, std::string_view to);
// Without leading and trailing blanks and control characters.
std::string Trim(std::string_view s);

std::u16string Utf8ToUtf16(std::string_view s);
// A pair of surrogates is one character; a surrogate without its partner is U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s);
// The character that starts at `i` (which moves past it); U+FFFD for a lone surrogate.
char32_t NextUtf16(std::u16string_view s, size_t& i);

}  // namespace kx
