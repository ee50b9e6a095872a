#include "convert/emfbuild.h"

#include <algorithm>

#include "emf/emfrecords.h"

namespace kxtest {

using namespace kx::emf;

namespace {
void Put(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char(v >> (8 * i) & 0xFF));
}
void Put16(std::string& s, uint16_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char(v >> 8));
}
void Set(std::string& s, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[off + size_t(i)] = char(v >> (8 * i) & 0xFF);
}
// A record of `size` zero bytes after its type and size.
std::string Blank(uint32_t type, size_t size) {
  std::string r(size, '\0');
  Set(r, kRecordType, type);
  Set(r, kRecordSize, uint32_t(size));
  return r;
}
std::string Padded(std::string s) {
  while (s.size() % 4) s.push_back('\0');
  return s;
}

// A bottom-up BITMAPINFOHEADER and its rows of `bits` per pixel.
void Dib(int32_t w, int32_t h, int bits, const std::vector<uint32_t>& pixels, std::string& info, std::string& rows) {
  info.assign(bmi::InfoSize, '\0');
  Set(info, bmi::Size, bmi::InfoSize);
  Set(info, bmi::Width, uint32_t(w));
  Set(info, bmi::Height, uint32_t(h));
  Set(info, bmi::Planes, 1 | uint32_t(bits) << 16);  // 16 bits each: one plane, then the bit count
  Set(info, bmi::Compression, BI_RGB);
  rows.clear();
  for (int32_t y = h - 1; y >= 0; --y) {
    std::string row;
    for (int32_t x = 0; x < w; ++x) {
      uint32_t p = pixels[size_t(y) * size_t(w) + size_t(x)];
      row.push_back(char(p & 0xFF));
      row.push_back(char(p >> 8 & 0xFF));
      row.push_back(char(p >> 16 & 0xFF));
      if (bits == 32) row.push_back(char(p >> 24));
    }
    rows += Padded(row);
  }
}
// Where a bitmap record keeps the places and sizes of its header and its rows.
struct TBitmapFields {
  uint32_t OffBmi, CbBmi, OffBits, CbBits;
};

// The record with the bitmap after its fixed part.
std::string WithBitmap(std::string r, TBitmapFields f, const std::string& info, const std::string& rows) {
  Set(r, f.OffBmi, uint32_t(r.size()));
  Set(r, f.CbBmi, uint32_t(info.size()));
  r += info;
  Set(r, f.OffBits, uint32_t(r.size()));
  Set(r, f.CbBits, uint32_t(rows.size()));
  r += rows;
  Set(r, kRecordSize, uint32_t(r.size()));
  return r;
}
}  // namespace

EmfBuilder::EmfBuilder(int32_t frameW, int32_t frameH, int32_t devPxW, int32_t devPxH, int32_t devMmW, int32_t devMmH) {
  std::string& h = FHeader;
  h = Blank(EMR_HEADER, header::MinSize);
  Set(h, header::Bounds + rectl::Right, uint32_t(devPxW - 1));
  Set(h, header::Bounds + rectl::Bottom, uint32_t(devPxH - 1));
  Set(h, header::Frame + rectl::Right, uint32_t(frameW));
  Set(h, header::Frame + rectl::Bottom, uint32_t(frameH));
  Set(h, header::Signature, header::kSignature);
  Set(h, header::Version, header::kVersion);
  Set(h, header::Handles, 16);
  Set(h, header::DevicePx + pointl::X, uint32_t(devPxW));
  Set(h, header::DevicePx + pointl::Y, uint32_t(devPxH));
  Set(h, header::DeviceMm + pointl::X, uint32_t(devMmW));
  Set(h, header::DeviceMm + pointl::Y, uint32_t(devMmH));
}

EmfBuilder& EmfBuilder::Record(uint32_t type, const std::vector<int32_t>& words) {
  std::string r;
  Put(r, type);
  Put(r, uint32_t(kRecordData + words.size() * 4));
  for (int32_t w : words) Put(r, uint32_t(w));
  FRecords.push_back(r);
  return *this;
}

EmfBuilder& EmfBuilder::Raw(const std::string& record) {
  FRecords.push_back(record);
  return *this;
}

EmfBuilder& EmfBuilder::HimetricMapping() {
  return Record(EMR_SETMAPMODE, {MM_ANISOTROPIC})
      .Record(EMR_SETVIEWPORTEXTEX, {96, 96})
      .Record(EMR_SETWINDOWEXTEX, {2540, 2540})
      .Record(EMR_SETVIEWPORTORGEX, {0, 0})
      .Record(EMR_SETWINDOWORGEX, {0, 0});
}

EmfBuilder& EmfBuilder::PixelMapping(int32_t unitsPerPixel) {
  return Record(EMR_SETMAPMODE, {MM_ANISOTROPIC})
      .Record(EMR_SETVIEWPORTEXTEX, {96, 96})
      .Record(EMR_SETWINDOWEXTEX, {96 * unitsPerPixel, 96 * unitsPerPixel})
      .Record(EMR_SETVIEWPORTORGEX, {0, 0})
      .Record(EMR_SETWINDOWORGEX, {0, 0});
}

EmfBuilder& EmfBuilder::SolidBrush(uint32_t handle, uint32_t colorref) {
  std::string r = Blank(EMR_CREATEBRUSHINDIRECT, brush::Size);
  Set(r, brush::Handle, handle);
  Set(r, brush::Style, BS_SOLID);
  Set(r, brush::Color, colorref);
  return Raw(r);
}

EmfBuilder& EmfBuilder::Pen(uint32_t handle, uint32_t style, int32_t width, uint32_t colorref) {
  std::string r = Blank(EMR_CREATEPEN, pen::Size);
  Set(r, pen::Handle, handle);
  Set(r, pen::Style, style);
  Set(r, pen::Width, uint32_t(width));
  Set(r, pen::Color, colorref);
  return Raw(r);
}

EmfBuilder& EmfBuilder::Select(uint32_t handle) { return Record(EMR_SELECTOBJECT, {int32_t(handle)}); }

EmfBuilder& EmfBuilder::Rectangle(int32_t l, int32_t t, int32_t r, int32_t b) {
  return Record(EMR_RECTANGLE, {l, t, r, b});
}

EmfBuilder& EmfBuilder::Poly(uint32_t type, const Points& points) {
  std::string r = Blank(type, poly::Points + points.size() * pointl::Size);
  int32_t l = 0, t = 0, rt = 0, b = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    auto [x, y] = points[i];
    if (i == 0) l = rt = x, t = b = y;
    l = std::min(l, x), rt = std::max(rt, x), t = std::min(t, y), b = std::max(b, y);
    Set(r, poly::Points + i * pointl::Size + pointl::X, uint32_t(x));
    Set(r, poly::Points + i * pointl::Size + pointl::Y, uint32_t(y));
  }
  Set(r, poly::Bounds + rectl::Left, uint32_t(l));
  Set(r, poly::Bounds + rectl::Top, uint32_t(t));
  Set(r, poly::Bounds + rectl::Right, uint32_t(rt));
  Set(r, poly::Bounds + rectl::Bottom, uint32_t(b));
  Set(r, poly::Count, uint32_t(points.size()));
  return Raw(r);
}

EmfBuilder& EmfBuilder::MoveTo(int32_t x, int32_t y) { return Record(EMR_MOVETOEX, {x, y}); }

EmfBuilder& EmfBuilder::IntersectClip(int32_t l, int32_t t, int32_t r, int32_t b) {
  return Record(EMR_INTERSECTCLIPRECT, {l, t, r, b});
}

EmfBuilder& EmfBuilder::Font(uint32_t handle, int32_t height, const std::u16string& face, int32_t weight, bool italic,
                             int32_t escapement) {
  std::string r = Blank(EMR_EXTCREATEFONTINDIRECTW, 332);  // a LOGFONTW and the rest of an ENUMLOGFONTEXDV
  Set(r, font::Handle, handle);
  Set(r, font::Height, uint32_t(height));
  Set(r, font::Escapement, uint32_t(escapement));
  Set(r, font::Orientation, uint32_t(escapement));
  Set(r, font::Weight, uint32_t(weight));
  r[font::Italic] = italic ? 1 : 0;
  for (size_t i = 0; i < face.size() && i < 31; ++i) {
    r[font::FaceName + i * 2] = char(face[i] & 0xFF);
    r[font::FaceName + i * 2 + 1] = char(face[i] >> 8);
  }
  return Raw(r);
}

EmfBuilder& EmfBuilder::TextOut(int32_t x, int32_t y, const std::u16string& text, const std::vector<int32_t>& dx,
                                uint32_t options) {
  std::string r = Blank(EMR_EXTTEXTOUTW, text::MinSize);
  Set(r, text::GraphicsMode, GM_COMPATIBLE);
  Set(r, text::Reference + pointl::X, uint32_t(x));
  Set(r, text::Reference + pointl::Y, uint32_t(y));
  Set(r, text::Chars, uint32_t(text.size()));
  Set(r, text::OffString, uint32_t(r.size()));
  Set(r, text::Options, options);
  std::string chars;
  for (char16_t c : text) Put16(chars, uint16_t(c));
  r += Padded(chars);
  Set(r, text::OffDx, dx.empty() ? 0 : uint32_t(r.size()));
  for (int32_t d : dx) Put(r, uint32_t(d));
  Set(r, kRecordSize, uint32_t(r.size()));
  return Raw(r);
}

EmfBuilder& EmfBuilder::StretchDib(int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t w, int32_t h,
                                   const std::vector<uint32_t>& pixels) {
  std::string info, rows;
  Dib(w, h, 24, pixels, info, rows);
  std::string r = Blank(EMR_STRETCHDIBITS, stretchdib::MinSize);
  int32_t fields[][2] = {{stretchdib::XDest, x},     {stretchdib::YDest, y},
                         {stretchdib::CxSrc, w},     {stretchdib::CySrc, h},
                         {stretchdib::CxDest, cx},   {stretchdib::CyDest, cy},
                         {stretchdib::Rop, SRCCOPY}, {stretchdib::Usage, DIB_RGB_COLORS}};
  for (auto& f : fields) Set(r, uint32_t(f[0]), uint32_t(f[1]));
  return Raw(
      WithBitmap(r, {stretchdib::OffBmi, stretchdib::CbBmi, stretchdib::OffBits, stretchdib::CbBits}, info, rows));
}

EmfBuilder& EmfBuilder::AlphaBlend(int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t w, int32_t h,
                                   const std::vector<uint32_t>& pixels, uint8_t constantAlpha) {
  std::string info, rows;
  Dib(w, h, 32, pixels, info, rows);
  std::string r = Blank(EMR_ALPHABLEND, blt::StretchMinSize);
  int32_t fields[][2] = {{blt::XDest, x},
                         {blt::YDest, y},
                         {blt::CxDest, cx},
                         {blt::CyDest, cy},
                         {blt::CxSrc, w},
                         {blt::CySrc, h},
                         {blt::UsageSrc, DIB_RGB_COLORS}};
  for (auto& f : fields) Set(r, uint32_t(f[0]), uint32_t(f[1]));
  Set(r, blt::XformSrc, 0x3F800000u);  // the identity: eM11 and eM22 are 1.0
  Set(r, blt::XformSrc + (xform::M22 - xform::M11), 0x3F800000u);
  r[blt::Blend + blt::BlendOp] = char(AC_SRC_OVER);
  r[blt::Blend + blt::SourceConstantAlpha] = char(constantAlpha);
  r[blt::Blend + blt::AlphaFormat] = char(AC_SRC_ALPHA);
  return Raw(WithBitmap(r, {blt::OffBmi, blt::CbBmi, blt::OffBits, blt::CbBits}, info, rows));
}

EmfBuilder& EmfBuilder::SourceRect(int32_t x, int32_t y, int32_t cx, int32_t cy) {
  std::string& r = FRecords.back();
  bool dib = uint8_t(r[kRecordType]) == EMR_STRETCHDIBITS;
  Set(r, dib ? stretchdib::XSrc : blt::XSrc, uint32_t(x));
  Set(r, dib ? stretchdib::YSrc : blt::YSrc, uint32_t(y));
  Set(r, dib ? stretchdib::CxSrc : blt::CxSrc, uint32_t(cx));
  Set(r, dib ? stretchdib::CySrc : blt::CySrc, uint32_t(cy));
  return *this;
}

std::string EmfBuilder::Bytes() const {
  std::string all = FHeader;
  for (const auto& r : FRecords) all += r;
  std::string eof = Blank(EMR_EOF, eof::Size);
  Set(eof, eof::SizeLast, eof::Size);
  all += eof;
  Set(all, header::Bytes, uint32_t(all.size()));
  Set(all, header::Records, uint32_t(FRecords.size() + 2));
  return all;
}

}  // namespace kxtest
