#pragma once
// The drawing operations of a PDF as LibreOffice's PDF reader (xpdfimport) reports
// them: one line of text per operation on its standard output, and the binary parts
// (embedded fonts, images) one after another on its standard error, in the order the
// lines that announce them come. Coordinates are the PDF's user space; the current
// transformation maps them to device space, which has 100 units a point and y down.
#include <array>
#include <functional>
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
  std::string Text;   // UTF-8; empty when the PDF does not say which characters
  uint32_t Code = 0;  // the PDF's code for the glyph in its font
};

// Raw: rows from the top, packed, 3 bytes a pixel (red, green, blue) or with `Alpha`
// 4 (straight alpha last).
enum class TkxPdfImageFormat { Jpeg, Png, Ppm, Pbm, Raw };

// An image drawn into the unit square of the current transformation; its first row
// is the square's top (y = 1).
struct TkxPdfImage {
  int Width = 0, Height = 0;
  TkxPdfImageFormat Format = TkxPdfImageFormat::Png;
  std::string_view Bytes;
  std::string_view MaskColors;  // colour-key mask: lowest red, green, blue, then highest
  bool Stencil = false;         // a mask: its set pixels are painted in the fill colour
  bool Invert = false;
  bool Alpha = false;  // Raw only
};

// A smooth shading that paints the whole clip, in the coordinates of the current
// transformation. Axial: the colour runs from (X0, Y0) to (X1, Y1), constant across
// that axis; radial: from the circle (X0, Y0, R0) to (X1, Y1, R1). `Colors` are the
// colours at evenly spaced steps of the shading's parameter from its start to its end
// (red, green, blue, 0 to 1). Other kinds come as `Image`, already drawn.
struct TkxPdfShading {
  enum TKind { Axial, Radial, Image } Kind = Axial;
  double X0 = 0, Y0 = 0, R0 = 0, X1 = 0, Y1 = 0, R1 = 0;
  bool ExtendStart = false, ExtendEnd = false;
  std::vector<std::array<double, 3>> Colors;
  // The device box the shading may cover at most (the clip's box), 1/100 pt.
  double BoxX0 = 0, BoxY0 = 0, BoxX1 = 0, BoxY1 = 0;
  // Image: the shading drawn over the box, rows from the top, red, green, blue.
  int Width = 0, Height = 0;
  std::string Pixels;
};

class TkxPdfSink;

// A soft mask: the drawing `Draw` gives to a sink is the mask; its luminosity over
// `Backdrop` (or its alpha, with `Alpha`) is how much of what is drawn under the mask shows.
struct TkxPdfSoftMask {
  bool Alpha = false;
  double Backdrop[3] = {0, 0, 0};
  double BoxX0 = 0, BoxY0 = 0, BoxX1 = 0, BoxY1 = 0;  // device box the mask and its content may cover
  std::function<void(TkxPdfSink&)> Draw;
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
  virtual void FillShading(const TkxPdfShading& /*shading*/) {}
  // A transparency group: what is drawn until EndGroup is composed on its own and
  // painted with `opacity`.
  virtual void BeginGroup(double /*opacity*/) {}
  virtual void EndGroup() {}
  // What `content` draws to a sink, shown through `mask`.
  virtual void DrawMasked(const TkxPdfSoftMask& /*mask*/, const std::function<void(TkxPdfSink&)>& /*content*/) {}
};

// Feeds every operation of `text` to `sink`, taking the binary parts from `binary`.
// Lines it does not know are skipped. False when the output ends inside a page, has
// fewer or more pages than it announced, or a binary part is missing (the operations
// before that point have been delivered).
bool ReadPdfOps(std::string_view text, std::string_view binary, TkxPdfSink& sink);

}  // namespace kx::pdf
