#include "pngmodule/bmpread.h"

#include <cstring>

namespace kxpng {

namespace {

constexpr uint64_t kMaxPixels = uint64_t(1) << 26;

struct In {
  const std::string& B;
  bool Has(uint64_t off, uint64_t len) const { return off <= B.size() && len <= B.size() - off; }
  uint32_t U32(size_t o) const { return Has(o, 4) ? uint32_t(uint8_t(B[o]) | uint8_t(B[o + 1]) << 8 | uint8_t(B[o + 2]) << 16 | uint32_t(uint8_t(B[o + 3])) << 24) : 0; }
  uint16_t U16(size_t o) const { return Has(o, 2) ? uint16_t(uint8_t(B[o]) | uint8_t(B[o + 1]) << 8) : 0; }
  uint8_t U8(size_t o) const { return Has(o, 1) ? uint8_t(B[o]) : 0; }
};

int Shift(uint32_t m) {
  int s = 0;
  while (m && !(m & 1)) m >>= 1, ++s;
  return s;
}

// One colour channel of a bit-field pixel, scaled to 8 bits; worked out once per file.
struct TChannel {
  uint32_t Mask;
  int Shift;
  uint32_t Max;
  explicit TChannel(uint32_t mask) : Mask(mask), Shift(kxpng::Shift(mask)), Max(mask >> Shift) {}
  uint8_t operator()(uint32_t v) const { return Max ? uint8_t(((v & Mask) >> Shift) * 255 / Max) : 0; }
};

}  // namespace

bool ReadBmp(const std::string& bytes, TkxImage& out, std::string& why) {
  In in{bytes};
  if (bytes.size() < 26 || bytes[0] != 'B' || bytes[1] != 'M') return why = "not a bitmap file", false;
  uint32_t offBits = in.U32(10), hsize = in.U32(14);
  int64_t w, h;
  int bpp;
  uint32_t comp = 0, clrUsed = 0;
  if (hsize == 12) {
    w = in.U16(18), h = int16_t(in.U16(20)), bpp = in.U16(24);
  } else if (hsize >= 40 && in.Has(14, hsize)) {
    w = int32_t(in.U32(18)), h = int32_t(in.U32(22)), bpp = in.U16(28);
    comp = in.U32(30), clrUsed = in.U32(46);
  } else {
    return why = "unknown bitmap header", false;
  }
  bool bottomUp = h > 0;
  if (h < 0) h = -h;
  if (w <= 0 || h <= 0 || w > 32767 || h > 32767 || uint64_t(w) * uint64_t(h) > kMaxPixels)
    return why = "bitmap size out of range", false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return why = "unsupported depth", false;
  bool rle = comp == 1 || comp == 2;
  if (rle && !((comp == 1 && bpp == 8) || (comp == 2 && bpp == 4))) return why = "bad compression", false;
  if (comp != 0 && comp != 3 && !rle) return why = "unsupported compression", false;
  if (comp == 3 && bpp != 16 && bpp != 32) return why = "bad bit fields", false;

  out = TkxImage{};
  out.Width = uint32_t(w), out.Height = uint32_t(h);
  size_t palOff = 14 + hsize;
  uint32_t masks[3] = {0, 0, 0};
  if (comp == 3) {
    size_t mo = hsize >= 52 ? 14 + 40 : palOff;
    for (int i = 0; i < 3; ++i) masks[i] = in.U32(mo + size_t(i) * 4);
    if (hsize < 52) palOff += 12;
  } else if (bpp == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else if (bpp == 32) {
    masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  }
  if (bpp <= 8) {
    uint32_t n = clrUsed ? clrUsed : (1u << bpp);
    if (n > (1u << bpp)) n = 1u << bpp;
    int entry = hsize == 12 ? 3 : 4;
    if (!in.Has(palOff, uint64_t(n) * uint64_t(entry)) || palOff + uint64_t(n) * entry > offBits)
      return why = "palette runs past the pixels", false;
    for (uint32_t i = 0; i < n; ++i) {
      size_t o = palOff + size_t(i) * size_t(entry);
      out.Palette.push_back(in.U8(o + 2));
      out.Palette.push_back(in.U8(o + 1));
      out.Palette.push_back(in.U8(o));
    }
    out.Bits = bpp;
  } else {
    out.Bits = 24;
  }
  size_t pixelBytes = out.Bits == 24 ? 3 : 1;
  out.Rows.assign(size_t(h), std::vector<uint8_t>(size_t(w) * pixelBytes, 0));
  auto row = [&](int64_t fileRow) -> std::vector<uint8_t>& { return out.Rows[size_t(bottomUp ? h - 1 - fileRow : fileRow)]; };
  uint32_t palCount = uint32_t(out.Palette.size() / 3);
  auto index = [&](uint32_t v) { return uint8_t(palCount ? (v < palCount ? v : 0) : 0); };

  if (rle) {
    if (offBits >= bytes.size()) return why = "no pixels", false;
    int64_t x = 0, y = 0;
    size_t i = offBits;
    while (i + 1 < bytes.size() && y < h) {
      uint8_t n = uint8_t(bytes[i]), v = uint8_t(bytes[i + 1]);
      i += 2;
      if (n) {
        for (int k = 0; k < n; ++k, ++x)
          if (x < w) row(y)[size_t(x)] = index(comp == 1 ? v : ((k & 1) ? v & 0xF : v >> 4));
      } else if (v == 0) {
        x = 0, ++y;
      } else if (v == 1) {
        break;
      } else if (v == 2) {
        if (i + 1 >= bytes.size()) break;
        x += uint8_t(bytes[i]), y += uint8_t(bytes[i + 1]);
        i += 2;
      } else {
        size_t len = comp == 1 ? v : (size_t(v) + 1) / 2;
        if (!in.Has(i, len)) break;
        for (int k = 0; k < v; ++k, ++x) {
          uint8_t b = uint8_t(bytes[i + size_t(comp == 1 ? k : k / 2)]);
          if (x < w) row(y)[size_t(x)] = index(comp == 1 ? b : ((k & 1) ? b & 0xF : b >> 4));
        }
        i += (len + 1) & ~size_t(1);
      }
    }
    return true;
  }

  uint64_t stride = ((uint64_t(w) * uint64_t(bpp) + 31) / 32) * 4;
  if (!in.Has(offBits, stride * uint64_t(h))) return why = "pixels run past the end of the file", false;
  const TChannel red(masks[0]), green(masks[1]), blue(masks[2]);
  // The converter's own pages: 32 bits with whole bytes per channel, copied as they are.
  const bool plain32 = bpp == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF;
  for (int64_t y = 0; y < h; ++y) {
    const uint8_t* src = reinterpret_cast<const uint8_t*>(bytes.data()) + offBits + uint64_t(y) * stride;
    std::vector<uint8_t>& dst = row(y);
    if (plain32) {
      for (int64_t x = 0; x < w; ++x)
        dst[size_t(x) * 3] = src[x * 4 + 2], dst[size_t(x) * 3 + 1] = src[x * 4 + 1], dst[size_t(x) * 3 + 2] = src[x * 4];
      continue;
    }
    for (int64_t x = 0; x < w; ++x) {
      switch (bpp) {
        case 1: dst[size_t(x)] = index((src[x >> 3] >> (7 - (x & 7))) & 1); break;
        case 4: dst[size_t(x)] = index((src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF); break;
        case 8: dst[size_t(x)] = index(src[x]); break;
        case 24:
          dst[size_t(x) * 3] = src[x * 3 + 2], dst[size_t(x) * 3 + 1] = src[x * 3 + 1], dst[size_t(x) * 3 + 2] = src[x * 3];
          break;
        default: {
          uint32_t v = bpp == 16 ? uint32_t(src[x * 2] | src[x * 2 + 1] << 8)
                                 : uint32_t(src[x * 4] | src[x * 4 + 1] << 8 | src[x * 4 + 2] << 16 | uint32_t(src[x * 4 + 3]) << 24);
          dst[size_t(x) * 3] = red(v);
          dst[size_t(x) * 3 + 1] = green(v);
          dst[size_t(x) * 3 + 2] = blue(v);
        }
      }
    }
  }
  return true;
}

}  // namespace kxpng
