#include "pngmodule/bmpread.h"

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

#include "emf/dib.h"

namespace kxpng {

namespace {
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;
constexpr uint64_t kMaxRowPixels = uint64_t(32767) * 32767;  // a row at a time: only the sides are bounded
constexpr size_t kMaxHeader = 1 << 16;
constexpr size_t kFileHeader = 14;  // BITMAPFILEHEADER
constexpr size_t kOffBits = 10;
}  // namespace

bool ReadBmp(const std::string& bytes, TkxImage& out, std::string& why) {
  if (bytes.size() < kFileHeader + 12 || bytes[0] != 'B' || bytes[1] != 'M') return why = "not a bitmap file", false;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
  uint64_t offBits = p[kOffBits] | p[kOffBits + 1] << 8 | p[kOffBits + 2] << 16 | uint32_t(p[kOffBits + 3]) << 24;
  // The header and its colour table end where the pixels begin.
  size_t infoSize =
      offBits >= kFileHeader && offBits <= bytes.size() ? size_t(offBits) - kFileHeader : bytes.size() - kFileHeader;
  kx::TkxDib dib;
  if (!kx::ReadDibHeader(p + kFileHeader, infoSize, kMaxPixels, dib, why)) return false;
  if (dib.Palette.size() < dib.PaletteSize) return why = "palette runs past the pixels", false;
  if (dib.Rle() ? offBits >= bytes.size() : offBits > bytes.size() || dib.PixelBytes() > bytes.size() - offBits)
    return why = dib.Rle() ? "no pixels" : "pixels run past the end of the file", false;

  out = TkxImage{};
  out.Width = uint32_t(dib.Width), out.Height = uint32_t(dib.Height);
  out.Bits = dib.Bits <= 8 ? dib.Bits : 24;
  for (uint32_t c : dib.Palette) {
    out.Palette.push_back(uint8_t(c >> 16));
    out.Palette.push_back(uint8_t(c >> 8));
    out.Palette.push_back(uint8_t(c));
  }
  const bool palette = out.Bits <= 8;
  out.Rows.assign(out.Height, std::vector<uint8_t>(size_t(out.Width) * (palette ? 1 : 3), 0));
  kx::DecodeDibRows(dib, p + offBits, bytes.size() - size_t(offBits), kx::TkxDibValues::Indices, 0,
                    [&](uint32_t y, const uint32_t* v) {
                      uint8_t* dst = out.Rows[y].data();
                      if (palette) {
                        for (uint32_t x = 0; x < out.Width; ++x) dst[x] = uint8_t(v[x]);
                        return;
                      }
                      for (uint32_t x = 0; x < out.Width; ++x, dst += 3)
                        dst[0] = uint8_t(v[x] >> 16), dst[1] = uint8_t(v[x] >> 8), dst[2] = uint8_t(v[x]);
                    });
  return true;
}

bool TkxBmpRows::Open(int fd, std::string& why) {
  FFd = fd;
  struct stat st {};
  if (fstat(fd, &st) != 0) return why = "cannot read the file", false;
  uint64_t fileSize = uint64_t(st.st_size);
  std::string head(std::min<uint64_t>(fileSize, kMaxHeader), '\0');
  if (pread(fd, head.data(), head.size(), 0) != ssize_t(head.size())) return why = "cannot read the file", false;
  if (head.size() < kFileHeader + 12 || head[0] != 'B' || head[1] != 'M') return why = "not a bitmap file", false;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(head.data());
  FOffBits = p[kOffBits] | p[kOffBits + 1] << 8 | p[kOffBits + 2] << 16 | uint32_t(p[kOffBits + 3]) << 24;
  if (FOffBits < kFileHeader || FOffBits > head.size()) return why = "header out of reach", false;
  if (!kx::ReadDibHeader(p + kFileHeader, size_t(FOffBits) - kFileHeader, kMaxRowPixels, FDib, why)) return false;
  if (FDib.Rle()) return why = "compressed rows", false;
  if (FDib.Palette.size() < FDib.PaletteSize) return why = "palette runs past the pixels", false;
  if (FDib.PixelBytes() > fileSize - FOffBits) return why = "pixels run past the end of the file", false;
  FImage = TkxImage{};
  FImage.Width = uint32_t(FDib.Width), FImage.Height = uint32_t(FDib.Height);
  FImage.Bits = FDib.Bits <= 8 ? FDib.Bits : 24;
  for (uint32_t c : FDib.Palette) {
    FImage.Palette.push_back(uint8_t(c >> 16));
    FImage.Palette.push_back(uint8_t(c >> 8));
    FImage.Palette.push_back(uint8_t(c));
  }
  FRaw.assign(size_t(FDib.RowBytes()), '\0');
  return true;
}

const uint8_t* TkxBmpRows::Row(uint32_t y) {
  if (y >= FImage.Height) return nullptr;
  std::vector<uint8_t>& out = FRow;
  uint64_t index = FDib.BottomUp ? FImage.Height - 1 - y : y;
  if (pread(FFd, FRaw.data(), FRaw.size(), off_t(FOffBits + index * FRaw.size())) != ssize_t(FRaw.size()))
    return nullptr;
  kx::TkxDib one = FDib;
  one.Height = 1;
  const bool palette = FImage.Bits <= 8;
  out.assign(size_t(FImage.Width) * (palette ? 1 : 3), 0);
  kx::DecodeDibRows(one, reinterpret_cast<const uint8_t*>(FRaw.data()), FRaw.size(), kx::TkxDibValues::Indices, 0,
                    [&](uint32_t, const uint32_t* v) {
                      uint8_t* dst = out.data();
                      if (palette) {
                        for (uint32_t x = 0; x < FImage.Width; ++x) dst[x] = uint8_t(v[x]);
                        return;
                      }
                      for (uint32_t x = 0; x < FImage.Width; ++x, dst += 3)
                        dst[0] = uint8_t(v[x] >> 16), dst[1] = uint8_t(v[x] >> 8), dst[2] = uint8_t(v[x]);
                    });
  return out.data();
}

}  // namespace kxpng
