#pragma once
// The settings list: ordered text lines read and written as Key=Value pairs.
// Also used as plain lines (recent list, run log). Not thread-safe by itself:
// owners that share one guard it.
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace kx {

class TkxStringList {
 public:
  // Value of the first line whose key equals `key` (letter case ignored); "" if none.
  std::string GetValue(std::string_view key) const;
  // Non-empty value: replaces the first matching line (key in the caller's form)
  // or appends. Empty value: removes the first matching line only.
  void SetValue(std::string_view key, std::string_view value);
  // Index of the first line holding `key`, or -1.
  int IndexOfKey(std::string_view key) const;

  std::string GetText() const;          // every line followed by CR LF
  void SetText(std::string_view text);  // split at CR, LF, CR LF; ends at the first NUL
  // Raise with the cause. Inline: the list's own code stays free of files.
  void LoadFromFile(const std::string& path) { SetText(ReadWholeFile(path)); }
  void SaveToFile(const std::string& path) const { WriteWholeFile(path, GetText()); }

  int Count() const { return int(FLines.size()); }
  const std::string& operator[](int i) const { return FLines.at(size_t(i)); }
  void Add(std::string line) { FLines.push_back(std::move(line)); }
  void Insert(int index, std::string line);
  int IndexOf(std::string_view line) const;  // letter case ignored; -1 when none
  void Clear() { FLines.clear(); }
  const std::vector<std::string>& Lines() const { return FLines; }

 private:
  std::vector<std::string> FLines;
};

// Boolean reading: a number (fraction allowed) is true when not zero; "True", "yes",
// "on" and "False", "no", "off" in any letter case; anything else gives `def`.
bool ReadBool(std::string_view text, bool def);
// Integer reading: leading blanks, optional sign, decimal digits or hex digits after
// "$", "x", "X", "0x", "0X", running to the end and fitting 32 bits; else `def`.
int ReadInt(std::string_view text, int def);

}  // namespace kx
