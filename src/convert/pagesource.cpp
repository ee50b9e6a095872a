#include "convert/pagesource.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "emf/emfrecords.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kx {

namespace {

const std::string kPngSignature("\x89PNG\r\n\x1A\n", 8);
constexpr const char* kKeyword = "Source";
// A page's header and its first chunks are far below this; the rest is never read.
constexpr size_t kHeadBytes = 1 << 16;

uint32_t Le32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + size_t(i)]);
  return v;
}

void PutLe32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = char(v >> (8 * i) & 0xFF);
}

uint32_t Be32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(b[at + size_t(i)]);
  return v;
}

std::string Be32Bytes(uint32_t v) {
  std::string r(4, '\0');
  for (int i = 0; i < 4; ++i) r[size_t(i)] = char(v >> (8 * (3 - i)) & 0xFF);
  return r;
}

// The CRC-32 of PNG chunks (ISO 3309, the polynomial 0xEDB88320 reflected).
uint32_t Crc32(const std::string& bytes) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool IsEmf(const std::string& b) {
  return b.size() >= emf::header::MinSize && Le32(b, 0) == 1 &&
         Le32(b, emf::header::Signature) == emf::header::kSignature && Le32(b, 4) >= emf::header::MinSize &&
         Le32(b, 4) <= b.size();
}

// The text of a PNG's "Source" chunk, if any, among the chunks before the image data.
std::string PngSource(const std::string& b) {
  size_t at = kPngSignature.size();
  while (at + 8 <= b.size()) {
    uint32_t len = Be32(b, at);
    std::string type = b.substr(at + 4, 4);
    if (type == "IDAT" || type == "IEND" || len > b.size() - at - 8) break;
    std::string data = b.substr(at + 8, len);
    size_t nul = data.find('\0');
    if (nul != std::string::npos && data.compare(0, nul, kKeyword) == 0) {
      if (type == "tEXt") return data.substr(nul + 1);
      // iTXt: keyword, compression flag and method, language, translated keyword, text.
      if (type == "iTXt" && nul + 3 <= data.size() && data[nul + 1] == 0) {
        size_t lang = data.find('\0', nul + 3);
        size_t translated = lang == std::string::npos ? lang : data.find('\0', lang + 1);
        if (translated != std::string::npos) return data.substr(translated + 1);
      }
    }
    at += 8 + size_t(len) + 4;
  }
  return std::string();
}

// The second part of an EMF header's description.
std::string EmfSource(const std::string& b) {
  uint32_t size = Le32(b, 4), count = Le32(b, emf::header::Description), off = Le32(b, emf::header::Description + 4);
  if (count == 0 || off < emf::header::MinSize || off > size || count > (size - off) / 2) return std::string();
  std::u16string text;
  for (uint32_t i = 0; i < count; ++i)
    text.push_back(
        char16_t(static_cast<unsigned char>(b[off + 2 * i]) | static_cast<unsigned char>(b[off + 2 * i + 1]) << 8));
  size_t first = text.find(u'\0');
  if (first == std::u16string::npos) return std::string();
  size_t second = text.find(u'\0', first + 1);
  return Utf16ToUtf8(
      text.substr(first + 1, second == std::u16string::npos ? std::u16string::npos : second - first - 1));
}

}  // namespace

std::string WithEmfSource(const std::string& emf, const std::string& program, const std::string& source) {
  if (!IsEmf(emf)) return emf;
  uint32_t size = Le32(emf, 4);
  uint32_t descOff = Le32(emf, emf::header::Description + 4), descCount = Le32(emf, emf::header::Description);
  uint32_t pfSize = size >= 100 ? Le32(emf, 88) : 0, pfOff = size >= 100 ? Le32(emf, 92) : 0;
  if (pfSize == 0 || pfOff < emf::header::MinSize || pfOff > size || pfSize > size - pfOff) pfSize = pfOff = 0;
  // The fixed fields the header has (88, 100 or 108 bytes), before any variable part.
  uint32_t fixed = emf::header::MinSize;
  for (uint32_t candidate : {100u, 108u}) {
    if (size < candidate) break;
    if (descCount && descOff < candidate) break;
    if (pfSize && pfOff < candidate) break;
    fixed = candidate;
  }
  std::u16string text = Utf8ToUtf16(program);
  text.push_back(u'\0');
  text += Utf8ToUtf16(source);
  text.push_back(u'\0');
  text.push_back(u'\0');
  std::string desc;
  for (char16_t c : text) desc.push_back(char(c & 0xFF)), desc.push_back(char(c >> 8));
  while (desc.size() % 4) desc.push_back('\0');
  std::string head = emf.substr(0, fixed) + desc;
  PutLe32(head, emf::header::Description, uint32_t(text.size()));
  PutLe32(head, emf::header::Description + 4, fixed);
  if (pfSize) {
    PutLe32(head, 92, uint32_t(head.size()));
    head += emf.substr(pfOff, pfSize);
    while (head.size() % 4) head.push_back('\0');
  }
  PutLe32(head, 4, uint32_t(head.size()));
  std::string result = head + emf.substr(size);
  PutLe32(result, emf::header::Bytes, uint32_t(result.size()));
  return result;
}

bool AddPngSource(std::string& png, const std::string& source) {
  if (png.size() < 33 || png.compare(0, 8, kPngSignature) != 0 || png.compare(12, 4, "IHDR") != 0) return false;
  size_t afterHeader = 8 + 8 + size_t(Be32(png, 8)) + 4;
  if (afterHeader > png.size()) return false;
  // iTXt: the keyword, uncompressed, no language, no translated keyword, the UTF-8 text.
  std::string chunk = std::string("iTXt") + kKeyword + std::string(1, '\0') + std::string(4, '\0') + source;
  png.insert(afterHeader, Be32Bytes(uint32_t(chunk.size() - 4)) + chunk + Be32Bytes(Crc32(chunk)));
  return true;
}

std::string ReadPageSource(const std::string& path) {
  std::string head;
  try {
    head = ReadWholeFile(path, kHeadBytes);
  } catch (const std::exception&) {
    return std::string();  // a page that cannot be read records nothing that can be known
  }
  if (head.compare(0, kPngSignature.size(), kPngSignature) == 0) return PngSource(head);
  if (IsEmf(head)) return EmfSource(head);
  return std::string();
}

}  // namespace kx
