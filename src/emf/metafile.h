#pragma once
// The metafile holder: the bytes of one enhanced metafile.
#include <cstdint>
#include <string>

namespace kx {

struct TkxEmfHeader {
  int32_t BoundsL = 0, BoundsT = 0, BoundsR = 0, BoundsB = 0;
  int32_t FrameL = 0, FrameT = 0, FrameR = 0, FrameB = 0;  // hundredths of a millimetre
  uint32_t Bytes = 0, Records = 0;
  uint16_t Handles = 0;
  int32_t DevicePxX = 0, DevicePxY = 0, DeviceMmX = 0, DeviceMmY = 0;
};

// Parses the first record; false unless it is an EMR_HEADER with the " EMF" signature.
bool ReadEmfHeader(const std::string& bytes, TkxEmfHeader& h);

inline constexpr char kPageComment[8] = {'L', 'X', 'P', 'A', 'G', 'E', '0', '1'};

class TkxMetafile {
 public:
  void LoadFromBytes(std::string bytes);       // raises "Invalid metafile" when not an EMF
  void LoadFromFile(const std::string& path);  // raises on read errors and bad data
  void LoadFromClipboard();                    // raises "Unsupported clipboard format"
  void SaveToFile(const std::string& path) const;
  bool Empty() const { return FBytes.empty(); }
  const std::string& Bytes() const { return FBytes; }
  const TkxEmfHeader& Header() const { return FHeader; }
  // Natural size in pixels of the reference device, from the header's frame.
  int32_t Width() const;
  int32_t Height() const;
  // The page's own size in points, which our pages carry in a comment near the start
  // (kPageComment, then width and height as doubles); false for other metafiles.
  bool PagePoints(double& width, double& height) const;

 private:
  std::string FBytes;
  TkxEmfHeader FHeader;
};

}  // namespace kx
