#pragma once
// The drawing operations of a PDF as LibreOffice's PDF reader (xpdfimport) reports
// them: one line of text per operation on its standard output, and the binary parts
// (embedded fonts, images) one after another on its standard error, in the order the
// lines that announce them come. Coordinates are the PDF's user space; the current
// transformation maps them to device space, which has 100 units a point and y down.
#include <string>
#include <string_view>
#include <vector>

namespace kx::pdf {

struct TkxPdfPoint {
  double X = 0, Y = 0;
  bool Control = false;  // one of the two control points before a curve's end
};
struct TkxPdfSubpath {
  bool Closed = false;
  std::vector<TkxPdfPoint> Points;
};
using TkxPdfPath = std::vector<TkxPdfSubpath>;

struct TkxPdfFont {
  long long Id = 0;
  bool Bold = false, Italic = false;
  double Size = 0;   // device units
  std::string Name;  // without the subset tag
  // The font program the PDF embeds (TrueType, CFF or Type 1), empty when it embeds
  // none; it lives as long as the reader's output.
  std::string_view Program;
};

struct TkxPdfChar {
  double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;  // origin and origin plus advance, user space
  // The text matrix: glyph space x runs along (A, B), y along (C, D), times Size.
  double A = 1, B = 0, C = 0, D = 1;
  double Size = 0;
  std::string Text;  // UTF-8; empty when the PDF does not say which characters
};

enum class TkxPdfImageFormat { Jpeg, Png, Ppm, Pbm };

// An image drawn into the unit square of the current transformation; its first row
// is the square's top (y = 1).
struct TkxPdfImage {
  int Width = 0, Height = 0;
  TkxPdfImageFormat Format = TkxPdfImageFormat::Png;
  std::string_view Bytes;
  std::string_view MaskColors;  // colour-key mask: lowest red, green, blue, then highest
  bool Stencil = false;         // a mask: its set pixels are painted in the fill colour
  bool Invert = false;
};

class TkxPdfSink {
 public:
  virtual ~TkxPdfSink() = default;
  virtual void StartPage(double /*width*/, double /*height*/) {}  // device units
  virtual void EndPage() {}
  virtual void SaveState() {}
  virtual void RestoreState() {}
  virtual void SetCtm(const double (&/*m*/)[6]) {}  // a b c d e f: x' = a x + c y + e, y' = b x + d y + f
  virtual void SetLineDash(double /*phase*/, const std::vector<double>& /*dashes*/) {}
  virtual void SetLineJoin(int /*join*/) {}
  virtual void SetLineCap(int /*cap*/) {}
  virtual void SetMiterLimit(double /*limit*/) {}
  virtual void SetLineWidth(double /*width*/) {}
  virtual void SetTextRenderMode(int /*mode*/) {}
  virtual void SetFillColor(double /*r*/, double /*g*/, double /*b*/, double /*alpha*/) {}
  virtual void SetStrokeColor(double /*r*/, double /*g*/, double /*b*/, double /*alpha*/) {}
  virtual void SetFont(const TkxPdfFont& /*font*/) {}
  virtual void DrawChar(const TkxPdfChar& /*c*/) {}
  virtual void EndText() {}
  virtual void Stroke(const TkxPdfPath& /*path*/) {}
  virtual void Fill(const TkxPdfPath& /*path*/, bool /*evenOdd*/) {}
  virtual void Clip(const TkxPdfPath& /*path*/, bool /*evenOdd*/) {}
  virtual void DrawImage(const TkxPdfImage& /*image*/) {}
};

// Feeds every operation of `text` to `sink`, taking the binary parts from `binary`.
// Lines it does not know are skipped. False when the output ends inside a page, has
// fewer or more pages than it announced, or a binary part is missing (the operations
// before that point have been delivered).
bool ReadPdfOps(std::string_view text, std::string_view binary, TkxPdfSink& sink);

}  // namespace kx::pdf
