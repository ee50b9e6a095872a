#include "emf/fontcomment.h"

#include <cstring>

namespace kx {

namespace {

constexpr char kTag[8] = {'L', 'U', 'M', 'I', 'F', 'O', 'N', 'T'};
constexpr size_t kHead = sizeof kTag + 12;  // tag, weight, italic, length of the name

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char(v >> (8 * i) & 0xFF));
}

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

std::string FontComment(const TkxCarriedFont& font) {
  std::string s(kTag, sizeof kTag);
  Put32(s, uint32_t(font.Weight));
  Put32(s, font.Italic ? 1 : 0);
  Put32(s, uint32_t(font.Face.size()));
  s += font.Face;
  s.resize((s.size() + 3) / 4 * 4, '\0');
  return s + font.Program;
}

bool ReadFontComment(const uint8_t* data, size_t size, TkxCarriedFont& out) {
  if (size < kHead || std::memcmp(data, kTag, sizeof kTag) != 0) return false;
  uint32_t nameLen = Get32(data + 16);
  if (nameLen > 256 || nameLen > size - kHead) return false;
  size_t program = (kHead + nameLen + 3) / 4 * 4;
  if (program > size) return false;
  out.Weight = int(Get32(data + 8));
  out.Italic = Get32(data + 12) != 0;
  out.Face.assign(reinterpret_cast<const char*>(data + kHead), nameLen);
  out.Program.assign(reinterpret_cast<const char*>(data + program), size - program);
  return true;
}

}  // namespace kx
