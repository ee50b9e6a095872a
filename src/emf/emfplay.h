#pragma once
// The metafile player's state, shared by the files of its jobs: record walking and the
// device context (emfplayer.cpp), paths, shapes and clipping (emfpaths.cpp), fills and
// strokes (emffill.cpp), bitmaps (emfbitmaps.cpp) and text (emftext.cpp).
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "emf/cairoptr.h"
#include "emf/emfplayer.h"
#include "emf/emfrecords.h"
#include "emf/glyphmasks.h"
#include "emf/metafile.h"

namespace kx::emfplay {

constexpr int kMaxHandles = 65536;
constexpr size_t kMaxSaveDepth = 1024;
constexpr int64_t kMaxImagePixels = int64_t(1) << 24;  // one bitmap
constexpr int64_t kPixelBudget = int64_t(1) << 28;     // all bitmaps of one playback
constexpr double kMaxFontPx = 4000;
constexpr double kMaxCoord = 1e7;

inline double Clamp(double v) { return std::isfinite(v) ? std::fmin(std::fmax(v, -kMaxCoord), kMaxCoord) : 0; }

// One record's bytes. Fields past its end read as 0.
struct TRecord {
  uint32_t Type;
  const uint8_t* P;
  size_t N;
  bool Has(size_t off, size_t len) const { return off <= N && len <= N - off; }
  uint32_t U32(size_t off) const {
    if (!Has(off, 4)) return 0;
    uint32_t v;
    std::memcpy(&v, P + off, 4);
    return v;
  }
  int32_t I32(size_t off) const { return int32_t(U32(off)); }
  int16_t I16(size_t off) const {
    if (!Has(off, 2)) return 0;
    int16_t v;
    std::memcpy(&v, P + off, 2);
    return v;
  }
  uint16_t U16(size_t off) const { return uint16_t(I16(off)); }
  uint8_t U8(size_t off) const { return Has(off, 1) ? P[off] : 0; }
  float F32(size_t off) const {
    uint32_t u = U32(off);
    float f;
    std::memcpy(&f, &u, 4);
    return std::isfinite(f) ? f : 0.0f;
  }
};

struct TPen {
  int Style = emf::PS_SOLID;
  double Width = 0;  // logical units; 0 is one pixel
  uint32_t Color = 0;
  bool Geometric = false;
  std::vector<double> Dashes;  // user style, logical units
  cairo_line_cap_t Cap = CAIRO_LINE_CAP_ROUND;
  cairo_line_join_t Join = CAIRO_LINE_JOIN_ROUND;
};

struct TBrush {
  int Style = emf::BS_SOLID;
  uint32_t Color = 0xFFFFFF;
  int Hatch = 0;
  std::shared_ptr<cairo_pattern_t> Pattern;  // DIB and mono patterns
};

struct TFont {
  int Height = -12, Width = 0, Escapement = 0, Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  std::string Face = "DejaVu Sans";
};

struct TObject {
  enum Kind { None, Pen, Brush, Font } K = None;
  TPen P;
  TBrush B;
  TFont F;
};

struct TDc {
  int MapMode = emf::MM_TEXT;
  double WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
  double VpOrgX = 0, VpOrgY = 0, VpExtX = 1, VpExtY = 1;
  cairo_matrix_t World;
  TPen CurPen;
  TBrush CurBrush;
  TFont CurFont;
  uint32_t TextColor = 0, BkColor = 0xFFFFFF;
  int BkMode = emf::OPAQUE, TextAlign = 0, Rop2 = emf::R2_COPYPEN, PolyFill = emf::ALTERNATE;
  double CurX = 0, CurY = 0, Miter = 10;
  bool Clockwise = false;
  TDc() { cairo_matrix_init_identity(&World); }
};

void SetColor(cairo_t* cr, uint32_t colorref);

class TTextLayout;
struct TTextInput;
constexpr size_t kMaxCarriedFonts = 1024;

class TPlayer {
 public:
  TPlayer(cairo_t* cr, const std::string& emf, double x, double y, double w, double h);
  TkxEmfPlayStats Play();

  using THandler = void (TPlayer::*)(const TRecord&);

 private:
  // Record walking and the device context (emfplayer.cpp).
  static THandler HandlerOf(uint32_t type);
  bool Start();
  void CarriedFonts();
  void UpdateMatrix();
  void Tx(double x, double y, double& ox, double& oy) const;
  double ScaleX() const { return std::hypot(FM.xx, FM.yx); }
  double ScaleY() const { return std::hypot(FM.xy, FM.yy); }
  bool Visible() const { return FDc.Rop2 != emf::R2_NOP; }
  void Ignore(const TRecord&) {}
  void SetMapMode(const TRecord& r);
  void SetExtent(const TRecord& r);
  void SetOrigin(const TRecord& r);
  void ScaleExtent(const TRecord& r);
  void WorldTransform(const TRecord& r);
  void SetValue(const TRecord& r);
  void SaveDc(const TRecord& r);
  void RestoreDc(const TRecord& r);
  void CreatePen(const TRecord& r);
  void ExtCreatePen(const TRecord& r);
  void CreateBrush(const TRecord& r);
  void CreateFont(const TRecord& r);
  void SelectObject(const TRecord& r);
  void DeleteObject(const TRecord& r);
  void SelectStock(uint32_t index);
  TObject* NewObject(uint32_t ih, TObject::Kind kind);  // the slot, emptied; nullptr out of range

  // Paths, shapes and clipping (emfpaths.cpp).
  void MoveTo(const TRecord& r);
  void LineTo(const TRecord& r);
  void Poly(const TRecord& r);
  void PolyPoly(const TRecord& r);
  void Rectangle(const TRecord& r);
  void RoundRect(const TRecord& r);
  void Ellipse(const TRecord& r);
  void Arc(const TRecord& r);
  void BeginPath(const TRecord& r);
  void EndPath(const TRecord& r);
  void AbortPath(const TRecord& r);
  void CloseFigure(const TRecord& r);
  void PaintPath(const TRecord& r);
  void SelectClipPath(const TRecord& r);
  void ClipRect(const TRecord& r);
  void SelectClipRegion(const TRecord& r);
  void AddPoints(const TRecord& r, size_t off, uint32_t count, bool small, bool bezier, bool fromCurrent);
  void Rect(double l, double t, double r, double b);
  void EllipsePath(double l, double t, double r, double b);
  void ArcPath(const TRecord& r);
  void ClipToCurrent(bool evenOdd);
  void ResetClip();

  // Fills and strokes (emffill.cpp).
  void FillCurrent(bool preserve);
  void FillHatched(bool preserve);
  void FillHairline(bool preserve);
  double MeanWidth() const;
  void StrokeCurrent(bool preserve);
  void FillAndStroke(bool close);
  void ApplyPenColor();
  struct TGradientVertex {
    double X, Y, C[3];
  };
  void GradientFill(const TRecord& r);
  void GradientTriangles(const TRecord& r, size_t shapes, uint32_t count, const std::vector<TGradientVertex>& v);
  double PenWidthPx() const;

  // Bitmaps (emfbitmaps.cpp).
  struct TDibPlace {  // where in its record a bitmap's header and bits are
    uint32_t OffBmi, CbBmi, OffBits, CbBits;
  };
  struct TBlt {
    double X, Y, Cx, Cy;  // destination, logical units
    int32_t SrcX, SrcY, SrcCx, SrcCy;
    TDibPlace Dib;
    uint32_t Rop = emf::SRCCOPY;
    bool FromBottom = false;  // the source rectangle counts from the bottom row
    bool Alpha = false;       // per-pixel alpha, premultiplied
    double Opacity = 1;
  };
  void StretchDiBits(const TRecord& r);
  void SetDiBitsToDevice(const TRecord& r);
  void BitBlt(const TRecord& r);
  void AlphaBlend(const TRecord& r);
  void CreatePatternBrush(const TRecord& r);
  void Image(const TRecord& r, const TBlt& b);
  // The pattern of a bitmap averaged down to device pixels, the path set to them; null
  // where cairo's own filter draws it.
  TkxPattern BoxedImage(cairo_surface_t* img, int x, int y, int w, int h, const cairo_matrix_t& m);
  TkxSurface DibSurface(const TRecord& r, const TDibPlace& at, bool alpha, bool& bottomUp);

  // Text (emftext.cpp).
  struct TBaseline {
    double Cos = 1, Sin = 0;  // the escapement's turn
    double Ox = 0, Oy = 0;    // where the text starts, logical units
    double Bx = 1, By = 0;    // the baseline's direction, logical units
    double Shift = 0;         // from the reference point to the baseline, output pixels up
    bool Level = false;       // level on the output's pixel grid
  };
  void ExtTextOut(const TRecord& r);
  void TextRect(int32_t l, int32_t t, int32_t r, int32_t b, bool clip);  // filled with the background, or the clip
  void Comment(const TRecord& r);                                        // a font the metafile carries
  cairo_font_face_t* RecordFace(const TFont& f, const TTextInput& in);   // the one place a face is chosen
  double AverageWidth(double em);
  bool SelectTextFont(const TFont& f, cairo_font_face_t* face, const TBaseline& at,
                      double& em);  // false: nothing to draw
  void PlaceBaseline(TBaseline& at, int32_t refX, int32_t refY, double total, cairo_scaled_font_t* font);
  void DrawGlyphs(const TTextLayout& layout, const TBaseline& at);
  // Draws the glyphs of a colour face (emoji) as its pictures; false for another face.
  bool ColorGlyphs(cairo_scaled_font_t* font, const std::vector<cairo_glyph_t>& glyphs);
  // Draws what it can as masks; returns the glyphs left to draw as outlines.
  std::vector<cairo_glyph_t> MaskGlyphs(cairo_scaled_font_t* font, const std::vector<cairo_glyph_t>& glyphs);
  void DrawTextLines(const TFont& f, double em, const TBaseline& at, double total);

  cairo_t* FCr;
  const uint8_t* FData;
  size_t FSize;
  double FX, FY, FW, FH;
  TkxEmfHeader FHeader;
  cairo_matrix_t FBase;  // reference device pixels -> output
  cairo_matrix_t FM;     // logical -> output
  TDc FDc;
  std::vector<TDc> FSaved;
  std::vector<TObject> FObjects;
  bool FInPath = false;
  TkxPath FPath;  // the last closed bracket, in output coordinates
  int64_t FPixels = 0;
  TkxEmfPlayStats FStats;
  TkxGlyphMasks FMasks;
  struct TCarried {  // font programs the metafile carries
    std::string Face;
    int Weight;
    bool Italic;
    std::shared_ptr<const std::string> Program;
  };
  std::vector<TCarried> FCarried;
};

}  // namespace kx::emfplay
