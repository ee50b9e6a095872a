#include "emf/dib.h"

#include <algorithm>
#include <cstring>

#include "emf/emfrecords.h"

namespace kx {

namespace {

using namespace emf;

struct TBytes {
  const uint8_t* P;
  size_t N;
  bool Has(uint64_t off, uint64_t len) const { return off <= N && len <= N - off; }
  uint32_t U32(size_t o) const {
    return Has(o, 4) ? uint32_t(P[o] | P[o + 1] << 8 | P[o + 2] << 16 | uint32_t(P[o + 3]) << 24) : 0;
  }
  uint16_t U16(size_t o) const { return Has(o, 2) ? uint16_t(P[o] | P[o + 1] << 8) : 0; }
};

// One channel of a bit-field pixel scaled to 8 bits, worked out once per bitmap.
struct TChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  uint64_t Max = 0;
  explicit TChannel(uint32_t mask) : Mask(mask) {
    while (mask && !(mask & 1)) mask >>= 1, ++Shift;
    Max = mask;
  }
  uint32_t operator()(uint32_t v) const { return Max ? uint32_t(uint64_t((v & Mask) >> Shift) * 255 / Max) : 0; }
};

}  // namespace

bool TkxDib::Rle() const { return Compression == BI_RLE8 || Compression == BI_RLE4; }

uint64_t TkxDib::RowBytes() const { return (uint64_t(Width) * uint64_t(Bits) + 31) / 32 * 4; }

uint64_t TkxDib::PixelBytes() const { return RowBytes() * uint64_t(Height); }

bool ReadDibHeader(const uint8_t* info, size_t size, uint64_t maxPixels, TkxDib& dib, std::string& why) {
  TBytes in{info, info ? size : 0};
  dib = TkxDib{};
  uint32_t hsize = in.U32(bmi::Size);
  int64_t w, h;
  uint32_t clrUsed = 0;
  if (hsize == bmi::CoreSize && in.Has(0, hsize)) {
    w = in.U16(bmi::CoreWidth), h = int16_t(in.U16(bmi::CoreHeight)), dib.Bits = in.U16(bmi::CoreBitCount);
  } else if (hsize >= bmi::InfoSize && in.Has(0, hsize)) {
    w = int32_t(in.U32(bmi::Width)), h = int32_t(in.U32(bmi::Height)), dib.Bits = in.U16(bmi::BitCount);
    dib.Compression = in.U32(bmi::Compression), clrUsed = in.U32(bmi::ClrUsed);
  } else {
    return why = "unknown bitmap header", false;
  }
  dib.BottomUp = h > 0;
  if (h < 0) h = -h;
  if (w <= 0 || h <= 0 || w > 32767 || h > 32767 || uint64_t(w) * uint64_t(h) > maxPixels)
    return why = "bitmap size out of range", false;
  dib.Width = int32_t(w), dib.Height = int32_t(h);
  int bpp = dib.Bits;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return why = "unsupported depth", false;
  uint32_t comp = dib.Compression;
  bool fields = comp == BI_BITFIELDS || comp == BI_ALPHABITFIELDS;
  if ((comp == BI_RLE8 && bpp != 8) || (comp == BI_RLE4 && bpp != 4)) return why = "bad compression", false;
  if (fields && bpp != 16 && bpp != 32) return why = "bad bit fields", false;
  if (comp != BI_RGB && !dib.Rle() && !fields) return why = "unsupported compression", false;

  size_t palOff = hsize;
  if (fields) {
    size_t at = hsize >= bmi::V2Size ? bmi::RedMask : hsize;
    int count = comp == BI_ALPHABITFIELDS || hsize >= bmi::V3Size ? 4 : 3;
    if (!in.Has(at, size_t(count) * 4)) return why = "bit fields run past the header", false;
    for (int i = 0; i < count; ++i) dib.Masks[i] = in.U32(at + size_t(i) * 4);
    if (hsize < bmi::V2Size) palOff += size_t(count) * 4;
  } else if (bpp == 16) {
    dib.Masks[0] = 0x7C00, dib.Masks[1] = 0x03E0, dib.Masks[2] = 0x001F;
  } else if (bpp == 32) {
    dib.Masks[0] = 0xFF0000, dib.Masks[1] = 0xFF00, dib.Masks[2] = 0xFF, dib.Masks[3] = 0xFF000000u;
  }
  if (bpp <= 8) {
    uint32_t most = 1u << bpp;
    dib.PaletteSize = clrUsed && clrUsed < most ? clrUsed : most;
    size_t entry = hsize == bmi::CoreSize ? 3 : 4;
    for (uint32_t i = 0; i < dib.PaletteSize && in.Has(palOff + i * entry, 3); ++i) {
      const uint8_t* e = info + palOff + i * entry;
      dib.Palette.push_back(0xFF000000u | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0]);
    }
  }
  return true;
}

namespace {

using TRowSink = std::function<void(uint32_t y, const uint32_t* values)>;

// A palette index as the caller wants it: the index itself, or its colour.
struct TPaletteLookup {
  const std::vector<uint32_t>& Palette;
  bool Indices;
  uint32_t operator()(uint32_t i) const {
    const uint32_t count = uint32_t(Palette.size());
    if (i >= count) i = 0;
    if (Indices) return i;
    return count ? Palette[i] : 0xFF000000u;
  }
};

// The palette indices of an RLE bitmap, its runs and jumps over rows taken in data
// order; 0xFFFF marks a pixel no run reached.
std::vector<uint16_t> ExpandRle(const TkxDib& dib, const uint8_t* bits, size_t size) {
  const int64_t w = dib.Width, h = dib.Height;
  const bool rle8 = dib.Compression == BI_RLE8;
  std::vector<uint16_t> idx(size_t(w) * size_t(h), 0xFFFF);
  int64_t x = 0, y = 0;
  size_t i = 0;
  auto put = [&](uint32_t v) {
    if (x < w && y < h) idx[size_t(y) * size_t(w) + size_t(x)] = uint16_t(v);
    ++x;
  };
  while (i + 1 < size && y < h) {
    uint8_t n = bits[i], v = bits[i + 1];
    i += 2;
    if (n) {
      for (int k = 0; k < n && x <= w; ++k) put(rle8 ? v : ((k & 1) ? v & 0xF : v >> 4));
    } else if (v == 0) {
      x = 0, ++y;
    } else if (v == 1) {
      break;
    } else if (v == 2) {
      if (i + 1 >= size) break;
      x += bits[i], y += bits[i + 1];
      i += 2;
    } else {
      size_t len = rle8 ? v : (size_t(v) + 1) / 2;
      if (len > size - i) break;
      for (int k = 0; k < v; ++k) {
        uint8_t b = bits[i + size_t(rle8 ? k : k / 2)];
        put(rle8 ? b : ((k & 1) ? b & 0xF : b >> 4));
      }
      i += (len + 1) & ~size_t(1);
    }
  }
  return idx;
}

void DecodeRleRows(const TkxDib& dib, const uint8_t* bits, size_t size, const TPaletteLookup& lookup, uint32_t blank,
                   const TRowSink& row) {
  const int64_t w = dib.Width, h = dib.Height;
  const std::vector<uint16_t> idx = ExpandRle(dib, bits, size);
  std::vector<uint32_t> line(size_t(w), blank);
  for (int64_t t = 0; t < h; ++t) {
    const uint16_t* src = idx.data() + size_t(dib.BottomUp ? h - 1 - t : t) * size_t(w);
    for (int64_t k = 0; k < w; ++k) line[size_t(k)] = src[k] == 0xFFFF ? blank : lookup(src[k]);
    row(uint32_t(t), line.data());
  }
}

// How the 16- and 32-bit pixels of one bitmap become colours.
struct TPixelFormat {
  TChannel Red, Green, Blue, Alpha;
  bool KeepAlpha;  // 32-bit pixels keep their own alpha
  bool Plain32;    // 32-bit pixels are 0xAARRGGBB already
  TPixelFormat(const TkxDib& dib, TkxDibValues values)
      : Red(dib.Masks[0]),
        Green(dib.Masks[1]),
        Blue(dib.Masks[2]),
        Alpha(dib.Masks[3]),
        KeepAlpha(values == TkxDibValues::ColorsWithAlpha && dib.Bits == 32 && dib.Masks[3] != 0),
        Plain32(dib.Bits == 32 && dib.Masks[0] == 0xFF0000 && dib.Masks[1] == 0xFF00 && dib.Masks[2] == 0xFF &&
                (!KeepAlpha || dib.Masks[3] == 0xFF000000u)) {}
};

// One uncompressed row, as wide as the bitmap.
void DecodeRow(const TkxDib& dib, const uint8_t* src, const TPaletteLookup& lookup, const TPixelFormat& px,
               uint32_t* dst) {
  const int64_t w = dib.Width;
  switch (dib.Bits) {
    case 1:
      for (int64_t x = 0; x < w; ++x) dst[x] = lookup((src[x >> 3] >> (7 - (x & 7))) & 1);
      break;
    case 4:
      for (int64_t x = 0; x < w; ++x) dst[x] = lookup((src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF);
      break;
    case 8:
      for (int64_t x = 0; x < w; ++x) dst[x] = lookup(src[x]);
      break;
    case 24:
      for (int64_t x = 0; x < w; ++x)
        dst[x] = 0xFF000000u | uint32_t(src[x * 3 + 2]) << 16 | uint32_t(src[x * 3 + 1]) << 8 | src[x * 3];
      break;
    default:
      for (int64_t x = 0; x < w; ++x) {
        uint32_t v =
            dib.Bits == 16
                ? uint32_t(src[x * 2] | src[x * 2 + 1] << 8)
                : uint32_t(src[x * 4] | src[x * 4 + 1] << 8 | src[x * 4 + 2] << 16 | uint32_t(src[x * 4 + 3]) << 24);
        if (px.Plain32) {
          dst[x] = px.KeepAlpha ? v : 0xFF000000u | v;
          continue;
        }
        uint32_t a = px.KeepAlpha ? px.Alpha(v) : 255;
        dst[x] = a << 24 | px.Red(v) << 16 | px.Green(v) << 8 | px.Blue(v);
      }
      break;
  }
}

}  // namespace

void DecodeDibRows(const TkxDib& dib, const uint8_t* bits, size_t size, TkxDibValues values, uint32_t blank,
                   const TRowSink& row) {
  const int64_t w = dib.Width, h = dib.Height;
  if (w <= 0 || h <= 0) return;
  if (!bits) size = 0;
  const TPaletteLookup lookup{dib.Palette, values == TkxDibValues::Indices && dib.Bits <= 8};
  if (dib.Rle()) {
    DecodeRleRows(dib, bits, size, lookup, blank, row);
    return;
  }
  const uint64_t stride = dib.RowBytes();
  const TPixelFormat px(dib, values);
  std::vector<uint32_t> line(size_t(w), blank);
  for (int64_t t = 0; t < h; ++t) {
    uint64_t at = uint64_t(dib.BottomUp ? h - 1 - t : t) * stride;
    if (at > size || stride > size - at) {
      std::fill(line.begin(), line.end(), blank);
      row(uint32_t(t), line.data());
      continue;
    }
    DecodeRow(dib, bits + at, lookup, px, line.data());
    row(uint32_t(t), line.data());
  }
}

}  // namespace kx
