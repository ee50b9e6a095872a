#pragma once
// Builds small enhanced metafiles for tests, record by record.
#include <cstdint>
#include <string>
#include <vector>

namespace kxtest {

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
  EmfBuilder& SolidBrush(uint32_t handle, uint32_t colorref);
  EmfBuilder& Select(uint32_t handle);
  EmfBuilder& Rectangle(int32_t l, int32_t t, int32_t r, int32_t b);
  EmfBuilder& Font(uint32_t handle, int32_t height, const std::u16string& face, int32_t weight = 400);
  EmfBuilder& TextOut(int32_t x, int32_t y, const std::u16string& text, const std::vector<int32_t>& dx);
  std::string Bytes() const;  // with EOF and the header's counts filled in

 private:
  std::string FHeader;
  std::vector<std::string> FRecords;
};

}  // namespace kxtest
