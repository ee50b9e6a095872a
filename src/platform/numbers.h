#pragma once
// The one reader of integers in text. Callers put their own rules around it (a
// sign, a "$" or "0x" prefix, the range they take); the digits are read here.
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>
#include <system_error>

namespace kx {

// `text` as a whole number: digits of `base` (10 or 16) and nothing else, no sign,
// blank or prefix, at most `max`. Nothing when the text is not such a number.
inline std::optional<uint64_t> ReadDigits(std::string_view text, uint64_t max = UINT64_MAX, int base = 10) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end || value > max) return std::nullopt;
  return value;
}

}  // namespace kx
