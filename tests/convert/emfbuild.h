#pragma once
// Builds small enhanced metafiles for tests, record by record, with the records and
// fields LibreOffice and the page translator write.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kxtest {

using Points = std::vector<std::pair<int32_t, int32_t>>;

class EmfBuilder {
 public:
  // A page of `frameW` x `frameH` hundredths of a millimetre on a reference device of
  // `devPxW` x `devPxH` pixels and `devMmW` x `devMmH` millimetres.
  EmfBuilder(int32_t frameW = 21600, int32_t frameH = 27900, int32_t devPxW = 816, int32_t devPxH = 1056,
             int32_t devMmW = 216, int32_t devMmH = 279);
  EmfBuilder& Record(uint32_t type, const std::vector<int32_t>& words);
  EmfBuilder& Raw(const std::string& record);
  // Logical units of 0.01 mm on a 96 dpi device, as LibreOffice writes them.
  EmfBuilder& HimetricMapping();
  // `unitsPerPixel` logical units to a pixel of a 96 dpi device, as the page translator
  // writes pages; with the device 9600 x 9600 px by 2540 x 2540 mm a page of w x h
  // pixels (multiples of 48) is EmfBuilder(2540 * w / 96, 2540 * h / 96, 9600, 9600, 2540, 2540).
  EmfBuilder& PixelMapping(int32_t unitsPerPixel);
  EmfBuilder& SolidBrush(uint32_t handle, uint32_t colorref);
  EmfBuilder& Pen(uint32_t handle, uint32_t style, int32_t width, uint32_t colorref);
  EmfBuilder& Select(uint32_t handle);
  EmfBuilder& Rectangle(int32_t l, int32_t t, int32_t r, int32_t b);
  // EMR_POLYGON, EMR_POLYLINE, EMR_POLYBEZIERTO ...: the bounds, the count, the points.
  EmfBuilder& Poly(uint32_t type, const Points& points);
  EmfBuilder& MoveTo(int32_t x, int32_t y);
  EmfBuilder& IntersectClip(int32_t l, int32_t t, int32_t r, int32_t b);
  EmfBuilder& Font(uint32_t handle, int32_t height, const std::u16string& face, int32_t weight = 400,
                   bool italic = false, int32_t escapement = 0);
  EmfBuilder& TextOut(int32_t x, int32_t y, const std::u16string& text, const std::vector<int32_t>& dx,
                      uint32_t options = 0);
  // A bitmap of `w` x `h` pixels (0xAARRGGBB, top row first) stretched onto the
  // rectangle: EMR_STRETCHDIBITS with a bottom-up 24-bit DIB, or EMR_ALPHABLEND with a
  // bottom-up 32-bit DIB whose pixels are premultiplied as given.
  EmfBuilder& StretchDib(int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t w, int32_t h,
                         const std::vector<uint32_t>& pixels);
  EmfBuilder& AlphaBlend(int32_t x, int32_t y, int32_t cx, int32_t cy, int32_t w, int32_t h,
                         const std::vector<uint32_t>& pixels, uint8_t constantAlpha = 255);
  // The source rectangle of the bitmap record just added (the whole bitmap otherwise).
  EmfBuilder& SourceRect(int32_t x, int32_t y, int32_t cx, int32_t cy);
  std::string Bytes() const;  // with EOF and the header's counts filled in

 private:
  std::string FHeader;
  std::vector<std::string> FRecords;
};

}  // namespace kxtest
