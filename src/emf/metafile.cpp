#include "emf/metafile.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include "emf/emfrecords.h"
#include "platform/clipboard.h"
#include "platform/files.h"

namespace kx {

namespace {
int32_t I32(const std::string& b, size_t o) {
  uint32_t v;
  std::memcpy(&v, b.data() + o, 4);
  return int32_t(v);
}
}  // namespace

bool ReadEmfHeader(const std::string& b, TkxEmfHeader& h) {
  using namespace emf;
  if (b.size() < header::MinSize || uint32_t(I32(b, kRecordType)) != EMR_HEADER ||
      uint32_t(I32(b, header::Signature)) != header::kSignature)
    return false;
  uint32_t size = uint32_t(I32(b, kRecordSize));
  if (size < header::MinSize || size > b.size()) return false;
  const uint32_t bounds = header::Bounds, frame = header::Frame;
  h.BoundsL = I32(b, bounds + rectl::Left), h.BoundsT = I32(b, bounds + rectl::Top);
  h.BoundsR = I32(b, bounds + rectl::Right), h.BoundsB = I32(b, bounds + rectl::Bottom);
  h.FrameL = I32(b, frame + rectl::Left), h.FrameT = I32(b, frame + rectl::Top);
  h.FrameR = I32(b, frame + rectl::Right), h.FrameB = I32(b, frame + rectl::Bottom);
  h.Bytes = uint32_t(I32(b, header::Bytes));
  h.Records = uint32_t(I32(b, header::Records));
  h.Handles = uint16_t(uint32_t(I32(b, header::Handles)) & 0xFFFF);
  h.DevicePxX = I32(b, header::DevicePx + pointl::X), h.DevicePxY = I32(b, header::DevicePx + pointl::Y);
  h.DeviceMmX = I32(b, header::DeviceMm + pointl::X), h.DeviceMmY = I32(b, header::DeviceMm + pointl::Y);
  return true;
}

void TkxMetafile::LoadFromBytes(std::string bytes) {
  TkxEmfHeader h;
  if (!ReadEmfHeader(bytes, h)) throw std::runtime_error("Invalid metafile");
  FBytes = std::move(bytes);
  FHeader = h;
}

void TkxMetafile::LoadFromFile(const std::string& path) { LoadFromBytes(ReadWholeFile(path)); }

void TkxMetafile::LoadFromClipboard() {
  std::string data;
  if (!ClipboardGetMetafile(data)) throw std::runtime_error("Unsupported clipboard format");
  LoadFromBytes(std::move(data));
}

void TkxMetafile::SaveToFile(const std::string& path) const { WriteWholeFile(path, FBytes); }

bool TkxMetafile::PagePoints(double& width, double& height) const {
  using namespace emf;
  size_t off = 0;
  for (int records = 0; records < 16 && FBytes.size() - off >= kRecordData; ++records) {
    uint32_t type = uint32_t(I32(FBytes, off + kRecordType)), size = uint32_t(I32(FBytes, off + kRecordSize));
    if (size < kRecordData || size > FBytes.size() - off) return false;
    if (type == EMR_GDICOMMENT && size >= 12 + sizeof kPageComment + 16 &&
        uint32_t(I32(FBytes, off + 8)) >= sizeof kPageComment + 16 &&
        std::memcmp(FBytes.data() + off + 12, kPageComment, sizeof kPageComment) == 0) {
      std::memcpy(&width, FBytes.data() + off + 12 + sizeof kPageComment, 8);
      std::memcpy(&height, FBytes.data() + off + 20 + sizeof kPageComment, 8);
      return std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0 && width < 1e6 && height < 1e6;
    }
    off += size;
  }
  return false;
}

// frame (0.01 mm) x device pixels / (device millimetres x 100), halves away from zero.
static int32_t Natural(int64_t frame, int32_t px, int32_t mm) {
  if (mm == 0) return 0;
  double v = double(frame) * px / (double(mm) * 100.0);
  if (!std::isfinite(v) || std::fabs(v) > 2e9) return 0;
  return int32_t(std::lround(v));
}

int32_t TkxMetafile::Width() const {
  return Natural(int64_t(FHeader.FrameR) - FHeader.FrameL, FHeader.DevicePxX, FHeader.DeviceMmX);
}
int32_t TkxMetafile::Height() const {
  return Natural(int64_t(FHeader.FrameB) - FHeader.FrameT, FHeader.DevicePxY, FHeader.DeviceMmY);
}

}  // namespace kx
