#pragma once
// Writes an enhanced metafile record by record: the header with its frame and a
// reference device of exactly 96 dpi, mapping, device-context state, objects with
// their handles, paths, clipping, text and bitmaps. Finish gives the file's bytes.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kx {

struct TkxEmfPoint {
  int32_t X = 0, Y = 0;
};

// World transform: x' = x * M11 + y * M21 + Dx, y' = x * M12 + y * M22 + Dy.
struct TkxEmfXform {
  float M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
};

struct TkxEmfLogFont {
  int32_t Height = 0;  // negative: the em size in logical units
  int32_t Width = 0, Escapement = 0, Orientation = 0, Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  uint8_t CharSet = 1;  // DEFAULT_CHARSET
  std::u16string Face;  // up to 31 units are kept
};

// A device-independent bitmap's pixels: rows from the bottom, each padded to 4 bytes;
// 24 bits are blue, green, red; 32 bits blue, green, red, alpha with the colours
// premultiplied by alpha.
struct TkxDib {
  int32_t Width = 0, Height = 0;
  int Bits = 24;
  std::string Pixels;
};

// A corner of a gradient: its place (logical units) and colour (0 to 0xFF00 each).
struct TkxEmfVertex {
  int32_t X = 0, Y = 0;
  uint16_t R = 0, G = 0, B = 0, A = 0;
};

// Rows from the top: `rgb` 3 bytes a pixel, `rgba` 4 bytes a pixel with straight alpha.
TkxDib DibFromRgb(int32_t width, int32_t height, const uint8_t* rgb, size_t stride);
TkxDib DibFromRgba(int32_t width, int32_t height, const uint8_t* rgba, size_t stride);

class TkxEmfWriter {
 public:
  // The frame in hundredths of a millimetre and the bounds in pixels of the reference
  // device, which has 9600 pixels for 2540 millimetres in both directions.
  TkxEmfWriter(int32_t frameWidth, int32_t frameHeight, int32_t pixelWidth, int32_t pixelHeight);

  void SetMapMode(uint32_t mode);
  void SetWindowExt(int32_t cx, int32_t cy);
  void SetWindowOrg(int32_t x, int32_t y);
  void SetViewportExt(int32_t cx, int32_t cy);
  void SetViewportOrg(int32_t x, int32_t y);
  void SetBkMode(uint32_t mode);
  void SetBkColor(uint32_t colorref);
  void SetTextAlign(uint32_t align);
  void SetTextColor(uint32_t colorref);
  void SetPolyFillMode(uint32_t mode);
  void SetMiterLimit(uint32_t limit);
  void SaveDC();
  void RestoreDC(int32_t relative = -1);
  void SetWorldTransform(const TkxEmfXform& x);

  // Objects get the lowest free handle; the header counts the most ever in use.
  uint32_t CreatePen(uint32_t style, uint32_t width, uint32_t colorref, const std::vector<uint32_t>& dashes = {});
  uint32_t CreateBrush(uint32_t colorref);
  uint32_t CreateFont(const TkxEmfLogFont& font);
  void SelectObject(uint32_t handle);  // a handle, or a stock object's index with the high bit set
  void DeleteObject(uint32_t handle);

  void BeginPath();
  void EndPath();
  void CloseFigure();
  void MoveTo(int32_t x, int32_t y);
  void PolylineTo(const std::vector<TkxEmfPoint>& points);
  void PolyBezierTo(const std::vector<TkxEmfPoint>& points);  // three points a curve
  void FillPath();
  void StrokePath();
  void StrokeAndFillPath();
  void SelectClipPath(uint32_t mode);
  void IntersectClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom);

  void Comment(const std::string& data);  // EMR_GDICOMMENT with data of the program's own: readers pass over it
  // `dx` holds one advance per UTF-16 unit, in logical units.
  void ExtTextOutW(int32_t x, int32_t y, uint32_t options, const std::u16string& text, const std::vector<int32_t>& dx);
  // The whole bitmap into the destination rectangle (logical units).
  void StretchDIBits(int32_t x, int32_t y, int32_t cx, int32_t cy, const TkxDib& dib);
  void AlphaBlend(int32_t x, int32_t y, int32_t cx, int32_t cy, const TkxDib& dib);
  // Rectangles, each from one vertex (one corner) to another (the opposite one), shaded
  // across (GRADIENT_FILL_RECT_H) or down (GRADIENT_FILL_RECT_V).
  void GradientFill(const std::vector<TkxEmfVertex>& vertices, const std::vector<std::pair<uint32_t, uint32_t>>& rects,
                    uint32_t mode);

  size_t Size() const { return FBytes.size(); }
  // Appends EMR_EOF, fills in the header's totals and hands the bytes over.
  std::string Finish();

 private:
  size_t Begin(uint32_t type, size_t size);  // a zeroed record; returns its offset
  void Put32(size_t at, uint32_t v);
  void PutF(size_t at, float v);
  void PutBounds(size_t at);
  void Simple(uint32_t type, std::initializer_list<uint32_t> values);
  void Points(uint32_t type, const std::vector<TkxEmfPoint>& points);
  uint32_t NewHandle();
  void PutBitmapInfo(size_t at, const TkxDib& dib);
  // A STRETCHDIBITS of `dib`'s size into the rectangle, with room for `bits` bytes of
  // pixels after the bitmap header; returns its offset.
  size_t BeginStretch(int32_t x, int32_t y, int32_t cx, int32_t cy, const TkxDib& dib, size_t bits);

  // What a record's bounds need: the mapping from logical units to the reference
  // device, and the pen and font in use, as saved and restored with the context.
  struct TMapping {
    double WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1, VpOrgX = 0, VpOrgY = 0, VpExtX = 1, VpExtY = 1;
    TkxEmfXform World;
    uint32_t Pen = 0, Font = 0;
  };
  struct TBox {
    double L = 0, T = 0, R = -1, B = -1;  // device pixels; empty while R < L
    void Add(double x, double y);
  };
  void Device(double x, double y, double& dx, double& dy) const;
  void AddLogical(TBox& box, double x, double y) const;
  void PutBox(size_t at, const TBox& box, double grow = 0);  // grow: device pixels on each side
  double PenPixels() const;
  TBox Rect(double x, double y, double cx, double cy) const;

  std::string FBytes;
  uint32_t FRecords = 0;
  TMapping FMap;
  std::vector<TMapping> FSaved;
  std::vector<double> FPenWidths{0};    // logical width of each pen handle (0: cosmetic)
  std::vector<double> FFontHeights{0};  // em of each font handle; negative: turned
  TBox FPath;                           // the path being built
  int32_t FPixelW, FPixelH;
  std::vector<bool> FUsed{true};  // handle 0 is the metafile itself
  uint32_t FMaxHandles = 1;
};

}  // namespace kx
