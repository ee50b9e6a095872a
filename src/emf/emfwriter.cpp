#include "emf/emfwriter.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>

#include "emf/emfrecords.h"

namespace kx {

using namespace emf;

namespace {

size_t Pad4(size_t n) { return (n + 3) & ~size_t(3); }

size_t RowBytes(int32_t width, int bits) { return Pad4(size_t(width) * size_t(bits / 8)); }

void PngWrite(png_structp png, png_bytep data, png_size_t n) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), n);
}
void PngFlush(png_structp) {}

// A 32-bit DIB (premultiplied, rows from the bottom) as PNG bytes with straight alpha,
// compressed for speed; empty when libpng fails.
std::string PngOf(const TkxDib& dib) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return out;
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> row(size_t(dib.Width) * 4);  // before the jump point: a jump must not skip its destructor
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return {};
  }
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_compression_level(png, 1);
  png_set_filter(png, 0, PNG_FILTER_SUB);
  png_set_IHDR(png, info, png_uint_32(dib.Width), png_uint_32(dib.Height), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  size_t stride = size_t(dib.Width) * 4;
  for (int32_t y = dib.Height - 1; y >= 0; --y) {
    const auto* s = reinterpret_cast<const uint8_t*>(dib.Pixels.data()) + size_t(y) * stride;
    for (int32_t x = 0; x < dib.Width; ++x, s += 4) {
      unsigned a = s[3];
      auto straight = [a](unsigned c) { return uint8_t(a ? std::min(255u, (c * 255 + a / 2) / a) : 0); };
      uint8_t* t = &row[size_t(x) * 4];
      t[0] = straight(s[2]), t[1] = straight(s[1]), t[2] = straight(s[0]), t[3] = uint8_t(a);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace

TkxDib DibFromRgb(int32_t width, int32_t height, const uint8_t* rgb, size_t stride) {
  TkxDib d;
  d.Width = width, d.Height = height, d.Bits = 24;
  size_t row = RowBytes(width, 24);
  d.Pixels.assign(row * size_t(height), '\0');
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = rgb + size_t(y) * stride;
    auto* t = reinterpret_cast<uint8_t*>(d.Pixels.data()) + size_t(height - 1 - y) * row;
    for (int32_t x = 0; x < width; ++x, s += 3, t += 3) t[0] = s[2], t[1] = s[1], t[2] = s[0];
  }
  return d;
}

TkxDib DibFromRgba(int32_t width, int32_t height, const uint8_t* rgba, size_t stride) {
  TkxDib d;
  d.Width = width, d.Height = height, d.Bits = 32;
  size_t row = size_t(width) * 4;
  d.Pixels.assign(row * size_t(height), '\0');
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = rgba + size_t(y) * stride;
    auto* t = reinterpret_cast<uint8_t*>(d.Pixels.data()) + size_t(height - 1 - y) * row;
    for (int32_t x = 0; x < width; ++x, s += 4, t += 4) {
      unsigned a = s[3];
      t[0] = uint8_t((s[2] * a + 127) / 255), t[1] = uint8_t((s[1] * a + 127) / 255);
      t[2] = uint8_t((s[0] * a + 127) / 255), t[3] = uint8_t(a);
    }
  }
  return d;
}

TkxEmfWriter::TkxEmfWriter(int32_t frameWidth, int32_t frameHeight, int32_t pixelWidth, int32_t pixelHeight)
    : FPixelW(pixelWidth), FPixelH(pixelHeight) {
  size_t h = Begin(EMR_HEADER, header::FullSize);
  PutBounds(h + header::Bounds);
  Put32(h + header::Frame, 0);
  Put32(h + header::Frame + 4, 0);
  Put32(h + header::Frame + 8, uint32_t(frameWidth));
  Put32(h + header::Frame + 12, uint32_t(frameHeight));
  Put32(h + header::Signature, header::kSignature);
  Put32(h + header::Version, header::kVersion);
  Put32(h + header::DevicePx, 9600);
  Put32(h + header::DevicePx + 4, 9600);
  Put32(h + header::DeviceMm, 2540);
  Put32(h + header::DeviceMm + 4, 2540);
  Put32(h + header::DeviceUm, 2540000);
  Put32(h + header::DeviceUm + 4, 2540000);
}

size_t TkxEmfWriter::Begin(uint32_t type, size_t size) {
  size_t at = FBytes.size();
  FBytes.resize(at + size, '\0');
  Put32(at + kRecordType, type);
  Put32(at + kRecordSize, uint32_t(size));
  ++FRecords;
  return at;
}

void TkxEmfWriter::Put32(size_t at, uint32_t v) { std::memcpy(FBytes.data() + at, &v, 4); }

void TkxEmfWriter::PutF(size_t at, float v) { std::memcpy(FBytes.data() + at, &v, 4); }

void TkxEmfWriter::TBox::Add(double x, double y) {
  if (R < L) {
    L = R = x, T = B = y;
    return;
  }
  L = std::min(L, x), R = std::max(R, x), T = std::min(T, y), B = std::max(B, y);
}

void TkxEmfWriter::Device(double x, double y, double& dx, double& dy) const {
  const TkxEmfXform& w = FMap.World;
  double px = x * w.M11 + y * w.M21 + w.Dx, py = x * w.M12 + y * w.M22 + w.Dy;
  dx = (px - FMap.WinOrgX) * FMap.VpExtX / FMap.WinExtX + FMap.VpOrgX;
  dy = (py - FMap.WinOrgY) * FMap.VpExtY / FMap.WinExtY + FMap.VpOrgY;
}

void TkxEmfWriter::AddLogical(TBox& box, double x, double y) const {
  double dx, dy;
  Device(x, y, dx, dy);
  box.Add(dx, dy);
}

// A record's bounds: its own box on the reference device, whole pixels, inclusive,
// cut to the page; (0, 0, -1, -1) when it draws nothing there.
void TkxEmfWriter::PutBox(size_t at, const TBox& box, double grow) {
  double l = std::floor(box.L - grow), t = std::floor(box.T - grow);
  double r = std::ceil(box.R + grow), b = std::ceil(box.B + grow);
  l = std::max(l, 0.0), t = std::max(t, 0.0), r = std::min(r, double(FPixelW - 1)),
  b = std::min(b, double(FPixelH - 1));
  if (!(box.R >= box.L) || !(r >= l) || !(b >= t) || !std::isfinite(l + t + r + b)) {
    Put32(at, 0), Put32(at + 4, 0), Put32(at + 8, uint32_t(-1)), Put32(at + 12, uint32_t(-1));
    return;
  }
  Put32(at, uint32_t(int32_t(l)));
  Put32(at + 4, uint32_t(int32_t(t)));
  Put32(at + 8, uint32_t(int32_t(r)));
  Put32(at + 12, uint32_t(int32_t(b)));
}

double TkxEmfWriter::PenPixels() const {
  double w = FMap.Pen < FPenWidths.size() ? FPenWidths[FMap.Pen] : 0;
  double x0, y0, x1, y1;
  Device(0, 0, x0, y0);
  Device(w, 0, x1, y1);
  return std::max(1.0, std::hypot(x1 - x0, y1 - y0));
}

// The header's bounds: the whole page.
void TkxEmfWriter::PutBounds(size_t at) {
  Put32(at, 0);
  Put32(at + 4, 0);
  Put32(at + 8, uint32_t(FPixelW - 1));
  Put32(at + 12, uint32_t(FPixelH - 1));
}

void TkxEmfWriter::Simple(uint32_t type, std::initializer_list<uint32_t> values) {
  size_t at = Begin(type, kRecordData + 4 * values.size()) + kRecordData;
  for (uint32_t v : values) Put32(at, v), at += 4;
}

void TkxEmfWriter::SetMapMode(uint32_t mode) { Simple(EMR_SETMAPMODE, {mode}); }
void TkxEmfWriter::SetWindowExt(int32_t cx, int32_t cy) {
  Simple(EMR_SETWINDOWEXTEX, {uint32_t(cx), uint32_t(cy)});
  if (cx != 0 && cy != 0) FMap.WinExtX = cx, FMap.WinExtY = cy;
}
void TkxEmfWriter::SetWindowOrg(int32_t x, int32_t y) {
  Simple(EMR_SETWINDOWORGEX, {uint32_t(x), uint32_t(y)});
  FMap.WinOrgX = x, FMap.WinOrgY = y;
}
void TkxEmfWriter::SetViewportExt(int32_t cx, int32_t cy) {
  Simple(EMR_SETVIEWPORTEXTEX, {uint32_t(cx), uint32_t(cy)});
  if (cx != 0 && cy != 0) FMap.VpExtX = cx, FMap.VpExtY = cy;
}
void TkxEmfWriter::SetViewportOrg(int32_t x, int32_t y) {
  Simple(EMR_SETVIEWPORTORGEX, {uint32_t(x), uint32_t(y)});
  FMap.VpOrgX = x, FMap.VpOrgY = y;
}
void TkxEmfWriter::SetBkMode(uint32_t mode) { Simple(EMR_SETBKMODE, {mode}); }
void TkxEmfWriter::SetBkColor(uint32_t colorref) { Simple(EMR_SETBKCOLOR, {colorref}); }
void TkxEmfWriter::SetTextAlign(uint32_t align) { Simple(EMR_SETTEXTALIGN, {align}); }
void TkxEmfWriter::SetTextColor(uint32_t colorref) { Simple(EMR_SETTEXTCOLOR, {colorref}); }
void TkxEmfWriter::SetPolyFillMode(uint32_t mode) { Simple(EMR_SETPOLYFILLMODE, {mode}); }
void TkxEmfWriter::SetMiterLimit(uint32_t limit) { Simple(EMR_SETMITERLIMIT, {limit}); }
void TkxEmfWriter::SaveDC() {
  Simple(EMR_SAVEDC, {});
  FSaved.push_back(FMap);
}
void TkxEmfWriter::RestoreDC(int32_t relative) {
  Simple(EMR_RESTOREDC, {uint32_t(relative)});
  for (int32_t i = relative; i < 0 && !FSaved.empty(); ++i) {
    FMap = FSaved.back();
    FSaved.pop_back();
  }
}
void TkxEmfWriter::BeginPath() {
  Simple(EMR_BEGINPATH, {});
  FPath = TBox{};
}
void TkxEmfWriter::EndPath() { Simple(EMR_ENDPATH, {}); }
void TkxEmfWriter::CloseFigure() { Simple(EMR_CLOSEFIGURE, {}); }
void TkxEmfWriter::MoveTo(int32_t x, int32_t y) {
  Simple(EMR_MOVETOEX, {uint32_t(x), uint32_t(y)});
  AddLogical(FPath, x, y);
}
void TkxEmfWriter::SelectClipPath(uint32_t mode) { Simple(EMR_SELECTCLIPPATH, {mode}); }
void TkxEmfWriter::SelectObject(uint32_t handle) {
  Simple(EMR_SELECTOBJECT, {handle});
  if (handle < FPenWidths.size() && FPenWidths[handle] >= 0) FMap.Pen = handle;
  if (handle < FFontHeights.size() && FFontHeights[handle] != 0) FMap.Font = handle;
}

void TkxEmfWriter::IntersectClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  Simple(EMR_INTERSECTCLIPRECT, {uint32_t(left), uint32_t(top), uint32_t(right), uint32_t(bottom)});
}

void TkxEmfWriter::SetWorldTransform(const TkxEmfXform& x) {
  FMap.World = x;
  size_t at = Begin(EMR_SETWORLDTRANSFORM, 32);
  const float v[6] = {x.M11, x.M12, x.M21, x.M22, x.Dx, x.Dy};
  for (int i = 0; i < 6; ++i) PutF(at + 8 + 4 * size_t(i), v[i]);
}

uint32_t TkxEmfWriter::NewHandle() {
  auto free = std::find(FUsed.begin() + 1, FUsed.end(), false);
  uint32_t h = uint32_t(free - FUsed.begin());
  if (free == FUsed.end())
    FUsed.push_back(true);
  else
    *free = true;
  FMaxHandles = std::max(FMaxHandles, h + 1);
  if (FPenWidths.size() <= h) FPenWidths.resize(h + 1, -1);
  if (FFontHeights.size() <= h) FFontHeights.resize(h + 1, 0);
  FPenWidths[h] = -1, FFontHeights[h] = 0;  // not a pen, not a font, until said
  return h;
}

void TkxEmfWriter::DeleteObject(uint32_t handle) {
  Simple(EMR_DELETEOBJECT, {handle});
  if (handle < FUsed.size() && handle > 0) FUsed[handle] = false;
}

uint32_t TkxEmfWriter::CreatePen(uint32_t style, uint32_t width, uint32_t colorref,
                                 const std::vector<uint32_t>& dashes) {
  uint32_t h = NewHandle();
  size_t at = Begin(EMR_EXTCREATEPEN, extpen::Entries + 4 * dashes.size());
  Put32(at + extpen::Handle, h);
  Put32(at + extpen::Style, style);
  Put32(at + extpen::Width, width);
  Put32(at + extpen::BrushStyle, BS_SOLID);
  Put32(at + extpen::Color, colorref);
  Put32(at + extpen::NumEntries, uint32_t(dashes.size()));
  for (size_t i = 0; i < dashes.size(); ++i) Put32(at + extpen::Entries + 4 * i, dashes[i]);
  FPenWidths[h] = (style & PS_GEOMETRIC) ? double(width) : 0;
  return h;
}

uint32_t TkxEmfWriter::CreateBrush(uint32_t colorref) {
  uint32_t h = NewHandle();
  Simple(EMR_CREATEBRUSHINDIRECT, {h, BS_SOLID, colorref, 0});
  return h;
}

uint32_t TkxEmfWriter::CreateFont(const TkxEmfLogFont& f) {
  uint32_t h = NewHandle();
  size_t at = Begin(EMR_EXTCREATEFONTINDIRECTW, font::MinSize);
  Put32(at + font::Handle, h);
  Put32(at + font::Height, uint32_t(f.Height));
  Put32(at + font::Width, uint32_t(f.Width));
  Put32(at + font::Escapement, uint32_t(f.Escapement));
  Put32(at + font::Orientation, uint32_t(f.Orientation));
  Put32(at + font::Weight, uint32_t(f.Weight));
  FBytes[at + font::Italic] = char(f.Italic);
  FBytes[at + font::Underline] = char(f.Underline);
  FBytes[at + font::StrikeOut] = char(f.StrikeOut);
  FBytes[at + font::CharSet] = char(f.CharSet);
  size_t n = std::min<size_t>(f.Face.size(), 31);
  std::memcpy(FBytes.data() + at + font::FaceName, f.Face.data(), n * 2);
  // A font turned off the level keeps only its height; its box is then a square.
  FFontHeights[h] = std::max(1.0, std::abs(double(f.Height)));
  if (f.Escapement != 0) FFontHeights[h] = -FFontHeights[h];
  return h;
}

void TkxEmfWriter::Points(uint32_t type, const std::vector<TkxEmfPoint>& points) {
  size_t at = Begin(type, 28 + 8 * points.size());
  TBox box;
  for (const TkxEmfPoint& p : points) AddLogical(box, p.X, p.Y);
  PutBox(at + 8, box);
  for (const TkxEmfPoint& p : points) AddLogical(FPath, p.X, p.Y);
  Put32(at + 24, uint32_t(points.size()));
  for (size_t i = 0; i < points.size(); ++i) {
    Put32(at + 28 + 8 * i, uint32_t(points[i].X));
    Put32(at + 32 + 8 * i, uint32_t(points[i].Y));
  }
}

void TkxEmfWriter::PolylineTo(const std::vector<TkxEmfPoint>& points) { Points(EMR_POLYLINETO, points); }
void TkxEmfWriter::PolyBezierTo(const std::vector<TkxEmfPoint>& points) { Points(EMR_POLYBEZIERTO, points); }

void TkxEmfWriter::FillPath() { PutBox(Begin(EMR_FILLPATH, 24) + 8, FPath); }
void TkxEmfWriter::StrokePath() { PutBox(Begin(EMR_STROKEPATH, 24) + 8, FPath, PenPixels() / 2 + 1); }
void TkxEmfWriter::StrokeAndFillPath() { PutBox(Begin(EMR_STROKEANDFILLPATH, 24) + 8, FPath, PenPixels() / 2 + 1); }

void TkxEmfWriter::Comment(const std::string& data) {
  size_t at = Begin(EMR_GDICOMMENT, comment::Data + Pad4(data.size()));
  Put32(at + comment::DataSize, uint32_t(data.size()));
  std::memcpy(FBytes.data() + at + comment::Data, data.data(), data.size());
}

void TkxEmfWriter::ExtTextOutW(int32_t x, int32_t y, uint32_t options, const std::u16string& s,
                               const std::vector<int32_t>& dx) {
  size_t textBytes = Pad4(s.size() * 2);
  size_t at = Begin(EMR_EXTTEXTOUTW, text::MinSize + textBytes + 4 * s.size());
  // The glyphs lie within an em of the pen's way along the baseline, in whichever
  // direction the font turns it.
  double em = FMap.Font < FFontHeights.size() ? FFontHeights[FMap.Font] : 0, advance = 0;
  bool level = em > 0;
  em = std::abs(em);
  if (em == 0) em = 2000;  // no font of ours selected: a generous em
  for (size_t i = 0; i < s.size() && i < dx.size(); ++i) advance += std::abs(double(dx[i]));
  double reach = advance + em;
  TBox box;
  AddLogical(box, x - reach, y - reach);
  AddLogical(box, x + reach, y - reach);
  AddLogical(box, x - reach, y + reach);
  AddLogical(box, x + reach, y + reach);
  if (level) {
    box = TBox{};
    AddLogical(box, x - em / 2, y - em * 1.2);
    AddLogical(box, x + advance + em / 2, y + em * 0.5);
  }
  PutBox(at + text::Bounds, box);
  Put32(at + text::GraphicsMode, GM_COMPATIBLE);
  Put32(at + text::Reference, uint32_t(x));
  Put32(at + text::Reference + 4, uint32_t(y));
  Put32(at + text::Chars, uint32_t(s.size()));
  Put32(at + text::OffString, text::MinSize);
  Put32(at + text::Options, options);
  Put32(at + text::OffDx, uint32_t(text::MinSize + textBytes));
  std::memcpy(FBytes.data() + at + text::MinSize, s.data(), s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i)
    Put32(at + text::MinSize + textBytes + 4 * i, uint32_t(i < dx.size() ? dx[i] : 0));
}

void TkxEmfWriter::PutBitmapInfo(size_t at, const TkxDib& dib) {
  Put32(at + bmi::Size, bmi::InfoSize);
  Put32(at + bmi::Width, uint32_t(dib.Width));
  Put32(at + bmi::Height, uint32_t(dib.Height));
  Put32(at + bmi::Planes, 1u | uint32_t(dib.Bits) << 16);  // planes, then the bit count
  Put32(at + bmi::Compression, uint32_t(BI_RGB));
  Put32(at + bmi::SizeImage, uint32_t(dib.Pixels.size()));
}

size_t TkxEmfWriter::BeginStretch(int32_t x, int32_t y, int32_t cx, int32_t cy, const TkxDib& dib, size_t bits) {
  using namespace stretchdib;
  size_t at = Begin(EMR_STRETCHDIBITS, MinSize + bmi::InfoSize + Pad4(bits));
  PutBox(at + Bounds, Rect(x, y, cx, cy));
  Put32(at + XDest, uint32_t(x));
  Put32(at + YDest, uint32_t(y));
  Put32(at + CxSrc, uint32_t(dib.Width));
  Put32(at + CySrc, uint32_t(dib.Height));
  Put32(at + OffBmi, MinSize);
  Put32(at + CbBmi, bmi::InfoSize);
  Put32(at + OffBits, MinSize + bmi::InfoSize);
  Put32(at + CbBits, uint32_t(bits));
  Put32(at + Usage, uint32_t(DIB_RGB_COLORS));
  Put32(at + Rop, uint32_t(SRCCOPY));
  Put32(at + CxDest, uint32_t(cx));
  Put32(at + CyDest, uint32_t(cy));
  return at;
}

void TkxEmfWriter::StretchDIBits(int32_t x, int32_t y, int32_t cx, int32_t cy, const TkxDib& dib) {
  using namespace stretchdib;
  size_t at = BeginStretch(x, y, cx, cy, dib, dib.Pixels.size());
  PutBitmapInfo(at + MinSize, dib);
  std::memcpy(FBytes.data() + at + MinSize + bmi::InfoSize, dib.Pixels.data(), dib.Pixels.size());
}

void TkxEmfWriter::AlphaBlend(int32_t x, int32_t y, int32_t cx, int32_t cy, const TkxDib& dib) {
  // Readers that take no ALPHABLEND (Inkscape) find the picture first as a PNG in a
  // STRETCHDIBITS; GDI on a screen, LibreOffice and our player draw no PNG bitmap
  // there and draw the ALPHABLEND after it.
  if (std::string png = PngOf(dib); !png.empty()) {
    using namespace stretchdib;
    size_t at = BeginStretch(x, y, cx, cy, dib, png.size());
    size_t info = at + MinSize;
    Put32(info + bmi::Size, bmi::InfoSize);
    Put32(info + bmi::Width, uint32_t(dib.Width));
    Put32(info + bmi::Height, uint32_t(dib.Height));
    Put32(info + bmi::Planes, 1u);  // a bit count of 0: the format says the depth
    Put32(info + bmi::Compression, uint32_t(BI_PNG));
    Put32(info + bmi::SizeImage, uint32_t(png.size()));
    std::memcpy(FBytes.data() + at + MinSize + bmi::InfoSize, png.data(), png.size());
  }
  using namespace blt;
  const uint32_t bits = StretchMinSize + bmi::InfoSize;
  size_t at = Begin(EMR_ALPHABLEND, bits + Pad4(dib.Pixels.size()));
  PutBox(at + Bounds, Rect(x, y, cx, cy));
  Put32(at + XDest, uint32_t(x));
  Put32(at + YDest, uint32_t(y));
  Put32(at + CxDest, uint32_t(cx));
  Put32(at + CyDest, uint32_t(cy));
  // BLENDFUNCTION: source over, constant alpha 255, the pixels' own (premultiplied) alpha.
  Put32(at + Blend, uint32_t(AC_SRC_OVER) | 255u << 16 | uint32_t(AC_SRC_ALPHA) << 24);
  PutF(at + XformSrc, 1);  // the source's own transform: identity
  PutF(at + XformSrc + 12, 1);
  Put32(at + UsageSrc, uint32_t(DIB_RGB_COLORS));
  Put32(at + OffBmi, StretchMinSize);
  Put32(at + CbBmi, bmi::InfoSize);
  Put32(at + OffBits, bits);
  Put32(at + CbBits, uint32_t(dib.Pixels.size()));
  Put32(at + CxSrc, uint32_t(dib.Width));
  Put32(at + CySrc, uint32_t(dib.Height));
  PutBitmapInfo(at + StretchMinSize, dib);
  std::memcpy(FBytes.data() + at + bits, dib.Pixels.data(), dib.Pixels.size());
}

TkxEmfWriter::TBox TkxEmfWriter::Rect(double x, double y, double cx, double cy) const {
  TBox box;
  AddLogical(box, x, y);
  AddLogical(box, x + cx, y);
  AddLogical(box, x, y + cy);
  AddLogical(box, x + cx, y + cy);
  return box;
}

void TkxEmfWriter::GradientFill(const std::vector<TkxEmfVertex>& vertices,
                                const std::vector<std::pair<uint32_t, uint32_t>>& rects, uint32_t mode) {
  using namespace gradient;
  size_t at = Begin(EMR_GRADIENTFILL, MinSize + VertexSize * vertices.size() + 8 * rects.size());
  TBox box;
  for (const TkxEmfVertex& v : vertices) AddLogical(box, v.X, v.Y);
  PutBox(at + Bounds, box);
  Put32(at + Vertices, uint32_t(vertices.size()));
  Put32(at + Shapes, uint32_t(rects.size()));
  Put32(at + Mode, mode);
  size_t p = at + MinSize;
  for (const TkxEmfVertex& v : vertices) {
    Put32(p, uint32_t(v.X));
    Put32(p + 4, uint32_t(v.Y));
    Put32(p + 8, uint32_t(v.R) | uint32_t(v.G) << 16);
    Put32(p + 12, uint32_t(v.B) | uint32_t(v.A) << 16);
    p += VertexSize;
  }
  for (const auto& r : rects) {
    Put32(p, r.first);
    Put32(p + 4, r.second);
    p += 8;
  }
}

std::string TkxEmfWriter::Finish() {
  Simple(EMR_EOF, {0, 16, 20});  // no palette; nSizeLast
  Put32(header::Bytes, uint32_t(FBytes.size()));
  Put32(header::Records, FRecords);
  Put32(header::Handles, FMaxHandles);
  return std::move(FBytes);
}

}  // namespace kx
