#include "core/strlist.h"

#include <cstdlib>
#include <limits>
#include <stdexcept>

#include "platform/numbers.h"
#include "platform/text.h"

namespace kx {

static std::string_view KeyOf(const std::string& line, bool& hasPair) {
  size_t eq = line.find('=');
  hasPair = eq != std::string::npos;
  return hasPair ? std::string_view(line).substr(0, eq) : std::string_view();
}

int TkxStringList::IndexOfKey(std::string_view key) const {
  for (size_t i = 0; i < FLines.size(); ++i) {
    bool hasPair;
    std::string_view k = KeyOf(FLines[i], hasPair);
    if (hasPair && SameText(k, key)) return int(i);
  }
  return -1;
}

std::string TkxStringList::GetValue(std::string_view key) const {
  int i = IndexOfKey(key);
  if (i < 0) return std::string();
  const std::string& line = FLines[size_t(i)];
  return line.substr(line.find('=') + 1);
}

void TkxStringList::SetValue(std::string_view key, std::string_view value) {
  int i = IndexOfKey(key);
  if (value.empty()) {
    if (i >= 0) FLines.erase(FLines.begin() + i);
    return;
  }
  std::string line = std::string(key) + "=" + std::string(value);
  if (i >= 0)
    FLines[size_t(i)] = std::move(line);
  else
    FLines.push_back(std::move(line));
}

std::string TkxStringList::GetText() const {
  std::string r;
  for (const auto& l : FLines) {
    r += l;
    r += "\r\n";
  }
  return r;
}

void TkxStringList::SetText(std::string_view text) {
  FLines.clear();
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t brk = text.find_first_of("\r\n", pos);
    if (brk == std::string_view::npos) {
      FLines.emplace_back(text.substr(pos));
      break;
    }
    FLines.emplace_back(text.substr(pos, brk - pos));
    pos = brk + 1;
    if (text[brk] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
}

void TkxStringList::Insert(int index, std::string line) {
  if (index < 0 || size_t(index) > FLines.size()) throw std::out_of_range("List index out of bounds");
  FLines.insert(FLines.begin() + index, std::move(line));
}

int TkxStringList::IndexOf(std::string_view line) const {
  for (size_t i = 0; i < FLines.size(); ++i)
    if (SameText(FLines[i], line)) return int(i);
  return -1;
}

// A decimal number in the "C" locale: optional sign, digits with an optional fraction,
// optional exponent, nothing else.
static bool ReadNumber(std::string_view text, double& value) {
  if (text.empty()) return false;
  size_t i = 0;
  if (text[i] == '+' || text[i] == '-') ++i;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    size_t expDigits = 0;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j, ++expDigits;
    if (expDigits == 0) return false;
    i = j;
  }
  if (i != text.size()) return false;
  value = std::strtod(std::string(text).c_str(), nullptr);  // the program runs in the "C" locale
  return true;
}

bool ReadBool(std::string_view text, bool def) {
  double v;
  if (ReadNumber(text, v)) return v != 0;
  for (const char* yes : {"True", "yes", "on"})
    if (SameText(text, yes)) return true;
  for (const char* no : {"False", "no", "off"})
    if (SameText(text, no)) return false;
  return def;
}

int ReadInt(std::string_view text, int def) {
  size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return def;
  text.remove_prefix(start);
  bool neg = text[0] == '-';
  if (neg || text[0] == '+') text.remove_prefix(1);
  int base = 10;
  for (std::string_view prefix : {"$", "0x", "0X", "x", "X"}) {
    if (text.substr(0, prefix.size()) == prefix) {
      base = 16;
      text.remove_prefix(prefix.size());
      break;
    }
  }
  constexpr uint64_t kMax = std::numeric_limits<int>::max();
  std::optional<uint64_t> v = ReadDigits(text, kMax + 1, base);  // one more: the lowest int
  if (!v || (!neg && *v > kMax)) return def;
  return neg ? int(-int64_t(*v)) : int(*v);
}

}  // namespace kx
