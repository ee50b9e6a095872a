#include "convert/emfbuild.h"

#include <cstring>

namespace kxtest {

namespace {
void Put(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char(v >> (8 * i) & 0xFF));
}
void Set(std::string& s, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[off + size_t(i)] = char(v >> (8 * i) & 0xFF);
}
}  // namespace

EmfBuilder::EmfBuilder(int32_t frameW, int32_t frameH, int32_t devPxW, int32_t devPxH, int32_t devMmW, int32_t devMmH) {
  std::string& h = FHeader;
  Put(h, 1);
  Put(h, 88);
  for (int32_t v : {0, 0, devPxW - 1, devPxH - 1, 0, 0, frameW, frameH}) Put(h, uint32_t(v));
  Put(h, 0x464D4520);
  Put(h, 0x10000);
  Put(h, 0);  // bytes, filled in later
  Put(h, 0);  // records
  Put(h, 16);  // handles (and reserved)
  Put(h, 0);
  Put(h, 0);
  Put(h, 0);
  for (int32_t v : {devPxW, devPxH, devMmW, devMmH}) Put(h, uint32_t(v));
}

EmfBuilder& EmfBuilder::Record(uint32_t type, const std::vector<int32_t>& words) {
  std::string r;
  Put(r, type);
  Put(r, uint32_t(8 + words.size() * 4));
  for (int32_t w : words) Put(r, uint32_t(w));
  FRecords.push_back(r);
  return *this;
}

EmfBuilder& EmfBuilder::Raw(const std::string& record) {
  FRecords.push_back(record);
  return *this;
}

EmfBuilder& EmfBuilder::HimetricMapping() {
  return Record(17, {8}).Record(11, {96, 96}).Record(9, {2540, 2540}).Record(12, {0, 0}).Record(10, {0, 0});
}

EmfBuilder& EmfBuilder::SolidBrush(uint32_t handle, uint32_t colorref) {
  return Record(39, {int32_t(handle), 0, int32_t(colorref), 0});
}

EmfBuilder& EmfBuilder::Select(uint32_t handle) { return Record(37, {int32_t(handle)}); }

EmfBuilder& EmfBuilder::Rectangle(int32_t l, int32_t t, int32_t r, int32_t b) { return Record(43, {l, t, r, b}); }

EmfBuilder& EmfBuilder::Font(uint32_t handle, int32_t height, const std::u16string& face, int32_t weight) {
  std::string r;
  Put(r, 82);
  Put(r, 0);
  Put(r, handle);
  for (int32_t v : {height, 0, 0, 0, weight}) Put(r, uint32_t(v));
  Put(r, 0);  // italic, underline, strike-out, charset
  Put(r, 0);  // precisions, quality, pitch
  std::u16string name = face;
  name.resize(32, u'\0');
  for (char16_t c : name) r.push_back(char(c & 0xFF)), r.push_back(char(c >> 8));
  r.append(332 - r.size(), '\0');
  Set(r, 4, uint32_t(r.size()));
  FRecords.push_back(r);
  return *this;
}

EmfBuilder& EmfBuilder::TextOut(int32_t x, int32_t y, const std::u16string& text, const std::vector<int32_t>& dx) {
  std::string r;
  Put(r, 84);
  Put(r, 0);
  for (int32_t v : {0, 0, 0, 0}) Put(r, uint32_t(v));  // bounds
  Put(r, 1);  // GM_COMPATIBLE
  Put(r, 0);
  Put(r, 0);
  Put(r, uint32_t(x));
  Put(r, uint32_t(y));
  Put(r, uint32_t(text.size()));
  size_t offStringAt = r.size();
  Put(r, 0);
  Put(r, 0);  // options
  for (int32_t v : {0, 0, 0, 0}) Put(r, uint32_t(v));
  size_t offDxAt = r.size();
  Put(r, 0);
  Set(r, offStringAt, uint32_t(r.size()));
  for (char16_t c : text) r.push_back(char(c & 0xFF)), r.push_back(char(c >> 8));
  while (r.size() % 4) r.push_back('\0');
  Set(r, offDxAt, dx.empty() ? 0 : uint32_t(r.size()));
  for (int32_t d : dx) Put(r, uint32_t(d));
  Set(r, 4, uint32_t(r.size()));
  FRecords.push_back(r);
  return *this;
}

std::string EmfBuilder::Bytes() const {
  std::string all = FHeader;
  for (const auto& r : FRecords) all += r;
  std::string eof;
  Put(eof, 14);
  Put(eof, 20);
  Put(eof, 0);
  Put(eof, 0);
  Put(eof, 20);
  all += eof;
  Set(all, 48, uint32_t(all.size()));
  Set(all, 52, uint32_t(FRecords.size() + 2));
  return all;
}

}  // namespace kxtest
