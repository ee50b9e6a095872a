#include "pdf/pdfpage.h"

#include <hb.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <tuple>

#include "emf/cairoptr.h"
#include "emf/emfplayer.h"
#include "emf/emfrecords.h"
#include "emf/emfwriter.h"
#include "emf/fontcomment.h"
#include "emf/fontname.h"
#include "emf/fonts.h"
#include "emf/metafile.h"
#include "emf/symbolfonts.h"
#include "pdf/embeddedfont.h"
#include "pdf/pdffile.h"
#include "pdf/pdfimage.h"
#include "pdf/pdfops.h"
#include "pdf/pdftextrun.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace kx::pdf {

using namespace emf;

namespace {

constexpr int32_t kUnitsPerPixel = 75;  // 1/100 pt at 96 dpi
constexpr int64_t kMaxImagePixels = int64_t(1) << 24;
constexpr int64_t kMaxDecodedPixels = int64_t(1) << 26;  // larger pictures are left out
constexpr double kMaxCoord = 1 << 30;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr size_t kCachedObjects = 256;  // per kind, before unused ones are deleted
constexpr double kImageDpi = 300;       // pictures keep at least this resolution where placed

// A glyph's advance as the PDF places it, in ems.
double AdvanceEm(const TkxPdfChar& c) { return c.Size > 0 ? std::hypot(c.X1 - c.X0, c.Y1 - c.Y0) / c.Size : 0; }

// A character that is a symbol rather than a letter, digit or punctuation.
bool Symbolic(char32_t c) {
  switch (hb_unicode_general_category(hb_unicode_funcs_get_default(), c)) {
    case HB_UNICODE_GENERAL_CATEGORY_MATH_SYMBOL:
    case HB_UNICODE_GENERAL_CATEGORY_OTHER_SYMBOL: return c < 0xE000 || c >= 0xF900;
    default: return false;
  }
}

std::string Utf32ToUtf8(const std::u32string& s) {
  std::u16string u;
  for (char32_t c : s) {
    if (c >= 0x10000) {
      u.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
      u.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      u.push_back(char16_t(c));
    }
  }
  return Utf16ToUtf8(u);
}

std::u32string Utf8ToUtf32(const std::string& utf8) {
  std::u16string u = Utf8ToUtf16(utf8);
  std::u32string r;
  for (size_t i = 0; i < u.size(); ++i) {
    char32_t c = u[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
    r.push_back(c);
  }
  return r;
}

uint32_t ColorRef(double r, double g, double b) {
  auto c = [](double v) { return uint32_t(std::lround(std::clamp(std::isfinite(v) ? v : 0.0, 0.0, 1.0) * 255)); };
  return c(r) | c(g) << 8 | c(b) << 16;
}

int32_t Coord(double v) { return int32_t(std::lround(std::isfinite(v) ? std::clamp(v, -kMaxCoord, kMaxCoord) : 0)); }

struct PenKey {
  uint32_t Style, Width, Color;
  std::vector<uint32_t> Dashes;
  auto operator<=>(const PenKey&) const = default;
};

struct FontKey {
  std::string Face;
  int32_t Height, Width, Escapement, Weight;
  bool Italic;
  auto operator<=>(const FontKey&) const = default;
};

struct GState {
  double Ctm[6] = {1, 0, 0, 1, 0, 0};
  uint32_t Fill = 0, Stroke = 0;
  double FillAlpha = 1, StrokeAlpha = 1;
  double LineWidth = 1, MiterLimit = 10, DashPhase = 0;
  std::vector<double> Dash;
  int Cap = 0, Join = 0, TextMode = 0;
  TkxPdfFont Font;
  bool DcSaved = false;  // a SAVEDC was written for this level (its clip)
  // The clip as a rectangle of logical units while it is one (none yet: the page).
  enum { Page, Rect, Other } ClipShape = Page;
  int32_t ClipBox[4] = {0, 0, 0, 0};
};

// A PDF font as the metafiles name it: the installed face it resolves to, or the
// program the PDF embeds for it, made drawable by character.
struct FontUse {
  std::string PdfName;
  TkxFaceMatch Match;
  TkxFontStyle Style;  // the face name, weight and slant the metafiles' fonts carry
  std::string Program;
  std::map<std::string, size_t> Codes;  // the text of each glyph drawn: its code - 1
  std::vector<TkxCodeUse> Uses;         // by code - 1
  std::string Drawable;                 // the program for the codes up to Uses.size() when made
  size_t DrawableCodes = 0;
  bool Carried = false;  // a page has carried the program
  // Text of the symbol fonts, which Writer draws with OpenSymbol (or, where OpenSymbol
  // lacks a glyph, another face): the glyphs it drew say which characters they show,
  // and the metafile carries them.
  bool Symbols = false;
  std::unique_ptr<TkxEmbeddedFont> Glyphs;  // of Program, when symbol codes need it
  TkxSymbolFont LastSymbolFont = TkxSymbolFont::Symbol;
  std::map<uint32_t, bool> Mirrored;  // by the PDF's code, for brackets and the like
  bool Carries() const { return (!Match.Found() || Symbols) && !Program.empty(); }
  // Glyphs, read from Program when first asked for; null when the PDF has no program.
  TkxEmbeddedFont* ProgramGlyphs() {
    if (!Glyphs && !Program.empty()) Glyphs = std::make_unique<TkxEmbeddedFont>(Program);
    return Glyphs.get();
  }
};

// What the metafile's device context holds, as far as the translator set it.
struct Dc {
  uint32_t Pen = kNone, Brush = kNone, Font = kNone, TextColor = kNone, PolyFill = 0, Miter = 10;
};

class Translator : public TkxPdfSink {
 public:
  Translator() : FStates(1), FDcs(1) {}  // operations before the first page find a state
  std::vector<std::string> Pages;

  void StartPage(double width, double height) override;
  void EndPage() override;
  void SaveState() override;
  void RestoreState() override;
  void SetCtm(const double (&m)[6]) override { std::copy(m, m + 6, Top().Ctm); }
  void SetLineDash(double phase, const std::vector<double>& dashes) override {
    Top().DashPhase = phase;
    Top().Dash = dashes;
  }
  void SetLineJoin(int join) override { Top().Join = join; }
  void SetLineCap(int cap) override { Top().Cap = cap; }
  void SetMiterLimit(double limit) override { Top().MiterLimit = limit; }
  void SetLineWidth(double width) override { Top().LineWidth = width; }
  void SetTextRenderMode(int mode) override { Top().TextMode = mode; }
  void SetFillColor(double r, double g, double b, double a) override {
    Top().Fill = ColorRef(r, g, b);
    Top().FillAlpha = a;
  }
  void SetStrokeColor(double r, double g, double b, double a) override {
    Top().Stroke = ColorRef(r, g, b);
    Top().StrokeAlpha = a;
  }
  void SetFont(const TkxPdfFont& font) override;
  void DrawChar(const TkxPdfChar& c) override;
  void EndText() override { FlushText(); }
  void Stroke(const TkxPdfPath& path) override;
  void Fill(const TkxPdfPath& path, bool evenOdd) override;
  void Clip(const TkxPdfPath& path, bool evenOdd) override;
  void DrawImage(const TkxPdfImage& image) override;
  void FillShading(const TkxPdfShading& shading) override;
  void BeginGroup(double opacity) override { FAlphas.push_back(Alpha() * std::clamp(opacity, 0.0, 1.0)); }
  void EndGroup() override {
    if (FAlphas.size() > 1) FAlphas.pop_back();
  }
  void DrawMasked(const TkxPdfSoftMask& mask, const std::function<void(TkxPdfSink&)>& content) override;

 private:
  GState& Top() { return FStates.back(); }
  TkxEmfPoint Pt(double x, double y) const;
  void Path(const TkxPdfPath& path);
  bool Bounds(const TkxPdfPath& path, int32_t& l, int32_t& t, int32_t& r, int32_t& b) const;
  bool RectOf(const TkxPdfPath& path, int32_t (&r)[4]) const;
  void SaveDc();
  void RestoreDc();
  void PolyFill(bool evenOdd);
  void SelectBrush(uint32_t color);
  void SelectPen(const PenKey& key);
  void SelectFont(const FontKey& key);
  template <class Key>
  uint32_t Cached(std::map<Key, uint32_t>& cache, const Key& key, uint32_t Dc::*slot);
  void FlushText();
  void WriteRun(const TkxTextRun& run);
  void TranslucentRun(const TkxTextRun& run);
  FontUse& UseOf(const TkxPdfFont& font);
  size_t CodeOf(FontUse& use, const TkxPdfChar& c, const std::string& key, const std::string& shown);
  std::string TextOf(FontUse& use, const TkxPdfChar& c);
  bool DrawnMirrored(FontUse& use, const TkxPdfChar& c);
  void CarryFonts();

  double Alpha() const { return FAlphas.back(); }
  // Pixels of the device box, at `unitsPerPixel`, cut to the page; false when empty.
  bool PixelBox(double x0, double y0, double x1, double y1, double unitsPerPixel, int32_t (&box)[4]) const;
  // Paints premultiplied pixels (cairo's ARGB32) over the device box `box` at
  // `unitsPerPixel`, times `alpha`; only the part that has ink goes in.
  void PaintPixels(const uint8_t* argb, int stride, const int32_t (&box)[4], double unitsPerPixel, double alpha);
  bool RasterBox(double x0, double y0, double x1, double y1, int32_t (&box)[4], double& upp) const;
  bool ShadePixels(const TkxPdfShading& sh, const int32_t (&box)[4], double upp, uint8_t al, uint8_t* px) const;
  TkxSurface Raster(const std::function<void(TkxPdfSink&)>& part, const int32_t (&box)[4], double upp,
                    cairo_format_t format, const double* backdrop);

 public:
  void TraceFonts() const;

 private:
  std::unique_ptr<TkxEmfWriter> FEmf;
  double FPageW = 0, FPageH = 0;     // device units
  std::vector<double> FAlphas{1.0};  // opacity of the transparency groups being drawn
  std::vector<GState> FStates;
  std::vector<Dc> FDcs;  // the current device context last
  std::map<PenKey, uint32_t> FPens;
  std::map<uint32_t, uint32_t> FBrushes;
  std::map<FontKey, uint32_t> FFonts;
  std::map<std::pair<long long, std::string>, FontUse> FFontUses;  // by the reader's font id and name
  std::vector<FontUse*> FPageFonts;                                // fonts this page draws with a program of the PDF's
  // The text run being gathered, with its font, colour, opacity (the groups' too) and direction.
  TkxTextRunBuilder FRun;
  FontKey FRunFont;
  uint32_t FRunColor = 0;
  double FRunAlpha = 1, FRunUx = 1, FRunUy = 0;
  bool FLastRunRtl = false;  // the text record written last reads right to left
};

TkxEmfPoint Translator::Pt(double x, double y) const {
  const double* m = FStates.back().Ctm;
  return {Coord(m[0] * x + m[2] * y + m[4]), Coord(m[1] * x + m[3] * y + m[5])};
}

void Translator::StartPage(double width, double height) {
  int32_t pw = PagePixels(width / 100), ph = PagePixels(height / 100);
  // The frame is the page in whole pixels, in 1/100 mm: players stretch the frame onto
  // the pixels, so a frame of the page's exact size would stretch it by part of a pixel.
  auto frame = [](int32_t px) { return int32_t(std::lround(px * 2540.0 / 96)); };
  FEmf = std::make_unique<TkxEmfWriter>(frame(pw), frame(ph), pw, ph);
  FPageW = width, FPageH = height;
  // The page's exact size, for drawing it at other resolutions to the pixel.
  std::string size(kPageComment, sizeof kPageComment);
  double points[2] = {width / 100, height / 100};
  size.append(reinterpret_cast<const char*>(points), sizeof points);
  FEmf->Comment(size);
  FAlphas.assign(1, 1.0);
  FEmf->SetMapMode(MM_ANISOTROPIC);
  FEmf->SetWindowOrg(0, 0);
  FEmf->SetWindowExt(pw * kUnitsPerPixel, ph * kUnitsPerPixel);
  FEmf->SetViewportOrg(0, 0);
  FEmf->SetViewportExt(pw, ph);
  FEmf->SetBkMode(TRANSPARENT);
  FEmf->SetTextAlign(TA_BASELINE);
  FStates.assign(1, GState{});
  FDcs.assign(1, Dc{});
  FPens.clear();
  FBrushes.clear();
  FFonts.clear();
  FPageFonts.clear();
  FRun.Start(1, 0);
}

void Translator::EndPage() {
  if (!FEmf) return;
  FlushText();
  CarryFonts();
  Pages.push_back(FEmf->Finish());
  FEmf.reset();
}

void Translator::SaveState() {
  if (!FEmf) return;
  FlushText();
  FStates.push_back(Top());
  Top().DcSaved = false;
}

void Translator::RestoreState() {
  if (!FEmf || FStates.size() < 2) return;
  FlushText();
  if (Top().DcSaved) RestoreDc();
  FStates.pop_back();
}

void Translator::SaveDc() {
  FEmf->SaveDC();
  FDcs.push_back(FDcs.back());
}

void Translator::RestoreDc() {
  FEmf->RestoreDC(-1);
  FDcs.pop_back();
}

void Translator::PolyFill(bool evenOdd) {
  uint32_t mode = evenOdd ? ALTERNATE : WINDING;
  if (FDcs.back().PolyFill == mode) return;
  FEmf->SetPolyFillMode(mode);
  FDcs.back().PolyFill = mode;
}

// An object from the cache, created when missing; when the cache is full, the objects
// that no device context (current or saved) holds are deleted first.
template <class Key>
uint32_t Translator::Cached(std::map<Key, uint32_t>& cache, const Key& key, uint32_t Dc::*slot) {
  if (auto it = cache.find(key); it != cache.end()) return it->second;
  if (cache.size() >= kCachedObjects) {
    for (auto it = cache.begin(); it != cache.end();) {
      bool held = false;
      for (const Dc& dc : FDcs) held = held || dc.*slot == it->second;
      if (held) {
        ++it;
        continue;
      }
      FEmf->DeleteObject(it->second);
      it = cache.erase(it);
    }
  }
  return kNone;
}

void Translator::SelectBrush(uint32_t color) {
  uint32_t h = Cached(FBrushes, color, &Dc::Brush);
  if (h == kNone) h = FBrushes[color] = FEmf->CreateBrush(color);
  if (FDcs.back().Brush == h) return;
  FEmf->SelectObject(h);
  FDcs.back().Brush = h;
}

void Translator::SelectPen(const PenKey& key) {
  uint32_t h = Cached(FPens, key, &Dc::Pen);
  if (h == kNone) h = FPens[key] = FEmf->CreatePen(key.Style, key.Width, key.Color, key.Dashes);
  if (FDcs.back().Pen == h) return;
  FEmf->SelectObject(h);
  FDcs.back().Pen = h;
}

void Translator::SelectFont(const FontKey& key) {
  uint32_t h = Cached(FFonts, key, &Dc::Font);
  if (h == kNone) {
    TkxEmfLogFont f;
    f.Height = key.Height, f.Width = key.Width, f.Escapement = f.Orientation = key.Escapement;
    f.Weight = key.Weight, f.Italic = key.Italic;
    for (unsigned char c : key.Face) f.Face.push_back(char16_t(c));  // family names are ASCII here
    h = FFonts[key] = FEmf->CreateFont(f);
  }
  if (FDcs.back().Font == h) return;
  FEmf->SelectObject(h);
  FDcs.back().Font = h;
}

void Translator::Path(const TkxPdfPath& path) {
  FEmf->BeginPath();
  std::vector<TkxEmfPoint> run;
  bool curves = false;
  auto flush = [&] {
    if (run.empty()) return;
    if (curves)
      FEmf->PolyBezierTo(run);
    else
      FEmf->PolylineTo(run);
    run.clear();
  };
  for (const TkxPdfSubpath& sub : path) {
    const auto& p = sub.Points;
    if (p.size() < 2) continue;
    FEmf->MoveTo(Pt(p[0].X, p[0].Y).X, Pt(p[0].X, p[0].Y).Y);
    for (size_t i = 1; i < p.size();) {
      bool curve = p[i].Control && i + 2 < p.size();
      if (curve != curves) flush();
      curves = curve;
      size_t n = curve ? 3 : 1;
      for (size_t k = 0; k < n; ++k) run.push_back(Pt(p[i + k].X, p[i + k].Y));
      i += n;
    }
    flush();
    if (sub.Closed) FEmf->CloseFigure();
  }
  FEmf->EndPath();
}

bool Translator::Bounds(const TkxPdfPath& path, int32_t& l, int32_t& t, int32_t& r, int32_t& b) const {
  bool any = false;
  for (const TkxPdfSubpath& sub : path)
    for (const TkxPdfPoint& p : sub.Points) {
      TkxEmfPoint d = Pt(p.X, p.Y);
      if (!any) l = r = d.X, t = b = d.Y;
      l = std::min(l, d.X), r = std::max(r, d.X), t = std::min(t, d.Y), b = std::max(b, d.Y);
      any = true;
    }
  return any && r > l && b > t;
}

void Translator::Fill(const TkxPdfPath& path, bool evenOdd) {
  if (!FEmf) return;
  FlushText();
  const GState& s = Top();
  double alpha = s.FillAlpha * Alpha();
  if (!(alpha > 0.002)) return;
  PolyFill(evenOdd);
  if (alpha >= 0.998) {
    SelectBrush(s.Fill);
    Path(path);
    FEmf->FillPath();
    return;
  }
  // A translucent fill: a translucent bitmap stretched over the shape, clipped to it; of
  // the shape's proportions, since some readers (emf2svg) keep a bitmap's own.
  int32_t l, t, r, b;
  if (!Bounds(path, l, t, r, b)) return;
  SaveDc();
  Path(path);
  FEmf->SelectClipPath(RGN_AND);
  double aspect = double(r - l) / double(b - t);
  int w = int(std::clamp(std::lround(aspect >= 1 ? 16 : 16 * aspect), 1L, 16L));
  int h = int(std::clamp(std::lround(aspect >= 1 ? 16 / aspect : 16), 1L, 16L));
  std::vector<uint8_t> pixels(size_t(w) * size_t(h) * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = uint8_t(s.Fill & 0xFF), pixels[i + 1] = uint8_t(s.Fill >> 8 & 0xFF);
    pixels[i + 2] = uint8_t(s.Fill >> 16 & 0xFF), pixels[i + 3] = uint8_t(std::lround(alpha * 255));
  }
  FEmf->AlphaBlend(l, t, r - l, b - t, DibFromRgba(w, h, pixels.data(), size_t(w) * 4));
  RestoreDc();
}

void Translator::Stroke(const TkxPdfPath& path) {
  if (!FEmf) return;
  FlushText();
  const GState& s = Top();
  double alpha = s.StrokeAlpha * Alpha();
  if (!(alpha > 0.002)) return;
  if (alpha < 0.998) {
    // A translucent line: drawn here to pixels, which go in with its alpha.
    int32_t box[4];
    double upp, grow = s.LineWidth * std::sqrt(std::fabs(s.Ctm[0] * s.Ctm[3] - s.Ctm[1] * s.Ctm[2])) + 200;
    double l = kMaxCoord, t = kMaxCoord, r = -kMaxCoord, b = -kMaxCoord;
    for (const TkxPdfSubpath& sub : path)
      for (const TkxPdfPoint& p : sub.Points) {
        TkxEmfPoint d = Pt(p.X, p.Y);
        l = std::min(l, double(d.X)), r = std::max(r, double(d.X)), t = std::min(t, double(d.Y)),
        b = std::max(b, double(d.Y));
      }
    if (!(r >= l) || !RasterBox(l - grow, t - grow, r + grow, b + grow, box, upp)) return;
    TkxSurface px = Raster(
        [&](TkxPdfSink& sink) {
          sink.SetStrokeColor((s.Stroke & 0xFF) / 255.0, (s.Stroke >> 8 & 0xFF) / 255.0,
                              (s.Stroke >> 16 & 0xFF) / 255.0, 1);
          sink.Stroke(path);
        },
        box, upp, CAIRO_FORMAT_ARGB32, nullptr);
    uint8_t* data = cairo_image_surface_get_data(px.get());
    if (data) PaintPixels(data, cairo_image_surface_get_stride(px.get()), box, upp, alpha);
    return;
  }
  const double* m = s.Ctm;
  double scale = std::sqrt(std::fabs(m[0] * m[3] - m[1] * m[2]));
  PenKey key{};
  key.Color = s.Stroke;
  if (!(s.LineWidth * scale >= 0.5)) {
    key.Style = PS_COSMETIC | uint32_t(PS_SOLID);  // the thinnest line the device draws
    key.Width = 1;
  } else {
    key.Style = PS_GEOMETRIC;
    key.Style |= s.Cap == 1 ? PS_ENDCAP_ROUND : s.Cap == 2 ? PS_ENDCAP_SQUARE : PS_ENDCAP_FLAT;
    key.Style |= s.Join == 1 ? PS_JOIN_ROUND : s.Join == 2 ? PS_JOIN_BEVEL : PS_JOIN_MITER;
    key.Width = uint32_t(std::lround(std::min(s.LineWidth * scale, kMaxCoord)));
    std::vector<double> dash = s.Dash;
    if (dash.size() % 2) dash.insert(dash.end(), s.Dash.begin(), s.Dash.end());
    double total = 0;
    for (double& d : dash) total += d = std::max(0.0, d);
    if (!dash.empty() && total > 0) {
      // The pattern begins at the dash nearest its phase, so that dashes and gaps stay in step.
      double phase = std::fmod(std::max(0.0, s.DashPhase), total), at = 0;
      size_t start = 0;
      for (size_t k = 0; k + 1 < dash.size() && phase >= at + (dash[k] + dash[k + 1]) / 2; k += 2)
        at += dash[k] + dash[k + 1], start = k + 2;
      std::rotate(dash.begin(), dash.begin() + std::ptrdiff_t(start % dash.size()), dash.end());
      key.Style |= PS_USERSTYLE;
      for (double d : dash) key.Dashes.push_back(uint32_t(std::lround(std::min(d * scale, kMaxCoord))));
      if (key.Dashes.size() > 16) key.Dashes.resize(16);
    }
  }
  uint32_t miter = uint32_t(std::lround(std::clamp(s.MiterLimit, 1.0, 100.0)));
  if (FDcs.back().Miter != miter) {
    FEmf->SetMiterLimit(miter);
    FDcs.back().Miter = miter;
  }
  SelectPen(key);
  Path(path);
  FEmf->StrokePath();
}

void Translator::Clip(const TkxPdfPath& path, bool evenOdd) {
  if (!FEmf) return;
  FlushText();
  GState& s = Top();
  // A rectangle within a rectangular clip narrows it to their overlap, written whole
  // (or not at all when it changes nothing): readers that intersect clips themselves
  // (Inkscape) lose a picture between two clips with the same edges.
  int32_t r[4];
  bool rect = RectOf(path, r) && s.ClipShape != GState::Other;
  if (rect && s.ClipShape == GState::Rect) {
    r[0] = std::max(r[0], s.ClipBox[0]), r[1] = std::max(r[1], s.ClipBox[1]);
    r[2] = std::min(r[2], s.ClipBox[2]), r[3] = std::min(r[3], s.ClipBox[3]);
    if (r[2] < r[0]) r[2] = r[0];
    if (r[3] < r[1]) r[3] = r[1];
    if (std::equal(r, r + 4, s.ClipBox)) return;
  }
  if (!s.DcSaved) {
    SaveDc();
    s.DcSaved = true;
  }
  if (rect) {
    FEmf->BeginPath();
    FEmf->MoveTo(r[0], r[1]);
    FEmf->PolylineTo({{r[2], r[1]}, {r[2], r[3]}, {r[0], r[3]}});
    FEmf->CloseFigure();
    FEmf->EndPath();
    FEmf->SelectClipPath(s.ClipShape == GState::Rect ? RGN_COPY : RGN_AND);
    s.ClipShape = GState::Rect;
    std::copy(r, r + 4, s.ClipBox);
    return;
  }
  PolyFill(evenOdd);
  Path(path);
  FEmf->SelectClipPath(RGN_AND);
  s.ClipShape = GState::Other;
}

// The path as an upright rectangle in logical units (left, top, right, bottom), when it is one.
bool Translator::RectOf(const TkxPdfPath& path, int32_t (&r)[4]) const {
  if (path.size() != 1) return false;
  const auto& p = path[0].Points;
  size_t n = p.size();
  if (n == 5 && p[4].X == p[0].X && p[4].Y == p[0].Y) n = 4;
  if (n != 4) return false;
  TkxEmfPoint d[4];
  for (size_t i = 0; i < 4; ++i) {
    if (p[i].Control) return false;
    d[i] = Pt(p[i].X, p[i].Y);
  }
  for (size_t i = 0; i < 4; ++i) {
    const TkxEmfPoint &a = d[i], &b = d[(i + 1) % 4];
    if (a.X != b.X && a.Y != b.Y) return false;
  }
  r[0] = std::min({d[0].X, d[1].X, d[2].X, d[3].X}), r[2] = std::max({d[0].X, d[1].X, d[2].X, d[3].X});
  r[1] = std::min({d[0].Y, d[1].Y, d[2].Y, d[3].Y}), r[3] = std::max({d[0].Y, d[1].Y, d[2].Y, d[3].Y});
  return r[2] > r[0] && r[3] > r[1];
}

void Translator::DrawImage(const TkxPdfImage& image) {
  if (!FEmf) return;
  FlushText();
  const GState& s = Top();
  uint8_t fill[3] = {uint8_t(s.Fill & 0xFF), uint8_t(s.Fill >> 8 & 0xFF), uint8_t(s.Fill >> 16 & 0xFF)};
  // The pixels the picture needs where it is placed (the unit square's sides, 1/100 pt).
  const double* m = s.Ctm;
  auto need = [](double units) { return int(std::clamp(std::ceil(units / 100 / 72 * kImageDpi), 1.0, 1e5)); };
  int wantW = need(std::hypot(m[0], m[1])), wantH = need(std::hypot(m[2], m[3]));
  TkxRaster r;
  if (!DecodePdfImage(image, r, fill, kMaxDecodedPixels, wantW, wantH)) return;
  ShrinkRaster(r, kMaxImagePixels, wantW, wantH);
  double alpha = s.FillAlpha * Alpha();
  if (!(alpha > 0.002)) return;
  if (alpha < 0.998) {
    // A translucent group: the picture's own alpha times the group's.
    if (!r.Alpha) {
      std::vector<uint8_t> rgba(size_t(r.Width) * size_t(r.Height) * 4);
      for (size_t i = 0, n = size_t(r.Width) * size_t(r.Height); i < n; ++i)
        std::copy_n(&r.Pixels[i * 3], 3, &rgba[i * 4]), rgba[i * 4 + 3] = 255;
      r.Pixels.swap(rgba);
      r.Alpha = true;
    }
    for (size_t i = 3; i < r.Pixels.size(); i += 4) r.Pixels[i] = uint8_t(std::lround(r.Pixels[i] * alpha));
  }
  TkxDib dib = r.Alpha ? DibFromRgba(r.Width, r.Height, r.Pixels.data(), size_t(r.Width) * 4)
                       : DibFromRgb(r.Width, r.Height, r.Pixels.data(), size_t(r.Width) * 3);
  r = TkxRaster{};
  auto draw = [&](int32_t x, int32_t y, int32_t cx, int32_t cy) {
    if (dib.Bits == 32)
      FEmf->AlphaBlend(x, y, cx, cy, dib);
    else
      FEmf->StretchDIBits(x, y, cx, cy, dib);
  };
  // The unit square; the image's first row at y = 1.
  if (std::fabs(m[1]) < 1e-9 && std::fabs(m[2]) < 1e-9) {
    int32_t x0 = Coord(m[4]), x1 = Coord(m[4] + m[0]), y0 = Coord(m[5] + m[3]), y1 = Coord(m[5]);
    if (x0 != x1 && y0 != y1) draw(x0, y0, x1 - x0, y1 - y0);
    return;
  }
  // Turned or slanted: a world transform from the bitmap's pixels to the page.
  TkxEmfXform x;
  x.M11 = float(m[0] / dib.Width), x.M12 = float(m[1] / dib.Width);
  x.M21 = float(-m[2] / dib.Height), x.M22 = float(-m[3] / dib.Height);
  x.Dx = float(m[2] + m[4]), x.Dy = float(m[3] + m[5]);
  SaveDc();
  FEmf->SetWorldTransform(x);
  draw(0, 0, dib.Width, dib.Height);
  RestoreDc();
}

bool Translator::PixelBox(double x0, double y0, double x1, double y1, double unitsPerPixel, int32_t (&box)[4]) const {
  x0 = std::max(x0, 0.0), y0 = std::max(y0, 0.0), x1 = std::min(x1, FPageW), y1 = std::min(y1, FPageH);
  if (!(x1 > x0 && y1 > y0)) return false;
  box[0] = int32_t(std::floor(x0 / unitsPerPixel)), box[1] = int32_t(std::floor(y0 / unitsPerPixel));
  box[2] = int32_t(std::ceil(x1 / unitsPerPixel)), box[3] = int32_t(std::ceil(y1 / unitsPerPixel));
  return box[2] > box[0] && box[3] > box[1];
}

void Translator::PaintPixels(const uint8_t* argb, int stride, const int32_t (&box)[4], double unitsPerPixel,
                             double alpha) {
  // The inked pixels' box, so that a line of text is not a page-wide picture.
  int32_t w = box[2] - box[0], h = box[3] - box[1], x0 = w, y0 = h, x1 = -1, y1 = -1;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* src = argb + size_t(y) * size_t(stride);
    for (int32_t x = 0; x < w; ++x)
      if (src[size_t(x) * 4 + 3] != 0) x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = y;
  }
  if (x1 < 0) return;
  TkxDib dib;
  dib.Width = x1 - x0 + 1, dib.Height = y1 - y0 + 1, dib.Bits = 32;
  size_t row = size_t(dib.Width) * 4;
  dib.Pixels.assign(row * size_t(dib.Height), '\0');
  for (int32_t y = 0; y < dib.Height; ++y) {
    const uint8_t* src = argb + size_t(y + y0) * size_t(stride) + size_t(x0) * 4;
    auto* dst = reinterpret_cast<uint8_t*>(dib.Pixels.data()) + size_t(dib.Height - 1 - y) * row;
    for (size_t i = 0; i < row; ++i) dst[i] = alpha >= 0.998 ? src[i] : uint8_t(std::lround(src[i] * alpha));
  }
  auto u = [&](int32_t px) { return Coord(px * unitsPerPixel); };
  int32_t l = box[0] + x0, t = box[1] + y0, r = box[0] + x1 + 1, b = box[1] + y1 + 1;
  FEmf->AlphaBlend(u(l), u(t), u(r) - u(l), u(b) - u(t), dib);
}

// Paints the shading at the centre of each pixel of `box` (premultiplied blue, green,
// red, alpha, times `al`); false when some pixel lies outside what the shading covers.
bool Translator::ShadePixels(const TkxPdfShading& sh, const int32_t (&box)[4], double upp, uint8_t al,
                             uint8_t* px) const {
  const double* m = FStates.back().Ctm;
  double det = m[0] * m[3] - m[1] * m[2];
  int w = box[2] - box[0], h = box[3] - box[1];
  size_t n = sh.Colors.size() - 1;
  double dx = sh.X1 - sh.X0, dy = sh.Y1 - sh.Y0, dr = sh.R1 - sh.R0;
  double a = dx * dx + dy * dy - dr * dr;
  bool axial = sh.Kind == TkxPdfShading::Axial, covered = true;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // The pixel's centre in the shading's space.
      double ux = (box[0] + x + 0.5) * upp - m[4], uy = (box[1] + y + 0.5) * upp - m[5];
      double px0 = (m[3] * ux - m[2] * uy) / det - sh.X0, py0 = (m[0] * uy - m[1] * ux) / det - sh.Y0;
      double t = -1;
      bool found = true;
      if (axial) {
        t = (dx * dx + dy * dy) > 0 ? (px0 * dx + py0 * dy) / (dx * dx + dy * dy) : 0;
      } else {
        // The largest s whose circle passes through the point with a radius not below 0.
        double b = px0 * dx + py0 * dy + sh.R0 * dr, cc = px0 * px0 + py0 * py0 - sh.R0 * sh.R0;
        if (std::fabs(a) < 1e-9) {
          found = std::fabs(b) > 1e-12;
          if (found) t = cc / (2 * b);
        } else {
          double d = b * b - a * cc;
          found = d >= 0;
          if (found) {
            double s1 = (b + std::sqrt(d)) / a, s2 = (b - std::sqrt(d)) / a;
            t = std::max(s1, s2);
            if (sh.R0 + t * dr < 0) t = std::min(s1, s2);
            found = sh.R0 + t * dr >= 0;
          }
        }
      }
      if (!found || (t < 0 && !sh.ExtendStart) || (t > 1 && !sh.ExtendEnd) || !std::isfinite(t)) {
        covered = false;
        continue;
      }
      double f = std::clamp(t, 0.0, 1.0) * double(n);
      size_t i = std::min(size_t(f), n - 1);
      double k = f - double(i);
      uint8_t* p = &px[(size_t(y) * size_t(w) + size_t(x)) * 4];
      for (int ch = 0; ch < 3; ++ch) {
        double v = sh.Colors[i][size_t(ch)] * (1 - k) + sh.Colors[i + 1][size_t(ch)] * k;
        p[2 - ch] = uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * al));
      }
      p[3] = al;
    }
  return covered;
}

// A smooth shading becomes a picture of it over the clip's box at 96 dpi, drawn here:
// readers draw no GRADIENTFILL (LibreOffice, Inkscape, emf2svg), and a picture
// enlarges smoothly.
void Translator::FillShading(const TkxPdfShading& sh) {
  if (!FEmf || sh.Colors.size() < 2) return;
  FlushText();
  double alpha = Top().FillAlpha * Alpha();
  if (!(alpha > 0.002)) return;
  const double* m = Top().Ctm;
  double det = m[0] * m[3] - m[1] * m[2];
  if (!(std::fabs(det) > 1e-12)) return;
  double upp = kUnitsPerPixel;
  int32_t box[4];
  if (!PixelBox(sh.BoxX0, sh.BoxY0, sh.BoxX1, sh.BoxY1, upp, box)) return;
  while (int64_t(box[2] - box[0]) * (box[3] - box[1]) > kMaxImagePixels / 4) {
    upp *= 2;
    if (!PixelBox(sh.BoxX0, sh.BoxY0, sh.BoxX1, sh.BoxY1, upp, box)) return;
  }
  int w = box[2] - box[0], h = box[3] - box[1];
  std::vector<uint8_t> px(size_t(w) * size_t(h) * 4, 0);
  uint8_t al = uint8_t(std::lround(alpha * 255));
  bool covered = ShadePixels(sh, box, upp, al, px.data());
  auto u = [&](int32_t v) { return Coord(v * upp); };
  if (covered && al == 255) {
    // Opaque everywhere: a plain picture, which every reader draws.
    TkxDib dib;
    dib.Width = w, dib.Height = h, dib.Bits = 24;
    size_t row = (size_t(w) * 3 + 3) & ~size_t(3);
    dib.Pixels.assign(row * size_t(h), '\0');
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        std::copy_n(&px[(size_t(y) * size_t(w) + size_t(x)) * 4], 3,
                    &dib.Pixels[size_t(h - 1 - y) * row + size_t(x) * 3]);
    FEmf->StretchDIBits(u(box[0]), u(box[1]), u(box[2]) - u(box[0]), u(box[3]) - u(box[1]), dib);
    return;
  }
  TkxDib dib;
  dib.Width = w, dib.Height = h, dib.Bits = 32;
  dib.Pixels.assign(size_t(w) * size_t(h) * 4, '\0');
  for (int y = 0; y < h; ++y)
    std::copy_n(&px[size_t(y) * size_t(w) * 4], size_t(w) * 4, &dib.Pixels[size_t(h - 1 - y) * size_t(w) * 4]);
  FEmf->AlphaBlend(u(box[0]), u(box[1]), u(box[2]) - u(box[0]), u(box[3]) - u(box[1]), dib);
}

// The pixels of the device box (x0, y0, x1, y1) at 192 dpi (coarser for a box too large),
// false when the box is off the page.
bool Translator::RasterBox(double x0, double y0, double x1, double y1, int32_t (&box)[4], double& upp) const {
  upp = kUnitsPerPixel / 2.0;
  if (!PixelBox(x0, y0, x1, y1, upp, box)) return false;
  while (int64_t(box[2] - box[0]) * (box[3] - box[1]) > kMaxImagePixels / 4) {
    upp *= 2;
    if (!PixelBox(x0, y0, x1, y1, upp, box)) return false;
  }
  return true;
}

// What `part` draws from the current state, as a metafile of the whole page played
// onto the box's pixels (over `backdrop` when given).
TkxSurface Translator::Raster(const std::function<void(TkxPdfSink&)>& part, const int32_t (&box)[4], double upp,
                              cairo_format_t format, const double* backdrop) {
  Translator t;
  t.StartPage(FPageW, FPageH);
  t.FStates.back() = Top();
  t.FStates.back().DcSaved = false;
  t.FStates.back().ClipShape = GState::Page;
  part(t);
  t.EndPage();
  TkxSurface surface(cairo_image_surface_create(format, box[2] - box[0], box[3] - box[1]));
  TkxCairo cr(cairo_create(surface.get()));
  if (backdrop) {
    cairo_set_source_rgb(cr.get(), backdrop[0], backdrop[1], backdrop[2]);
    cairo_paint(cr.get());
  }
  int32_t pw = PagePixels(FPageW / 100), ph = PagePixels(FPageH / 100);
  if (!t.Pages.empty())
    PlayEnhMetafile(cr.get(), t.Pages.front(), -box[0], -box[1], pw * kUnitsPerPixel / upp, ph * kUnitsPerPixel / upp);
  cairo_surface_flush(surface.get());
  return surface;
}

// Soft masks have no like in a metafile: the content and its mask are drawn here, on
// the page's pixels, and the content goes in as a picture with the mask as its alpha.
void Translator::DrawMasked(const TkxPdfSoftMask& mask, const std::function<void(TkxPdfSink&)>& content) {
  if (!FEmf) return;
  FlushText();
  double upp;
  int32_t box[4];
  if (!RasterBox(mask.BoxX0, mask.BoxY0, mask.BoxX1, mask.BoxY1, box, upp)) return;
  int w = box[2] - box[0], h = box[3] - box[1];
  auto draw = [&](const std::function<void(TkxPdfSink&)>& part, cairo_format_t format, const double* backdrop) {
    return Raster(part, box, upp, format, backdrop);
  };
  TkxSurface shown = draw(content, CAIRO_FORMAT_ARGB32, nullptr);
  TkxSurface coverage =
      draw(mask.Draw, mask.Alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, mask.Alpha ? nullptr : mask.Backdrop);
  uint8_t* px = cairo_image_surface_get_data(shown.get());
  const uint8_t* mk = cairo_image_surface_get_data(coverage.get());
  int stride = cairo_image_surface_get_stride(shown.get()), mstride = cairo_image_surface_get_stride(coverage.get());
  if (!px || !mk) return;
  for (int y = 0; y < h; ++y) {
    uint8_t* p = px + size_t(y) * size_t(stride);
    const uint8_t* q = mk + size_t(y) * size_t(mstride);
    for (int x = 0; x < w; ++x, p += 4, q += 4) {
      // Luminosity from blue, green, red; or the mask's own alpha.
      double k = mask.Alpha ? q[3] / 255.0 : (0.11 * q[0] + 0.59 * q[1] + 0.3 * q[2]) / 255.0;
      for (int ch = 0; ch < 4; ++ch) p[ch] = uint8_t(std::lround(p[ch] * k));
    }
  }
  PaintPixels(px, stride, box, upp, Alpha());
}

void Translator::SetFont(const TkxPdfFont& font) {
  Top().Font = font;
  FontUse& use = UseOf(font);
  if (use.Program.empty() && !font.Program.empty()) use.Program = std::string(font.Program);
}

// The face a PDF font resolves to: the installed face whose PostScript name or family
// and style match it, named by its family, weight and slant; else the family its name
// gives, drawn with the program the PDF embeds.
FontUse& Translator::UseOf(const TkxPdfFont& font) {
  auto key = std::make_pair(font.Id, font.Name);
  auto it = FFontUses.find(key);
  if (it != FFontUses.end()) return it->second;
  FontUse& use = FFontUses[key];
  use.PdfName = font.Name;
  use.Match = MatchFace(font.Name, font.Bold ? 700 : 0, font.Italic);
  use.Style = ParsePdfFontName(font.Name);
  if (use.Match.Found()) {
    use.Style.Family = use.Match.Family;
    use.Style.Weight = std::max(use.Match.Weight, use.Match.Embolden ? 700 : 0);
    use.Style.Italic = use.Match.Italic || use.Match.Oblique;
  }
  return use;
}

// The code of a glyph of the font: codes are given in the order glyphs are first drawn
// (`key` tells glyphs apart), and the glyph's advance checks that order.
size_t Translator::CodeOf(FontUse& use, const TkxPdfChar& c, const std::string& key, const std::string& shown) {
  auto [it, added] = use.Codes.emplace(key, use.Uses.size());
  if (added) use.Uses.push_back({Utf8ToUtf32(shown), AdvanceEm(c)});
  return it->second;
}

// The characters a glyph shows. A symbol font's code shows the character of the glyph
// Writer drew for it, found by its outline among the installed face's glyphs: an
// OpenSymbol stand-in tells the font whose code it is, else by the code before it.
std::string Translator::TextOf(FontUse& use, const TkxPdfChar& c) {
  std::u32string text = Utf8ToUtf32(c.Text);
  if (text.size() != 1 || !IsSymbolCode(text[0])) {
    bool standIn = use.Match.Found() && use.Match.Family == "OpenSymbol";  // Writer's face for the symbol fonts
    // Writer's stand-in draws one letter as several fonts' glyphs: their advances tell them apart.
    std::string key = standIn ? c.Text + " " + std::to_string(std::lround(AdvanceEm(c) * 1000)) : c.Text;
    if (auto it = use.Codes.find(key); it != use.Codes.end()) return Utf32ToUtf8(use.Uses[it->second].Shown);
    std::string shown = c.Text;
    // Text in a symbol font that Writer drew with another face's symbol glyph: the PDF
    // still names the letter typed ("c"), the glyph shows the symbol.
    if (text.size() == 1 && text[0] > 0x20 && text[0] < 0x100 && use.Match.Found() && !use.Program.empty()) {
      const TkxEmbeddedFont* glyphs = use.ProgramGlyphs();
      unsigned glyph = glyphs->TrueType() ? glyphs->GlyphOfCode(uint32_t(use.Uses.size() + 1)) : 1;
      uint64_t outline = glyphs->TrueType() ? glyphs->Outline(glyph) : 0;
      bool box = glyphs->TrueType() && (glyph == 0 || !outline);  // Writer drew a box or nothing
      if (box || (outline && !InstalledGlyphIs(use.Match.File, use.Match.Index, text[0], outline))) {
        char32_t drawn = box ? 0xFFFD : InstalledCharacter(use.Match.File, use.Match.Index, outline);
        std::optional<TkxSymbolFont> font = standIn ? SymbolFontOfGlyph(drawn) : std::nullopt;
        if (font) use.LastSymbolFont = *font;
        if (font || (standIn && drawn == 0xFFFD)) drawn = SymbolCharacter(use.LastSymbolFont, text[0]);
        bool privateUse = drawn >= 0xE000 && drawn < 0xF900;
        if (drawn && drawn != 0xFFFD && !privateUse && (standIn || Symbolic(drawn)))
          shown = Utf32ToUtf8(std::u32string(1, drawn)), use.Symbols = true;
      }
    }
    CodeOf(use, c, key, shown);
    return shown;
  }
  use.Symbols = true;
  uint32_t code = text[0] - 0xF000;
  // The same code of two fonts is two glyphs: their advances tell them apart.
  std::string key = c.Text + " " + std::to_string(std::lround(AdvanceEm(c) * 1000));
  if (auto it = use.Codes.find(key); it != use.Codes.end()) return Utf32ToUtf8(use.Uses[it->second].Shown);
  char32_t drawn = 0;
  if (use.ProgramGlyphs() && use.Match.Found())
    drawn = InstalledCharacter(use.Match.File, use.Match.Index,
                               use.Glyphs->Outline(use.Glyphs->GlyphOfCode(uint32_t(use.Uses.size() + 1))));
  char32_t shown = 0;
  if (std::optional<TkxSymbolFont> font = SymbolFontOfGlyph(drawn); font && use.Match.Family == "OpenSymbol") {
    use.LastSymbolFont = *font;
  } else if (drawn && (drawn < 0xE000 || drawn >= 0xF900)) {
    shown = drawn;  // Writer drew the character itself, or a box for one it has not
  }
  if (!shown) shown = SymbolCharacter(use.LastSymbolFont, code);
  std::string out = Utf32ToUtf8(std::u32string(1, shown ? shown : char32_t(0xFFFD)));
  CodeOf(use, c, key, out);
  return out;
}

// Whether Writer drew the glyph of the character's mirror image: a bracket of
// right-to-left text that Writer drew apart from its words (in another font), which
// the metafile must then give as right to left for readers to mirror it too. Told by
// the glyph's outline against the installed face's glyphs of the two characters.
bool Translator::DrawnMirrored(FontUse& use, const TkxPdfChar& c) {
  std::u32string text = Utf8ToUtf32(c.Text);
  char32_t mirror = text.size() == 1 ? MirrorOf(text[0]) : 0;
  if (!mirror || !use.Match.Found() || use.Program.empty()) return false;
  auto [it, added] = use.Mirrored.emplace(c.Code, false);
  if (!added) return it->second;
  const TkxEmbeddedFont* glyphs = use.ProgramGlyphs();
  if (!glyphs->TrueType()) return false;
  uint64_t outline = glyphs->Outline(glyphs->GlyphOfCode(c.Code));
  it->second = outline && !InstalledGlyphIs(use.Match.File, use.Match.Index, text[0], outline) &&
               InstalledGlyphIs(use.Match.File, use.Match.Index, mirror, outline);
  return it->second;
}

// Each program this page draws with goes into its metafile, with a character map for
// the codes drawn so far (a later page may have drawn more of them).
void Translator::CarryFonts() {
  for (FontUse* carried : FPageFonts) {
    FontUse& use = *carried;
    if (use.DrawableCodes != use.Uses.size()) {
      use.Drawable = DrawableProgram(use.Program, use.Uses);
      use.DrawableCodes = use.Uses.size();
    }
    if (use.Drawable.empty()) continue;
    use.Carried = true;
    FEmf->Comment(FontComment({use.Style.Family, use.Style.Weight, use.Style.Italic, use.Drawable}));
  }
}

void Translator::TraceFonts() const {
  if (!TraceOn()) return;
  std::map<std::string, std::string> lines;  // one line a font name
  for (const auto& [key, use] : FFontUses) {
    const TkxFaceMatch& m = use.Match;
    std::string how = m.Found()     ? m.Family + " " + m.Style + " (" + m.File + ", by " + m.How + ")"
                      : use.Carried ? "the program the PDF embeds, as \"" + use.Style.Family + "\" (not installed)"
                                    : "nothing installed matches; fontconfig's last resort " + m.Family + " " + m.Style;
    if (m.Embolden || m.Oblique) how += m.Embolden ? ", made bold" : ", slanted";
    lines.emplace(use.PdfName, how);
  }
  for (const auto& [name, how] : lines) Trace("PDF font " + name + ": drawn with " + how);
}

void Translator::DrawChar(const TkxPdfChar& c) {
  if (!FEmf) return;
  const GState& s = Top();
  int mode = s.TextMode & 3;
  if (mode == 3) return;  // invisible text
  const double* m = s.Ctm;
  // Glyph space axes in logical units: x along the baseline, y upwards on the glyph.
  double xx = c.Size * (c.A * m[0] + c.B * m[2]), xy = c.Size * (c.A * m[1] + c.B * m[3]);
  double yx = c.Size * (c.C * m[0] + c.D * m[2]), yy = c.Size * (c.C * m[1] + c.D * m[3]);
  double xlen = std::hypot(xx, xy);
  if (!(xlen > 1e-6) || !std::isfinite(xlen)) return;
  double ux = xx / xlen, uy = xy / xlen;
  double em = std::fabs(xx * yy - xy * yx) / xlen;  // height across the baseline
  if (!(em >= 0.5) || em > kMaxCoord) return;
  double slant = (yx * ux + yy * uy) / em;  // forward lean of the glyphs' upright
  FontUse& use = UseOf(s.Font);
  const TkxFontStyle& style = use.Style;
  FontKey key;
  key.Face = style.Family;
  key.Weight = style.Weight;
  if ((s.Font.Bold || mode == 2) && key.Weight < 600) key.Weight = 700;  // filled and outlined: drawn bold
  key.Italic = style.Italic || s.Font.Italic || slant > 0.1;
  key.Height = -int32_t(std::lround(em));
  key.Width = 0;
  if (std::fabs(xlen / em - 1) > 0.01)
    key.Width = int32_t(std::lround(xlen * AverageCharWidth({style.Family, key.Weight, key.Italic})));
  // Counter-clockwise on the page, in tenths of a degree; y runs down.
  int32_t esc = int32_t(std::lround(std::atan2(-uy, ux) * 1800 / M_PI));
  key.Escapement = esc < 0 ? esc + 3600 : esc == 3600 ? 0 : esc;
  uint32_t color = mode == 1 ? s.Stroke : s.Fill;
  double alpha = (mode == 1 ? s.StrokeAlpha : s.FillAlpha) * Alpha();
  if (!(alpha > 0.002)) return;
  TkxPlacedGlyph g;
  g.X = m[0] * c.X0 + m[2] * c.Y0 + m[4];
  g.Y = m[1] * c.X0 + m[3] * c.Y0 + m[5];
  double ax = m[0] * (c.X1 - c.X0) + m[2] * (c.Y1 - c.Y0), ay = m[1] * (c.X1 - c.X0) + m[3] * (c.Y1 - c.Y0);
  g.Advance = ax * ux + ay * uy;
  g.Text = TextOf(use, c);
  g.Mirrored = DrawnMirrored(use, c);
  g.Size = em;
  if (use.Carries()) {
    if (std::find(FPageFonts.begin(), FPageFonts.end(), &use) == FPageFonts.end()) FPageFonts.push_back(&use);
  }
  if (FRun.Empty() || !(key == FRunFont) || color != FRunColor || alpha != FRunAlpha) {
    FlushText();
    FRunFont = key;
    FRunColor = color;
    FRunAlpha = alpha, FRunUx = ux, FRunUy = uy;
    FRun.Start(ux, uy);
  }
  if (FRun.Add(g)) return;
  FlushText();
  FRun.Start(ux, uy);
  FRun.Add(g);
}

void Translator::FlushText() {
  if (FRun.Empty()) return;
  TkxTextRun run = FRun.Take();
  if (run.Text.empty()) return;
  if (FRunAlpha < 0.998)
    TranslucentRun(run);
  else
    WriteRun(run);
}

void Translator::WriteRun(const TkxTextRun& run) {
  SelectFont(FRunFont);
  if (FDcs.back().TextColor != FRunColor) {
    FEmf->SetTextColor(FRunColor);
    FDcs.back().TextColor = FRunColor;
  }
  // Inkscape lays consecutive text records out as one paragraph, and puts the parts of
  // one that holds right-to-left text out of order and without their gaps. A change of
  // background colour makes it lay out what it has, so a right-to-left record stands
  // alone. The colour is put back at once, and with the transparent background it
  // shows nowhere.
  if (run.RightToLeft || FLastRunRtl) {
    FEmf->SetBkColor(0);
    FEmf->SetBkColor(0xFFFFFF);
  }
  FLastRunRtl = run.RightToLeft;
  FEmf->ExtTextOutW(run.X, run.Y, run.RightToLeft ? ETO_RTLREADING : 0, run.Text, run.Dx);
}

// Text records have no opacity: a translucent run is drawn here, on the page's pixels,
// and goes in as a picture with its alpha.
void Translator::TranslucentRun(const TkxTextRun& run) {
  double length = 0, em = std::fabs(double(FRunFont.Height));
  for (int32_t dx : run.Dx) length += std::fabs(double(dx));
  // Either way along the baseline (a right-to-left run starts at either end), and
  // well above and below it.
  double l = kMaxCoord, t = kMaxCoord, r = -kMaxCoord, b = -kMaxCoord, reach = length + em;
  for (double along : {-reach, reach})
    for (double across : {-2 * em, 2 * em}) {
      double x = run.X + along * FRunUx - across * FRunUy, y = run.Y + along * FRunUy + across * FRunUx;
      l = std::min(l, x), r = std::max(r, x), t = std::min(t, y), b = std::max(b, y);
    }
  int32_t box[4];
  double upp;
  if (!RasterBox(l, t, r, b, box, upp)) return;
  TkxSurface px = Raster(
      [&](TkxPdfSink& sink) {
        auto& inner = static_cast<Translator&>(sink);
        inner.FPageFonts = FPageFonts;  // the PDF's font programs go with the inner page
        inner.FRunFont = FRunFont, inner.FRunColor = FRunColor;
        inner.WriteRun(run);
      },
      box, upp, CAIRO_FORMAT_ARGB32, nullptr);
  uint8_t* data = cairo_image_surface_get_data(px.get());
  if (data) PaintPixels(data, cairo_image_surface_get_stride(px.get()), box, upp, FRunAlpha);
}

}  // namespace

int32_t PagePixels(double points) {
  double px = points * (96 / 72.0);
  return std::isfinite(px) ? int32_t(std::clamp(std::ceil(px), 1.0, 1e6)) : 1;
}

std::vector<std::string> TranslatePdfPages(std::string_view text, std::string_view binary, bool* complete) {
  Translator t;
  bool ok = ReadPdfOps(text, binary, t);
  if (complete) *complete = ok;
  t.TraceFonts();
  return std::move(t.Pages);
}

std::vector<std::string> TranslatePdfFile(const std::string& path, bool* complete, std::string* error) {
  Translator t;
  std::string why;
  bool ok = ReadPdfFile(path, t, why);
  if (complete) *complete = ok;
  if (error) *error = why;
  return std::move(t.Pages);
}

}  // namespace kx::pdf
