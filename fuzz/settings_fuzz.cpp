// Arbitrary settings text: splitting, key matching, writing and both readings.
#include <cstdint>
#include <string>

#include "core/strlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  kx::TkxStringList l;
  l.SetText(text);
  std::string key = l.Count() ? l[0].substr(0, l[0].find('=')) : text.substr(0, 8);
  std::erase_if(key,
                [](char c) { return c == '\0' || c == '\r' || c == '\n' || c == '='; });  // keys hold none of these
  std::string value = l.GetValue(key);
  l.SetValue(key, value + "x");
  l.SetValue(key, "");
  kx::TkxStringList again;
  again.SetText(l.GetText());
  if (again.Count() != l.Count()) __builtin_trap();  // a written list reads back the same
  for (int i = 0; i < l.Count(); ++i) {
    kx::ReadBool(l[i], false);
    kx::ReadInt(l[i], 0);
  }
  return 0;
}
