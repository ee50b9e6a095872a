#pragma once
// Reading the records of an enhanced metafile in tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "emf/emfrecords.h"

namespace kxtest {

struct EmfRecord {
  uint32_t Type = 0;
  size_t Offset = 0, Size = 0;
};

inline uint32_t EmfU32(const std::string& b, size_t o) {
  uint32_t v = 0;
  if (o + 4 <= b.size()) std::memcpy(&v, b.data() + o, 4);
  return v;
}
inline int32_t EmfI32(const std::string& b, size_t o) { return int32_t(EmfU32(b, o)); }
inline float EmfF32(const std::string& b, size_t o) {
  uint32_t u = EmfU32(b, o);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

// Every record in order; stops at a record that runs past the end.
inline std::vector<EmfRecord> EmfRecords(const std::string& emf) {
  std::vector<EmfRecord> r;
  for (size_t o = 0; o + kx::emf::kRecordData <= emf.size();) {
    uint32_t size = EmfU32(emf, o + kx::emf::kRecordSize);
    if (size < kx::emf::kRecordData || size > emf.size() - o) break;
    r.push_back({EmfU32(emf, o + kx::emf::kRecordType), o, size});
    o += size;
  }
  return r;
}

inline std::vector<EmfRecord> EmfRecordsOf(const std::string& emf, uint32_t type) {
  std::vector<EmfRecord> r;
  for (const EmfRecord& rec : EmfRecords(emf))
    if (rec.Type == type) r.push_back(rec);
  return r;
}

// The UTF-16 string and the advances of an EMR_EXTTEXTOUTW record.
inline std::u16string EmfText(const std::string& emf, const EmfRecord& r) {
  uint32_t n = EmfU32(emf, r.Offset + kx::emf::text::Chars), off = EmfU32(emf, r.Offset + kx::emf::text::OffString);
  std::u16string s(n, u'\0');
  std::memcpy(s.data(), emf.data() + r.Offset + off, size_t(n) * 2);
  return s;
}
inline std::vector<int32_t> EmfDx(const std::string& emf, const EmfRecord& r) {
  uint32_t n = EmfU32(emf, r.Offset + kx::emf::text::Chars), off = EmfU32(emf, r.Offset + kx::emf::text::OffDx);
  std::vector<int32_t> dx;
  for (uint32_t i = 0; i < n; ++i) dx.push_back(EmfI32(emf, r.Offset + off + 4 * i));
  return dx;
}

}  // namespace kxtest
