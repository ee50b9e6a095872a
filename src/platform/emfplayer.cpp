#include "platform/emfplayer.h"

#include <cairo-ft.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/emfrecords.h"
#include "platform/fonts.h"
#include "platform/metafile.h"

namespace kx {

namespace {

using namespace emf;

constexpr int kMaxHandles = 65536;
constexpr int kMaxSaveDepth = 1024;
constexpr int64_t kMaxImagePixels = int64_t(1) << 24;   // one bitmap
constexpr int64_t kPixelBudget = int64_t(1) << 28;      // all bitmaps of one playback
constexpr double kMaxFontPx = 4000;
constexpr double kMaxCoord = 1e7;

struct Pen {
  int Style = PS_SOLID;
  double Width = 0;  // logical units; 0 is one pixel
  uint32_t Color = 0;
  bool Geometric = false;
  std::vector<double> Dashes;  // user style, logical units
  cairo_line_cap_t Cap = CAIRO_LINE_CAP_ROUND;
  cairo_line_join_t Join = CAIRO_LINE_JOIN_ROUND;
};

struct Brush {
  int Style = BS_SOLID;
  uint32_t Color = 0xFFFFFF;
  int Hatch = 0;
  std::shared_ptr<cairo_pattern_t> Pattern;  // DIB and mono patterns
};

struct Font {
  int Height = -12, Width = 0, Escapement = 0, Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  std::string Face = "DejaVu Sans";
};

struct Object {
  enum Kind { None, PenObj, BrushObj, FontObj } K = None;
  Pen P;
  Brush B;
  Font F;
};

struct DC {
  int MapMode = MM_TEXT;
  double WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
  double VpOrgX = 0, VpOrgY = 0, VpExtX = 1, VpExtY = 1;
  cairo_matrix_t World;
  Pen CurPen;
  Brush CurBrush;
  Font CurFont;
  uint32_t TextColor = 0, BkColor = 0xFFFFFF;
  int BkMode = 2, TextAlign = 0, Rop2 = R2_COPYPEN, PolyFill = 1;
  double CurX = 0, CurY = 0, Miter = 10;
  bool Clockwise = false;
  DC() { cairo_matrix_init_identity(&World); }
};

struct Reader {
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

void SetColor(cairo_t* cr, uint32_t colorref) {
  cairo_set_source_rgb(cr, (colorref & 0xFF) / 255.0, (colorref >> 8 & 0xFF) / 255.0, (colorref >> 16 & 0xFF) / 255.0);
}

double Clamp(double v) { return std::isfinite(v) ? std::clamp(v, -kMaxCoord, kMaxCoord) : 0; }

// Characters of the symbol fonts by their code: the Symbol font where it has one,
// the common Wingdings bullets otherwise.
uint32_t SymbolToUnicode(uint32_t code) {
  switch (code) {
    case 0xB7: return 0x2022;  // bullet
    case 0xA7: return 0x25AA;  // small square (Wingdings)
    case 0xA8: return 0x25CF;  // black circle
    case 0x6C: return 0x25CF;
    case 0x6E: return 0x25A0;  // black square
    case 0x71: return 0x2751;
    case 0x76: return 0x2756;  // diamond minus white X
    case 0xD8: return 0x27A2;  // arrowhead
    case 0xE0: return 0x25CA;  // lozenge
    case 0xE8: return 0x2794;  // heavy arrow
    case 0xFC: return 0x2713;  // check mark
    case 0xFB: return 0x2717;  // ballot X
    case 0xB0: return 0x00B0;
    case 0xB1: return 0x00B1;
    case 0xB4: return 0x00D7;
    case 0xB8: return 0x00F7;
    case 0xA3: return 0x2264;
    case 0xB3: return 0x2265;
    case 0xB9: return 0x2260;
    case 0xBB: return 0x2248;
    case 0xA5: return 0x221E;
    case 0xAC: return 0x2190;
    case 0xAD: return 0x2191;
    case 0xAE: return 0x2192;
    case 0xAF: return 0x2193;
    case 0xD6: return 0x221A;
    case 0xE5: return 0x2211;
    case 0x2D: return 0x2212;
    default: return code >= 0x20 && code < 0x7F ? code : 0x2022;
  }
}

class Player {
 public:
  Player(cairo_t* cr, const std::string& emf, double x, double y, double w, double h)
      : FCr(cr), FData(reinterpret_cast<const uint8_t*>(emf.data())), FSize(emf.size()), FX(x), FY(y), FW(w), FH(h) {}

  TkxEmfPlayStats Play();

 private:
  // Geometry.
  void UpdateMatrix();
  void Tx(double x, double y, double& ox, double& oy) const;
  double ScaleX() const { return std::hypot(FM.xx, FM.yx); }
  double ScaleY() const { return std::hypot(FM.xy, FM.yy); }
  double PenWidthPx() const;

  // Drawing.
  bool Visible() const { return FDc.Rop2 != R2_NOP; }
  void FillCurrent(bool preserve);
  double MeanWidth() const;
  void StrokeCurrent(bool preserve);
  void FillAndStroke(bool close);
  void ApplyPenColor();
  void AddPoints(const Reader& r, size_t off, uint32_t count, bool small, bool bezier, bool fromCurrent);
  void Rect(double l, double t, double r, double b);
  void EllipsePath(double l, double t, double r, double b);
  void ArcPath(const Reader& r, int kind);
  void Text(const Reader& r, bool wide);
  void Image(const Reader& r, double dx, double dy, double dcx, double dcy, int32_t sx, int32_t sy, int32_t scx,
             int32_t scy, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits, uint32_t rop,
             bool alpha);
  cairo_surface_t* DecodeDib(const Reader& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits,
                             bool useAlpha, bool& bottomUp);
  void ClipRect(const Reader& r, bool exclude);
  void ResetClip();
  void Record(uint32_t type, const Reader& r);
  void SelectStock(uint32_t index);
  Object* NewObject(uint32_t ih, Object::Kind kind);  // the slot, emptied; nullptr out of range

  cairo_t* FCr;
  const uint8_t* FData;
  size_t FSize;
  double FX, FY, FW, FH;
  TkxEmfHeader FHeader;
  cairo_matrix_t FBase;  // reference device pixels -> output
  cairo_matrix_t FM;     // logical -> output
  DC FDc;
  std::vector<DC> FSaved;
  std::vector<Object> FObjects;
  bool FInPath = false;
  cairo_path_t* FPath = nullptr;
  int64_t FPixels = 0;
  TkxEmfPlayStats FStats;
};

TkxEmfPlayStats Player::Play() {
  std::string copy;  // the header reader wants a string
  copy.assign(reinterpret_cast<const char*>(FData), std::min<size_t>(FSize, 256));
  if (!ReadEmfHeader(copy, FHeader) || FW == 0 || FH == 0) {
    FStats.Truncated = true;
    return FStats;
  }
  // Frame in reference-device pixels, mapped onto the destination rectangle.
  double pxX = FHeader.DeviceMmX > 0 ? double(FHeader.DevicePxX) / (FHeader.DeviceMmX * 100.0) : 96 / 2540.0;
  double pxY = FHeader.DeviceMmY > 0 ? double(FHeader.DevicePxY) / (FHeader.DeviceMmY * 100.0) : 96 / 2540.0;
  double fl = FHeader.FrameL * pxX, ft = FHeader.FrameT * pxY;
  double fw = (double(FHeader.FrameR) - FHeader.FrameL) * pxX, fh = (double(FHeader.FrameB) - FHeader.FrameT) * pxY;
  if (!(std::abs(fw) > 1e-6) || !(std::abs(fh) > 1e-6) || !std::isfinite(fw) || !std::isfinite(fh)) {
    fl = FHeader.BoundsL, ft = FHeader.BoundsT;
    fw = double(FHeader.BoundsR) - FHeader.BoundsL + 1.0, fh = double(FHeader.BoundsB) - FHeader.BoundsT + 1.0;
  }
  cairo_matrix_init_translate(&FBase, FX, FY);
  cairo_matrix_scale(&FBase, FW / fw, FH / fh);
  cairo_matrix_translate(&FBase, -fl, -ft);
  FObjects.resize(std::clamp<size_t>(FHeader.Handles, 1, kMaxHandles));

  cairo_save(FCr);
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  cairo_rectangle(FCr, std::min(FX, FX + FW), std::min(FY, FY + FH), std::abs(FW), std::abs(FH));
  cairo_clip(FCr);
  cairo_save(FCr);  // the playback's own state, below which RestoreDC never goes
  UpdateMatrix();

  size_t off = 0;
  while (off + 8 <= FSize) {
    uint32_t type = 0, size = 0;
    std::memcpy(&type, FData + off, 4);
    std::memcpy(&size, FData + off + 4, 4);
    if (size < 8 || size > FSize - off) {
      FStats.Truncated = true;
      break;
    }
    Reader r{FData + off, size};
    ++FStats.Records;
    if (type == EMR_EOF) break;
    Record(type, r);
    off += size;
  }
  while (!FSaved.empty()) {
    FSaved.pop_back();
    cairo_restore(FCr);
  }
  if (FPath) cairo_path_destroy(FPath);
  cairo_restore(FCr);
  cairo_restore(FCr);
  return FStats;
}

void Player::UpdateMatrix() {
  double sx, sy;
  double ox = FDc.WinOrgX, oy = FDc.WinOrgY, vx = FDc.VpOrgX, vy = FDc.VpOrgY;
  double pxPerMmX = FHeader.DeviceMmX > 0 ? double(FHeader.DevicePxX) / FHeader.DeviceMmX : 96 / 25.4;
  double pxPerMmY = FHeader.DeviceMmY > 0 ? double(FHeader.DevicePxY) / FHeader.DeviceMmY : 96 / 25.4;
  auto fixed = [&](double mm) {
    sx = mm * pxPerMmX;
    sy = -mm * pxPerMmY;
  };
  switch (FDc.MapMode) {
    case MM_LOMETRIC: fixed(0.1); break;
    case MM_HIMETRIC: fixed(0.01); break;
    case MM_LOENGLISH: fixed(0.254); break;
    case MM_HIENGLISH: fixed(0.0254); break;
    case MM_TWIPS: fixed(25.4 / 1440); break;
    case MM_ISOTROPIC:
    case MM_ANISOTROPIC:
      sx = FDc.WinExtX != 0 ? FDc.VpExtX / FDc.WinExtX : 1;
      sy = FDc.WinExtY != 0 ? FDc.VpExtY / FDc.WinExtY : 1;
      if (FDc.MapMode == MM_ISOTROPIC) {
        double m = std::min(std::abs(sx), std::abs(sy));
        sx = std::copysign(m, sx);
        sy = std::copysign(m, sy);
      }
      break;
    default: sx = sy = 1; break;
  }
  if (!std::isfinite(sx) || sx == 0) sx = 1;
  if (!std::isfinite(sy) || sy == 0) sy = 1;
  // logical -> world -> page -> device -> output
  cairo_matrix_t page;
  cairo_matrix_init(&page, sx, 0, 0, sy, vx - ox * sx, vy - oy * sy);
  cairo_matrix_t m;
  cairo_matrix_multiply(&m, &FDc.World, &page);
  cairo_matrix_multiply(&FM, &m, &FBase);
}

void Player::Tx(double x, double y, double& ox, double& oy) const {
  ox = x, oy = y;
  cairo_matrix_transform_point(&FM, &ox, &oy);
  ox = Clamp(ox), oy = Clamp(oy);
}

double Player::PenWidthPx() const {
  const Pen& p = FDc.CurPen;
  if (p.Width <= 0 || (!p.Geometric && p.Width <= 1)) return 1.0;
  double w = p.Width * (ScaleX() + ScaleY()) / 2;
  return std::clamp(std::isfinite(w) ? w : 1.0, 1.0, 1e5);
}

void Player::ApplyPenColor() {
  if (FDc.Rop2 == R2_BLACK)
    SetColor(FCr, 0);
  else if (FDc.Rop2 == R2_WHITE)
    SetColor(FCr, 0xFFFFFF);
  else
    SetColor(FCr, FDc.CurPen.Color);
}

void Player::FillCurrent(bool preserve) {
  const Brush& b = FDc.CurBrush;
  cairo_set_fill_rule(FCr, FDc.PolyFill == 1 ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  if (b.Style == BS_NULL || !Visible()) {
    if (!preserve) cairo_new_path(FCr);
    return;
  }
  if (b.Pattern) {
    cairo_set_source(FCr, b.Pattern.get());
  } else if (b.Style == BS_HATCHED) {
    if (FDc.BkMode == 2) {
      SetColor(FCr, FDc.BkColor);
      cairo_fill_preserve(FCr);
    }
    // Hatch lines of 8 pixels, drawn through the shape.
    double x1, y1, x2, y2;
    cairo_fill_extents(FCr, &x1, &y1, &x2, &y2);
    cairo_save(FCr);
    cairo_clip_preserve(FCr);
    cairo_new_path(FCr);
    int h = b.Hatch;
    if ((x2 - x1) * (y2 - y1) < 1e8) {
      for (double x = std::floor(x1 / 8) * 8; x <= x2 && (h == 1 || h == 4); x += 8) {  // vertical, cross
        cairo_move_to(FCr, x + 0.5, y1);
        cairo_line_to(FCr, x + 0.5, y2);
      }
      for (double y = std::floor(y1 / 8) * 8; y <= y2 && (h == 0 || h == 4); y += 8) {  // horizontal, cross
        cairo_move_to(FCr, x1, y + 0.5);
        cairo_line_to(FCr, x2, y + 0.5);
      }
      double span = (x2 - x1) + (y2 - y1);
      for (double d = -span; d <= span && (h == 2 || h == 3 || h == 5); d += 8) {
        if (h == 2 || h == 5) {  // forward diagonal
          cairo_move_to(FCr, x1 + d, y2);
          cairo_line_to(FCr, x1 + d + (y2 - y1), y1);
        }
        if (h == 3 || h == 5) {  // backward diagonal
          cairo_move_to(FCr, x1 + d, y1);
          cairo_line_to(FCr, x1 + d + (y2 - y1), y2);
        }
      }
    }
    SetColor(FCr, b.Color);
    cairo_set_line_width(FCr, 1);
    cairo_stroke(FCr);
    cairo_restore(FCr);
    if (!preserve) cairo_new_path(FCr);
    return;
  } else {
    SetColor(FCr, FDc.Rop2 == R2_BLACK ? 0 : FDc.Rop2 == R2_WHITE ? 0xFFFFFF : b.Color);
  }
  // A hairline that arrives as a filled sliver thinner than a pixel is drawn one
  // pixel wide on the pixel grid, as PDF renderers draw hairlines.
  double x1, y1, x2, y2;
  cairo_path_extents(FCr, &x1, &y1, &x2, &y2);
  if ((x2 - x1 < 1 || y2 - y1 < 1) && x2 >= x1 && y2 >= y1) {
    double l = std::floor(x1), t = std::floor(y1), r = std::ceil(x2), bt = std::ceil(y2);
    // Edges to the nearest pixel boundary, and one pixel where they meet.
    if (x2 - x1 < 1) l = std::round(x1), r = std::max(std::round(x2), l + 1);
    if (y2 - y1 < 1) t = std::round(y1), bt = std::max(std::round(y2), t + 1);
    cairo_path_t* keep = preserve ? cairo_copy_path(FCr) : nullptr;
    cairo_new_path(FCr);
    cairo_rectangle(FCr, l, t, r - l, bt - t);
    cairo_fill(FCr);
    if (keep) {
      cairo_append_path(FCr, keep);
      cairo_path_destroy(keep);
    }
    return;
  }
  // A slanted hairline sliver: on average thinner than a pixel, so it gets an outline
  // that brings it to about one pixel.
  double meanWidth = MeanWidth();
  if (meanWidth >= 0 && meanWidth < 0.8) {
    cairo_fill_preserve(FCr);
    cairo_set_line_width(FCr, 1.0 - meanWidth);
    cairo_set_dash(FCr, nullptr, 0, 0);
    if (preserve)
      cairo_stroke_preserve(FCr);
    else
      cairo_stroke(FCr);
    return;
  }
  if (preserve)
    cairo_fill_preserve(FCr);
  else
    cairo_fill(FCr);
}

double Player::MeanWidth() const {
  // Twice the area over the perimeter of the flattened path; -1 when it has none.
  cairo_path_t* path = cairo_copy_path_flat(FCr);
  double area = 0, perimeter = 0, sx = 0, sy = 0, px = 0, py = 0, total = 0;
  bool open = false;
  auto closeSub = [&] {
    if (!open) return;
    area += px * sy - sx * py;
    perimeter += std::hypot(sx - px, sy - py);
    total += std::abs(area) / 2;
    area = 0;
    open = false;
  };
  for (int i = 0; path->status == CAIRO_STATUS_SUCCESS && i < path->num_data; i += path->data[i].header.length) {
    const cairo_path_data_t* d = &path->data[i];
    if (d->header.type == CAIRO_PATH_MOVE_TO) {
      closeSub();
      sx = px = d[1].point.x, sy = py = d[1].point.y;
      open = true;
    } else if (d->header.type == CAIRO_PATH_LINE_TO) {
      area += px * d[1].point.y - d[1].point.x * py;
      perimeter += std::hypot(d[1].point.x - px, d[1].point.y - py);
      px = d[1].point.x, py = d[1].point.y;
    } else if (d->header.type == CAIRO_PATH_CLOSE_PATH) {
      closeSub();
    }
  }
  closeSub();
  cairo_path_destroy(path);
  return perimeter > 0 ? 2 * total / perimeter : -1;
}

void Player::StrokeCurrent(bool preserve) {
  const Pen& p = FDc.CurPen;
  if (p.Style == PS_NULL || !Visible()) {
    if (!preserve) cairo_new_path(FCr);
    return;
  }
  double w = PenWidthPx();
  cairo_set_line_width(FCr, w);
  if (w <= 1.5) {
    // Thin lines on pixel centres, so that they stay crisp instead of two grey pixels.
    cairo_path_t* path = cairo_copy_path(FCr);
    for (int i = 0; path->status == CAIRO_STATUS_SUCCESS && i < path->num_data; i += path->data[i].header.length) {
      cairo_path_data_t* d = &path->data[i];
      int points = d->header.type == CAIRO_PATH_CURVE_TO ? 3 : d->header.type == CAIRO_PATH_CLOSE_PATH ? 0 : 1;
      for (int k = 1; k <= points; ++k) {
        d[k].point.x = std::floor(d[k].point.x) + 0.5;
        d[k].point.y = std::floor(d[k].point.y) + 0.5;
      }
    }
    cairo_new_path(FCr);
    cairo_append_path(FCr, path);
    cairo_path_destroy(path);
  }
  cairo_set_miter_limit(FCr, std::clamp(FDc.Miter, 1.0, 100.0));
  std::vector<double> dashes;
  double unit = p.Geometric ? w : 1.0;
  switch (p.Style) {
    case PS_DASH: dashes = {6 * unit, 2 * unit}; break;
    case PS_DOT: dashes = {unit, unit}; break;
    case PS_DASHDOT: dashes = {6 * unit, 2 * unit, unit, 2 * unit}; break;
    case PS_DASHDOTDOT: dashes = {6 * unit, 2 * unit, unit, 2 * unit, unit, 2 * unit}; break;
    case PS_ALTERNATE: dashes = {1, 1}; break;
    case PS_USERSTYLE:
      for (double d : p.Dashes) dashes.push_back(d * (ScaleX() + ScaleY()) / 2);
      break;
    default: break;
  }
  // Dashes along a huge path would take forever to generate: such paths are solid.
  double x1, y1, x2, y2;
  cairo_stroke_extents(FCr, &x1, &y1, &x2, &y2);
  bool tiny = false;
  for (double d : dashes) tiny = tiny || !(d >= 0.5);
  if (!dashes.empty() && !tiny && (x2 - x1) + (y2 - y1) < 40000)
    cairo_set_dash(FCr, dashes.data(), int(dashes.size()), 0);
  else
    cairo_set_dash(FCr, nullptr, 0, 0);
  cairo_set_line_cap(FCr, p.Cap);
  cairo_set_line_join(FCr, p.Join);
  ApplyPenColor();
  if (preserve)
    cairo_stroke_preserve(FCr);
  else
    cairo_stroke(FCr);
  cairo_set_dash(FCr, nullptr, 0, 0);
}

void Player::FillAndStroke(bool close) {
  if (close) cairo_close_path(FCr);
  if (FInPath) return;  // the path keeps collecting until EndPath
  FillCurrent(true);
  StrokeCurrent(false);
}

void Player::AddPoints(const Reader& r, size_t off, uint32_t count, bool small, bool bezier, bool fromCurrent) {
  size_t step = small ? 4 : 8;
  if (!r.Has(off, size_t(count) * step)) count = uint32_t((r.N > off ? r.N - off : 0) / step);
  auto pt = [&](uint32_t i, double& x, double& y) {
    size_t o = off + i * step;
    double lx = small ? r.I16(o) : r.I32(o), ly = small ? r.I16(o + 2) : r.I32(o + 4);
    Tx(lx, ly, x, y);
    if (i + 1 == count) FDc.CurX = lx, FDc.CurY = ly;
  };
  uint32_t i = 0;
  double x, y;
  if (fromCurrent) {
    Tx(FDc.CurX, FDc.CurY, x, y);
    if (!FInPath || !cairo_has_current_point(FCr)) cairo_move_to(FCr, x, y);
  } else if (count > 0) {
    pt(0, x, y);
    cairo_move_to(FCr, x, y);
    i = 1;
  }
  if (bezier) {
    for (; i + 2 < count; i += 3) {
      double x1, y1, x2, y2, x3, y3;
      pt(i, x1, y1);
      pt(i + 1, x2, y2);
      pt(i + 2, x3, y3);
      cairo_curve_to(FCr, x1, y1, x2, y2, x3, y3);
    }
  } else {
    for (; i < count; ++i) {
      pt(i, x, y);
      cairo_line_to(FCr, x, y);
    }
  }
}

void Player::Rect(double l, double t, double r, double b) {
  double pts[4][2] = {{l, t}, {r, t}, {r, b}, {l, b}};
  for (int i = 0; i < 4; ++i) {
    double x, y;
    Tx(pts[i][0], pts[i][1], x, y);
    if (i == 0)
      cairo_move_to(FCr, x, y);
    else
      cairo_line_to(FCr, x, y);
  }
  cairo_close_path(FCr);
}

void Player::EllipsePath(double l, double t, double r, double b) {
  // A unit circle through the logical transform becomes the (possibly skewed) ellipse.
  cairo_save(FCr);
  cairo_matrix_t m = FM;
  cairo_matrix_translate(&m, (l + r) / 2, (t + b) / 2);
  double rx = std::abs(r - l) / 2, ry = std::abs(b - t) / 2;
  if (rx < 1e-9 || ry < 1e-9) {
    cairo_restore(FCr);
    return;
  }
  cairo_matrix_scale(&m, rx, ry);
  cairo_matrix_t check = m;
  if (cairo_matrix_invert(&check) != CAIRO_STATUS_SUCCESS) {
    cairo_restore(FCr);
    return;
  }
  cairo_set_matrix(FCr, &m);
  cairo_new_sub_path(FCr);
  cairo_arc(FCr, 0, 0, 1, 0, 2 * M_PI);
  cairo_close_path(FCr);
  cairo_restore(FCr);
}

void Player::ArcPath(const Reader& r, int kind) {
  double l = r.I32(8), t = r.I32(12), rr = r.I32(16), b = r.I32(20);
  double cx = (l + rr) / 2, cy = (t + b) / 2, rx = std::abs(rr - l) / 2, ry = std::abs(b - t) / 2;
  if (rx < 1e-9 || ry < 1e-9) return;
  double a1 = std::atan2((r.I32(28) - cy) / ry, (r.I32(24) - cx) / rx);
  double a2 = std::atan2((r.I32(36) - cy) / ry, (r.I32(32) - cx) / rx);
  cairo_matrix_t m = FM;
  cairo_matrix_translate(&m, cx, cy);
  cairo_matrix_scale(&m, rx, ry);
  cairo_matrix_t check = m;
  if (cairo_matrix_invert(&check) != CAIRO_STATUS_SUCCESS) return;
  cairo_save(FCr);
  cairo_set_matrix(FCr, &m);
  // Arcs run counter-clockwise on the screen unless the direction says otherwise;
  // with y pointing down in logical space that is decreasing angle.
  bool screenCcw = !FDc.Clockwise;
  bool yDown = FM.yy > 0;
  if (kind == EMR_PIE) cairo_move_to(FCr, 0, 0);
  if (kind == EMR_ARCTO) {
    double sx = std::cos(a1), sy = std::sin(a1);
    if (cairo_has_current_point(FCr))
      cairo_line_to(FCr, sx, sy);
    else
      cairo_move_to(FCr, sx, sy);
  } else if (kind != EMR_PIE) {
    cairo_new_sub_path(FCr);
  }
  if (screenCcw == yDown)
    cairo_arc_negative(FCr, 0, 0, 1, a1, a2);
  else
    cairo_arc(FCr, 0, 0, 1, a1, a2);
  if (kind == EMR_PIE || kind == EMR_CHORD) cairo_close_path(FCr);
  cairo_restore(FCr);
  if (kind == EMR_ARCTO) {
    FDc.CurX = cx + rx * std::cos(a2);
    FDc.CurY = cy + ry * std::sin(a2);
  }
}

void Player::ClipRect(const Reader& r, bool exclude) {
  cairo_new_path(FCr);
  if (exclude) cairo_rectangle(FCr, -kMaxCoord, -kMaxCoord, 2 * kMaxCoord, 2 * kMaxCoord);
  Rect(r.I32(8), r.I32(12), r.I32(16), r.I32(20));
  cairo_set_fill_rule(FCr, exclude ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  cairo_clip(FCr);
}

void Player::ResetClip() {
  cairo_reset_clip(FCr);
  cairo_rectangle(FCr, std::min(FX, FX + FW), std::min(FY, FY + FH), std::abs(FW), std::abs(FH));
  cairo_clip(FCr);
}

Object* Player::NewObject(uint32_t ih, Object::Kind kind) {
  if (ih >= kMaxHandles) return nullptr;
  if (ih >= FObjects.size()) FObjects.resize(ih + 1);
  FObjects[ih] = Object{};
  FObjects[ih].K = kind;
  return &FObjects[ih];
}

void Player::SelectStock(uint32_t index) {
  switch (index) {
    case 0: FDc.CurBrush = Brush{BS_SOLID, 0xFFFFFF, 0, nullptr}; break;
    case 1: FDc.CurBrush = Brush{BS_SOLID, 0xC0C0C0, 0, nullptr}; break;
    case 2: FDc.CurBrush = Brush{BS_SOLID, 0x808080, 0, nullptr}; break;
    case 3: FDc.CurBrush = Brush{BS_SOLID, 0x404040, 0, nullptr}; break;
    case 4: FDc.CurBrush = Brush{BS_SOLID, 0, 0, nullptr}; break;
    case 5: FDc.CurBrush = Brush{BS_NULL, 0, 0, nullptr}; break;
    case 6: FDc.CurPen = Pen{}; FDc.CurPen.Color = 0xFFFFFF; break;
    case 7: FDc.CurPen = Pen{}; break;
    case 8: FDc.CurPen = Pen{}; FDc.CurPen.Style = PS_NULL; break;
    case 10: case 11: case 12: case 13: case 14: case 16: case 17: FDc.CurFont = Font{}; break;
    default: break;
  }
}

cairo_surface_t* Player::DecodeDib(const Reader& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits,
                                   bool useAlpha, bool& bottomUp) {
  if (cbBmi < 12 || !r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) return nullptr;
  uint32_t hsize = r.U32(offBmi);
  int64_t w, h;
  int bpp;
  uint32_t comp = 0, clrUsed = 0;
  if (hsize == 12) {
    w = r.U16(offBmi + 4), h = r.I16(offBmi + 6), bpp = r.U16(offBmi + 10);
  } else {
    if (hsize < 40 || hsize > cbBmi) return nullptr;
    w = r.I32(offBmi + 4), h = r.I32(offBmi + 8), bpp = r.U16(offBmi + 14);
    comp = r.U32(offBmi + 16), clrUsed = r.U32(offBmi + 32);
  }
  bottomUp = h > 0;
  h = std::abs(h);
  if (w <= 0 || h <= 0 || w > 32767 || h > 32767 || w * h > kMaxImagePixels) return nullptr;
  if (FPixels + w * h > kPixelBudget) return nullptr;
  FPixels += w * h;
  int entry = hsize == 12 ? 3 : 4;
  uint32_t palCount = bpp <= 8 ? (clrUsed ? std::min<uint32_t>(clrUsed, 256) : (1u << bpp)) : 0;
  uint32_t masks[3] = {0, 0, 0};
  size_t palOff = offBmi + hsize;
  if (comp == 3 || comp == 6) {  // BI_BITFIELDS
    size_t mo = hsize >= 52 ? offBmi + 40 : offBmi + hsize;
    for (int i = 0; i < 3; ++i) masks[i] = r.U32(mo + size_t(i) * 4);
    if (hsize < 52) palOff += 12;
  }
  std::vector<uint32_t> pal(256, 0);
  for (uint32_t i = 0; i < palCount; ++i) {
    size_t o = palOff + size_t(i) * size_t(entry);
    if (!r.Has(o, 3) || o + 3 > offBmi + cbBmi + 12) break;
    pal[i] = 0xFF000000u | uint32_t(r.U8(o + 2)) << 16 | uint32_t(r.U8(o + 1)) << 8 | r.U8(o);
  }
  cairo_surface_t* s = cairo_image_surface_create(useAlpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, int(w), int(h));
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  uint8_t* data = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  std::memset(data, 0xFF, size_t(stride) * size_t(h));
  auto row = [&](int64_t y) { return reinterpret_cast<uint32_t*>(data + size_t(bottomUp ? h - 1 - y : y) * size_t(stride)); };
  const uint8_t* bits = r.P + offBits;
  if (comp == 1 || comp == 2) {  // BI_RLE8, BI_RLE4: rows from the bottom
    int64_t x = 0, y = 0;
    size_t i = 0;
    auto put = [&](uint8_t idx) {
      if (x < w && y < h) row(y)[x] = pal[idx];
      ++x;
    };
    while (i + 1 < cbBits && y < h) {
      uint8_t n = bits[i], v = bits[i + 1];
      i += 2;
      if (n > 0) {
        for (int k = 0; k < n && x < w + 2; ++k) put(comp == 1 ? v : uint8_t((k & 1) ? v & 0xF : v >> 4));
      } else if (v == 0) {
        x = 0, ++y;
      } else if (v == 1) {
        break;
      } else if (v == 2) {
        if (i + 1 >= cbBits) break;
        x += bits[i], y += bits[i + 1];
        i += 2;
      } else {
        size_t bytes = comp == 1 ? v : (size_t(v) + 1) / 2;
        for (int k = 0; k < v && i + size_t(comp == 1 ? k : k / 2) < cbBits; ++k) {
          uint8_t b = bits[i + size_t(comp == 1 ? k : k / 2)];
          put(comp == 1 ? b : uint8_t((k & 1) ? b & 0xF : b >> 4));
        }
        i += (bytes + 1) & ~size_t(1);
      }
    }
  } else if (comp == 0 || comp == 3 || comp == 6) {
    size_t rowBytes = size_t((w * bpp + 31) / 32) * 4;
    auto shiftOf = [](uint32_t m) {
      int s = 0;
      while (m && !(m & 1)) m >>= 1, ++s;
      return s;
    };
    if (bpp == 16 && comp == 0) masks[0] = 0x7C00, masks[1] = 0x3E0, masks[2] = 0x1F;
    if (bpp == 32 && comp == 0) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    int sh[3] = {shiftOf(masks[0]), shiftOf(masks[1]), shiftOf(masks[2])};
    for (int64_t y = 0; y < h; ++y) {
      size_t ro = size_t(y) * rowBytes;
      if (ro + rowBytes > cbBits) break;
      const uint8_t* src = bits + ro;
      uint32_t* dst = row(y);
      for (int64_t x = 0; x < w; ++x) {
        uint32_t px;
        switch (bpp) {
          case 1: px = pal[(src[x >> 3] >> (7 - (x & 7))) & 1]; break;
          case 4: px = pal[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF]; break;
          case 8: px = pal[src[x]]; break;
          case 24: px = 0xFF000000u | uint32_t(src[x * 3 + 2]) << 16 | uint32_t(src[x * 3 + 1]) << 8 | src[x * 3]; break;
          case 16:
          case 32: {
            uint32_t v = bpp == 16 ? uint32_t(src[x * 2] | src[x * 2 + 1] << 8)
                                   : uint32_t(src[x * 4] | src[x * 4 + 1] << 8 | src[x * 4 + 2] << 16 |
                                              uint32_t(src[x * 4 + 3]) << 24);
            uint32_t c[3];
            for (int k = 0; k < 3; ++k) {
              uint32_t max = masks[k] >> sh[k];
              c[k] = max ? ((v & masks[k]) >> sh[k]) * 255 / max : 0;
            }
            uint32_t a = 255;
            if (useAlpha && bpp == 32) {
              a = v >> 24;
              // premultiplied for cairo
              for (uint32_t& ch : c) ch = ch * a / 255;
            }
            px = a << 24 | c[0] << 16 | c[1] << 8 | c[2];
            break;
          }
          default: px = 0xFFFFFFFF; break;
        }
        dst[x] = px;
      }
    }
  } else {
    cairo_surface_destroy(s);  // JPEG or PNG inside a DIB: not for this player
    return nullptr;
  }
  cairo_surface_mark_dirty(s);
  return s;
}

void Player::Image(const Reader& r, double dx, double dy, double dcx, double dcy, int32_t sx, int32_t sy, int32_t scx,
                   int32_t scy, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits, uint32_t rop,
                   bool alpha) {
  double p0x, p0y, p1x, p1y, p2x, p2y;
  Tx(dx, dy, p0x, p0y);
  Tx(dx + dcx, dy, p1x, p1y);
  Tx(dx, dy + dcy, p2x, p2y);
  cairo_new_path(FCr);
  cairo_move_to(FCr, p0x, p0y);
  cairo_line_to(FCr, p1x, p1y);
  cairo_line_to(FCr, p1x + p2x - p0x, p1y + p2y - p0y);
  cairo_line_to(FCr, p2x, p2y);
  cairo_close_path(FCr);
  if (cbBmi == 0) {  // no bitmap: a pattern or constant operation on the rectangle
    if (rop == 0x00000042) SetColor(FCr, 0);
    else if (rop == 0x00FF0062) SetColor(FCr, 0xFFFFFF);
    else if (rop == 0x00F00021 && FDc.CurBrush.Style != BS_NULL) { FillCurrent(false); return; }
    else { cairo_new_path(FCr); return; }
    cairo_fill(FCr);
    return;
  }
  bool bottomUp = true;
  cairo_surface_t* img = DecodeDib(r, offBmi, cbBmi, offBits, cbBits, alpha, bottomUp);
  if (!img) {
    cairo_new_path(FCr);
    return;
  }
  int ih = cairo_image_surface_get_height(img);
  if (scx == 0 || scy == 0) scx = cairo_image_surface_get_width(img), scy = ih;
  // Source rectangles of bottom-up bitmaps count from the bottom row.
  double top = bottomUp ? ih - sy - scy : sy;
  cairo_matrix_t m;  // image -> output
  cairo_matrix_init(&m, (p1x - p0x) / scx, (p1y - p0y) / scx, (p2x - p0x) / scy, (p2y - p0y) / scy, p0x, p0y);
  cairo_matrix_translate(&m, -sx, -top);
  if (cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(img);
    cairo_new_path(FCr);
    return;
  }
  cairo_pattern_t* pat = cairo_pattern_create_for_surface(img);
  cairo_pattern_set_matrix(pat, &m);
  cairo_pattern_set_extend(pat, CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(pat, CAIRO_FILTER_GOOD);
  cairo_save(FCr);
  if (rop == 0x008800C6) cairo_set_operator(FCr, CAIRO_OPERATOR_MULTIPLY);      // SRCAND
  else if (rop == 0x00EE0086) cairo_set_operator(FCr, CAIRO_OPERATOR_LIGHTEN);  // SRCPAINT
  cairo_set_source(FCr, pat);
  cairo_fill(FCr);
  cairo_restore(FCr);
  cairo_pattern_destroy(pat);
  cairo_surface_destroy(img);
  ++FStats.Images;
}

void Player::Text(const Reader& r, bool wide) {
  int32_t refX = r.I32(36), refY = r.I32(40);
  uint32_t n = r.U32(44), offStr = r.U32(48), opts = r.U32(52), offDx = r.U32(72);
  int32_t rl = r.I32(56), rt = r.I32(60), rr = r.I32(64), rb = r.I32(68);
  size_t unit = wide ? 2 : 1;
  if (!r.Has(offStr, size_t(n) * unit)) n = offStr < r.N ? uint32_t((r.N - offStr) / unit) : 0;
  bool rectGiven = rr > rl && rb > rt;
  if ((opts & ETO_OPAQUE) && rectGiven && Visible()) {
    cairo_new_path(FCr);
    Rect(rl, rt, rr, rb);
    SetColor(FCr, FDc.BkColor);
    cairo_fill(FCr);
  }
  if (n == 0) return;
  cairo_save(FCr);
  if ((opts & ETO_CLIPPED) && rectGiven) {
    cairo_new_path(FCr);
    Rect(rl, rt, rr, rb);
    cairo_clip(FCr);
  }
  const Font& f = FDc.CurFont;
  cairo_font_face_t* face = FindFontFace(f.Face, f.Weight, f.Italic);
  double sy = ScaleY(), sx = ScaleX();
  double em = std::abs(double(f.Height)) * sy;
  if (!face || !(em > 0.05) || em > kMaxFontPx) {
    cairo_restore(FCr);
    return;
  }
  cairo_set_font_face(FCr, face);
  if (f.Height > 0) {  // cell height: scale so that ascent plus descent fills it
    cairo_set_font_size(FCr, 1);
    cairo_font_extents_t fe;
    cairo_font_extents(FCr, &fe);
    if (fe.ascent + fe.descent > 0) em /= (fe.ascent + fe.descent);
  }
  double emx = em;
  if (f.Width != 0) {  // an average character width asks for wider or narrower glyphs
    cairo_set_font_size(FCr, em);
    cairo_text_extents_t xe;
    cairo_text_extents(FCr, "x", &xe);
    if (xe.x_advance > 0.01) emx = std::clamp(em * std::abs(double(f.Width)) * sx / xe.x_advance, em / 16, em * 16);
  }
  double theta = f.Escapement * M_PI / 1800.0;
  double c = std::cos(theta), s = std::sin(theta);
  cairo_matrix_t fm;
  cairo_matrix_init(&fm, emx * c, -emx * s, em * s, em * c, 0, 0);
  cairo_set_font_matrix(FCr, &fm);
  cairo_font_options_t* fo = cairo_font_options_create();
  cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(FCr, fo);
  cairo_font_options_destroy(fo);
  // Referenced: setting a fallback font for a run would otherwise free it.
  cairo_scaled_font_t* sf = cairo_scaled_font_reference(cairo_get_scaled_font(FCr));

  // Characters as code points, each with its advance in logical units.
  std::vector<uint32_t> cps;
  std::vector<double> adv;
  std::vector<double> dxs;
  bool pdy = (opts & ETO_PDY) != 0;
  size_t per = pdy ? 2 : 1;
  bool haveDx = offDx != 0 && r.Has(offDx, size_t(n) * 4 * per);
  for (uint32_t i = 0; i < n; ++i) dxs.push_back(haveDx ? r.I32(offDx + size_t(i) * 4 * per) : 0.0);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t cp = wide ? r.U16(offStr + size_t(i) * 2) : r.U8(offStr + i);
    double a = dxs[i];
    if (wide && !(opts & ETO_GLYPH_INDEX) && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n) {
      uint32_t lo = r.U16(offStr + size_t(i + 1) * 2);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        a += dxs[i + 1];
        ++i;
      }
    }
    cps.push_back(cp);
    adv.push_back(a);
  }
  // Glyph indices, from the face or a fallback face that has the character.
  struct Run {
    cairo_scaled_font_t* Font;
    std::vector<cairo_glyph_t> Glyphs;
  };
  std::vector<Run> runs;
  std::vector<cairo_scaled_font_t*> owned;
  std::vector<unsigned long> index(cps.size(), 0);
  std::vector<cairo_scaled_font_t*> fontOf(cps.size(), sf);
  if (FT_Face ft = cairo_ft_scaled_font_lock_face(sf)) {
    for (size_t i = 0; i < cps.size(); ++i) index[i] = (opts & ETO_GLYPH_INDEX) ? cps[i] : FT_Get_Char_Index(ft, cps[i]);
    cairo_ft_scaled_font_unlock_face(sf);
  }
  // A ligature arrives as its first character carrying the whole advance and the
  // others with none: draw the ligature's glyph where the font has it.
  std::vector<bool> absorbed(cps.size(), false);
  if (haveDx && !(opts & ETO_GLYPH_INDEX)) {
    static const struct { const char* Seq; uint32_t Lig; } kLigatures[] = {
        {"ffi", 0xFB03}, {"ffl", 0xFB04}, {"ff", 0xFB00}, {"fi", 0xFB01}, {"fl", 0xFB02}, {"ft", 0xFB05}, {"st", 0xFB06}};
    if (FT_Face ft = cairo_ft_scaled_font_lock_face(sf)) {
      for (size_t i = 0; i + 1 < cps.size(); ++i) {
        if (adv[i + 1] != 0 || adv[i] == 0) continue;
        for (const auto& l : kLigatures) {
          size_t len = std::strlen(l.Seq), k = 0;
          while (k < len && i + k < cps.size() && cps[i + k] == uint32_t(l.Seq[k]) && (k == 0 || adv[i + k] == 0)) ++k;
          if (k != len) continue;
          unsigned long g = FT_Get_Char_Index(ft, l.Lig);
          if (!g) continue;
          index[i] = g;
          for (size_t j = 1; j < len; ++j) absorbed[i + j] = true;
          i += len - 1;
          break;
        }
      }
      cairo_ft_scaled_font_unlock_face(sf);
    }
  }
  // Symbol-font code points (U+F020 to U+F0FF) that the face does not have: the
  // character they stand for in the classic symbol encodings.
  for (size_t i = 0; i < cps.size(); ++i)
    if (index[i] == 0 && !(opts & ETO_GLYPH_INDEX) && cps[i] >= 0xF020 && cps[i] <= 0xF0FF) cps[i] = SymbolToUnicode(cps[i] - 0xF000);
  if (FT_Face ft = cairo_ft_scaled_font_lock_face(sf)) {
    for (size_t i = 0; i < cps.size(); ++i)
      if (index[i] == 0 && !(opts & ETO_GLYPH_INDEX)) index[i] = FT_Get_Char_Index(ft, cps[i]);
    cairo_ft_scaled_font_unlock_face(sf);
  }
  for (size_t i = 0; i < cps.size(); ++i) {
    if (index[i] != 0 || (opts & ETO_GLYPH_INDEX) || cps[i] < 0x20) continue;
    cairo_font_face_t* fb = FallbackFontFace(cps[i], f.Weight, f.Italic);
    if (!fb || fb == face) continue;
    cairo_matrix_t ctm;
    cairo_get_matrix(FCr, &ctm);
    cairo_font_options_t* o = cairo_font_options_create();
    cairo_get_font_options(FCr, o);
    cairo_scaled_font_t* fsf = cairo_scaled_font_create(fb, &fm, &ctm, o);
    cairo_font_options_destroy(o);
    if (FT_Face ft = cairo_ft_scaled_font_lock_face(fsf)) {
      unsigned long g = FT_Get_Char_Index(ft, cps[i]);
      cairo_ft_scaled_font_unlock_face(fsf);
      if (g) {
        index[i] = g;
        fontOf[i] = fsf;
        owned.push_back(fsf);
        continue;
      }
    }
    cairo_scaled_font_destroy(fsf);
  }
  // Baseline direction in logical units: escapement turns it counter-clockwise on screen.
  double ySign = FM.yy >= 0 ? 1 : -1;
  double blx = c, bly = -s * ySign;
  double total = 0;
  if (!haveDx) {  // advances from the font, converted back to logical units
    for (size_t i = 0; i < cps.size(); ++i) {
      cairo_glyph_t g{index[i], 0, 0};
      cairo_text_extents_t te;
      cairo_scaled_font_glyph_extents(fontOf[i], &g, 1, &te);
      adv[i] = std::hypot(te.x_advance, te.y_advance) / std::max(1e-9, sx);
    }
  }
  for (double a : adv) total += a;
  double ox = refX, oy = refY;
  if (FDc.TextAlign & TA_UPDATECP) ox = FDc.CurX, oy = FDc.CurY;
  int h = FDc.TextAlign & 6;
  if (h == TA_CENTER) ox -= blx * total / 2, oy -= bly * total / 2;
  else if (h == TA_RIGHT) ox -= blx * total, oy -= bly * total;
  cairo_font_extents_t fext;
  cairo_scaled_font_extents(sf, &fext);
  // Up on screen, in output pixels: perpendicular to the baseline.
  double upx = -s, upy = -c;
  double shift = 0;
  int v = FDc.TextAlign & TA_BASELINE;
  if (v == 0) shift = -fext.ascent;  // TA_TOP: the reference point is the top of the cell
  else if (v == TA_BOTTOM) shift = fext.descent;
  // A level baseline sits on the pixel grid, which keeps the letters' feet crisp as
  // PDF renderers draw them; along it every glyph keeps its exact place.
  bool level;
  {
    double ax, ay, bx, by;
    Tx(ox, oy, ax, ay);
    Tx(ox + blx * 1000, oy + bly * 1000, bx, by);
    cairo_user_to_device(FCr, &ax, &ay);
    cairo_user_to_device(FCr, &bx, &by);
    level = std::fabs(by - ay) < 1e-6 * std::max(1.0, std::fabs(bx - ax));
  }
  double cum = 0;
  for (size_t i = 0; i < cps.size(); ++i) {
    double gx, gy;
    Tx(ox + blx * cum, oy + bly * cum, gx, gy);
    gx += upx * shift, gy += upy * shift;
    if (level) {  // on the grid of the output's pixels, whatever the drawing's scale
      cairo_user_to_device(FCr, &gx, &gy);
      gy = std::floor(gy);
      cairo_device_to_user(FCr, &gx, &gy);
    }
    cum += adv[i];
    if (absorbed[i] || (index[i] == 0 && cps[i] <= 0x20)) continue;  // blanks and control characters draw nothing
    if (runs.empty() || runs.back().Font != fontOf[i]) runs.push_back({fontOf[i], {}});
    runs.back().Glyphs.push_back({index[i], gx, gy});
  }
  if (FDc.TextAlign & TA_UPDATECP) FDc.CurX = ox + blx * total, FDc.CurY = oy + bly * total;
  SetColor(FCr, FDc.TextColor);
  for (Run& run : runs) {
    cairo_set_scaled_font(FCr, run.Font);
    if (FInPath) {
      cairo_show_glyphs(FCr, run.Glyphs.data(), int(run.Glyphs.size()));  // the bracket's path stays whole
    } else {
      // As outlines: the image surface would put each glyph on a whole pixel.
      cairo_new_path(FCr);
      cairo_glyph_path(FCr, run.Glyphs.data(), int(run.Glyphs.size()));
      cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
      cairo_fill(FCr);
    }
    FStats.Glyphs += int(run.Glyphs.size());
  }
  if (f.Underline || f.StrikeOut) {
    double x0, y0, x1, y1;
    Tx(ox, oy, x0, y0);
    Tx(ox + blx * total, oy + bly * total, x1, y1);
    x0 += upx * shift, y0 += upy * shift, x1 += upx * shift, y1 += upy * shift;
    cairo_set_line_width(FCr, std::max(1.0, em * 0.06));
    for (int line = 0; line < 2; ++line) {
      if ((line == 0 && !f.Underline) || (line == 1 && !f.StrikeOut)) continue;
      double d = line == 0 ? -em * 0.12 : em * 0.28;  // below the baseline, or through the x-height
      cairo_move_to(FCr, x0 + upx * d, y0 + upy * d);
      cairo_line_to(FCr, x1 + upx * d, y1 + upy * d);
      cairo_stroke(FCr);
    }
  }
  for (cairo_scaled_font_t* o : owned) cairo_scaled_font_destroy(o);
  cairo_scaled_font_destroy(sf);
  cairo_restore(FCr);
}

void Player::Record(uint32_t type, const Reader& r) {
  switch (type) {
    case EMR_HEADER:
    case EMR_GDICOMMENT:
    case EMR_SETSTRETCHBLTMODE:
      return;
    case EMR_SETMAPMODE: FDc.MapMode = int(r.U32(8)); UpdateMatrix(); return;
    case EMR_SETWINDOWEXTEX: if (FDc.MapMode >= MM_ISOTROPIC) { FDc.WinExtX = r.I32(8); FDc.WinExtY = r.I32(12); UpdateMatrix(); } return;
    case EMR_SETWINDOWORGEX: FDc.WinOrgX = r.I32(8); FDc.WinOrgY = r.I32(12); UpdateMatrix(); return;
    case EMR_SETVIEWPORTEXTEX: if (FDc.MapMode >= MM_ISOTROPIC) { FDc.VpExtX = r.I32(8); FDc.VpExtY = r.I32(12); UpdateMatrix(); } return;
    case EMR_SETVIEWPORTORGEX: FDc.VpOrgX = r.I32(8); FDc.VpOrgY = r.I32(12); UpdateMatrix(); return;
    case EMR_SCALEVIEWPORTEXTEX:
    case EMR_SCALEWINDOWEXTEX: {
      int32_t xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
      if (xd == 0 || yd == 0) return;
      double& ex = type == EMR_SCALEVIEWPORTEXTEX ? FDc.VpExtX : FDc.WinExtX;
      double& ey = type == EMR_SCALEVIEWPORTEXTEX ? FDc.VpExtY : FDc.WinExtY;
      ex = Clamp(ex * xn / xd), ey = Clamp(ey * yn / yd);
      UpdateMatrix();
      return;
    }
    case EMR_SETWORLDTRANSFORM:
    case EMR_MODIFYWORLDTRANSFORM: {
      cairo_matrix_t x;
      cairo_matrix_init(&x, r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28));
      uint32_t mode = type == EMR_SETWORLDTRANSFORM ? 4 : r.U32(32);
      cairo_matrix_t check = x;
      bool invertible = cairo_matrix_invert(&check) == CAIRO_STATUS_SUCCESS;
      if (mode == 1) cairo_matrix_init_identity(&FDc.World);
      else if (!invertible) return;
      else if (mode == 2) { cairo_matrix_t t; cairo_matrix_multiply(&t, &x, &FDc.World); FDc.World = t; }
      else if (mode == 3) { cairo_matrix_t t; cairo_matrix_multiply(&t, &FDc.World, &x); FDc.World = t; }
      else if (mode == 4) FDc.World = x;
      UpdateMatrix();
      return;
    }
    case EMR_SETBKMODE: FDc.BkMode = int(r.U32(8)); return;
    case EMR_SETPOLYFILLMODE: FDc.PolyFill = int(r.U32(8)); return;
    case EMR_SETROP2: FDc.Rop2 = int(r.U32(8)); return;
    case EMR_SETTEXTALIGN: FDc.TextAlign = int(r.U32(8)); return;
    case EMR_SETTEXTCOLOR: FDc.TextColor = r.U32(8); return;
    case EMR_SETBKCOLOR: FDc.BkColor = r.U32(8); return;
    case EMR_SETMITERLIMIT: FDc.Miter = double(r.U32(8)); return;
    case EMR_SETARCDIRECTION: FDc.Clockwise = r.U32(8) == 2; return;
    case EMR_MOVETOEX: {
      FDc.CurX = r.I32(8), FDc.CurY = r.I32(12);
      double x, y;
      Tx(FDc.CurX, FDc.CurY, x, y);
      if (FInPath) cairo_move_to(FCr, x, y);
      return;
    }
    case EMR_LINETO: {
      double x0, y0, x1, y1;
      if (!FInPath) {
        cairo_new_path(FCr);
        Tx(FDc.CurX, FDc.CurY, x0, y0);
        cairo_move_to(FCr, x0, y0);
      } else if (!cairo_has_current_point(FCr)) {
        Tx(FDc.CurX, FDc.CurY, x0, y0);
        cairo_move_to(FCr, x0, y0);
      }
      FDc.CurX = r.I32(8), FDc.CurY = r.I32(12);
      Tx(FDc.CurX, FDc.CurY, x1, y1);
      cairo_line_to(FCr, x1, y1);
      if (!FInPath) StrokeCurrent(false);
      return;
    }
    case EMR_POLYGON: case EMR_POLYGON16: case EMR_POLYLINE: case EMR_POLYLINE16:
    case EMR_POLYBEZIER: case EMR_POLYBEZIER16: case EMR_POLYBEZIERTO: case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO: case EMR_POLYLINETO16: {
      bool small = type >= EMR_POLYBEZIER16;
      bool polygon = type == EMR_POLYGON || type == EMR_POLYGON16;
      bool bezier = type == EMR_POLYBEZIER || type == EMR_POLYBEZIER16 || type == EMR_POLYBEZIERTO || type == EMR_POLYBEZIERTO16;
      bool to = type == EMR_POLYBEZIERTO || type == EMR_POLYBEZIERTO16 || type == EMR_POLYLINETO || type == EMR_POLYLINETO16;
      if (!FInPath) cairo_new_path(FCr);
      AddPoints(r, 28, r.U32(24), small, bezier, to);
      if (polygon) FillAndStroke(true);
      else if (!FInPath) StrokeCurrent(false);
      return;
    }
    case EMR_POLYPOLYGON: case EMR_POLYPOLYGON16: case EMR_POLYPOLYLINE: case EMR_POLYPOLYLINE16: {
      bool small = type == EMR_POLYPOLYGON16 || type == EMR_POLYPOLYLINE16;
      bool polygon = type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16;
      uint32_t polys = r.U32(24);
      if (!r.Has(32, size_t(polys) * 4)) return;
      size_t off = 32 + size_t(polys) * 4;
      if (!FInPath) cairo_new_path(FCr);
      for (uint32_t p = 0; p < polys; ++p) {
        uint32_t count = r.U32(32 + size_t(p) * 4);
        if (!r.Has(off, size_t(count) * (small ? 4 : 8))) break;
        AddPoints(r, off, count, small, false, false);
        if (polygon) cairo_close_path(FCr);
        off += size_t(count) * (small ? 4 : 8);
      }
      if (FInPath) return;
      if (polygon) FillCurrent(true);
      StrokeCurrent(false);
      return;
    }
    case EMR_RECTANGLE:
      if (!FInPath) cairo_new_path(FCr);
      Rect(r.I32(8), r.I32(12), r.I32(16), r.I32(20));
      FillAndStroke(false);
      return;
    case EMR_ROUNDRECT: {
      double l = r.I32(8), t = r.I32(12), rr = r.I32(16), b = r.I32(20);
      double cw = std::min(std::abs(r.I32(24)) / 2.0, std::abs(rr - l) / 2), ch = std::min(std::abs(r.I32(28)) / 2.0, std::abs(b - t) / 2);
      if (!FInPath) cairo_new_path(FCr);
      if (cw < 1e-9 || ch < 1e-9) {
        Rect(l, t, rr, b);
      } else {
        cairo_matrix_t m = FM, check = FM;
        if (cairo_matrix_invert(&check) != CAIRO_STATUS_SUCCESS) return;
        cairo_save(FCr);
        cairo_set_matrix(FCr, &m);
        double x0 = std::min(l, rr), y0 = std::min(t, b), x1 = std::max(l, rr), y1 = std::max(t, b);
        cairo_new_sub_path(FCr);
        auto corner = [&](double cx, double cy, double a0) {
          cairo_save(FCr);
          cairo_translate(FCr, cx, cy);
          cairo_scale(FCr, cw, ch);
          cairo_arc(FCr, 0, 0, 1, a0, a0 + M_PI / 2);
          cairo_restore(FCr);
        };
        corner(x1 - cw, y0 + ch, -M_PI / 2);
        corner(x1 - cw, y1 - ch, 0);
        corner(x0 + cw, y1 - ch, M_PI / 2);
        corner(x0 + cw, y0 + ch, M_PI);
        cairo_close_path(FCr);
        cairo_restore(FCr);
      }
      FillAndStroke(false);
      return;
    }
    case EMR_ELLIPSE:
      if (!FInPath) cairo_new_path(FCr);
      EllipsePath(r.I32(8), r.I32(12), r.I32(16), r.I32(20));
      FillAndStroke(false);
      return;
    case EMR_ARC: case EMR_CHORD: case EMR_PIE: case EMR_ARCTO:
      if (!FInPath && type != EMR_ARCTO) cairo_new_path(FCr);
      if (!FInPath && type == EMR_ARCTO) {
        cairo_new_path(FCr);
        double x, y;
        Tx(FDc.CurX, FDc.CurY, x, y);
        cairo_move_to(FCr, x, y);
      }
      ArcPath(r, int(type));
      if (FInPath) return;
      if (type == EMR_CHORD || type == EMR_PIE) FillCurrent(true);
      StrokeCurrent(false);
      return;
    case EMR_BEGINPATH:
      FInPath = true;
      cairo_new_path(FCr);
      return;
    case EMR_ENDPATH:
      if (!FInPath) return;
      FInPath = false;
      if (FPath) cairo_path_destroy(FPath);
      FPath = cairo_copy_path(FCr);
      cairo_new_path(FCr);
      return;
    case EMR_ABORTPATH:
      FInPath = false;
      cairo_new_path(FCr);
      if (FPath) cairo_path_destroy(FPath), FPath = nullptr;
      return;
    case EMR_CLOSEFIGURE:
      if (FInPath) cairo_close_path(FCr);
      return;
    case EMR_FLATTENPATH:
    case EMR_WIDENPATH:
      return;
    case EMR_FILLPATH: case EMR_STROKEPATH: case EMR_STROKEANDFILLPATH: case EMR_SELECTCLIPPATH: {
      if (!FPath) return;
      cairo_new_path(FCr);
      cairo_append_path(FCr, FPath);
      cairo_path_destroy(FPath);
      FPath = nullptr;
      if (type == EMR_SELECTCLIPPATH) {
        uint32_t mode = r.U32(8);
        if (mode == RGN_COPY) {
          cairo_path_t* keep = cairo_copy_path(FCr);
          ResetClip();
          cairo_new_path(FCr);
          cairo_append_path(FCr, keep);
          cairo_path_destroy(keep);
        }
        cairo_set_fill_rule(FCr, FDc.PolyFill == 1 ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        cairo_clip(FCr);
        return;
      }
      if (type != EMR_STROKEPATH) FillCurrent(type == EMR_STROKEANDFILLPATH);
      if (type != EMR_FILLPATH) StrokeCurrent(false);
      cairo_new_path(FCr);
      return;
    }
    case EMR_INTERSECTCLIPRECT: ClipRect(r, false); return;
    case EMR_EXCLUDECLIPRECT: ClipRect(r, true); return;
    case EMR_EXTSELECTCLIPRGN: {
      uint32_t cb = r.U32(8), mode = r.U32(12);
      if (mode == RGN_COPY || cb == 0) ResetClip();
      if (cb < 32 || !r.Has(16, cb)) return;
      uint32_t count = r.U32(24);
      if (!r.Has(48, size_t(count) * 16)) return;
      // Region rectangles are in device units of the reference device.
      cairo_new_path(FCr);
      for (uint32_t i = 0; i < count; ++i) {
        double pts[4] = {double(r.I32(48 + i * 16)), double(r.I32(52 + i * 16)), double(r.I32(56 + i * 16)),
                         double(r.I32(60 + i * 16))};
        double x0 = pts[0], y0 = pts[1], x1 = pts[2], y1 = pts[3];
        cairo_matrix_transform_point(&FBase, &x0, &y0);
        cairo_matrix_transform_point(&FBase, &x1, &y1);
        cairo_rectangle(FCr, Clamp(x0), Clamp(y0), Clamp(x1) - Clamp(x0), Clamp(y1) - Clamp(y0));
      }
      cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
      cairo_clip(FCr);
      return;
    }
    case EMR_SAVEDC:
      if (FSaved.size() >= kMaxSaveDepth) return;
      FSaved.push_back(FDc);
      cairo_save(FCr);
      return;
    case EMR_RESTOREDC: {
      int32_t n = r.I32(8);
      size_t target;
      if (n < 0) target = size_t(-int64_t(n)) > FSaved.size() ? FSaved.size() + 1 : FSaved.size() - size_t(-int64_t(n));
      else target = n >= 1 ? size_t(n) - 1 : FSaved.size() + 1;
      if (target >= FSaved.size()) return;
      while (FSaved.size() > target + 1) {
        FSaved.pop_back();
        cairo_restore(FCr);
      }
      FDc = FSaved.back();
      FSaved.pop_back();
      cairo_restore(FCr);
      UpdateMatrix();
      return;
    }
    case EMR_CREATEPEN: {
      Object* o = NewObject(r.U32(8), Object::PenObj);
      if (!o) return;
      uint32_t style = r.U32(12);
      o->P.Style = int(style & 0xF);
      o->P.Width = r.I32(16);
      o->P.Geometric = o->P.Width > 1;
      o->P.Color = r.U32(24);
      return;
    }
    case EMR_EXTCREATEPEN: {
      Object* o = NewObject(r.U32(8), Object::PenObj);
      if (!o) return;
      uint32_t style = r.U32(28);
      o->P.Style = int(style & 0xF);
      o->P.Geometric = (style & 0xF0000) != 0;
      uint32_t cap = style & 0xF00, join = style & 0xF000;
      o->P.Cap = cap == 0x100 ? CAIRO_LINE_CAP_SQUARE : cap == 0x200 ? CAIRO_LINE_CAP_BUTT : CAIRO_LINE_CAP_ROUND;
      o->P.Join = join == 0x1000 ? CAIRO_LINE_JOIN_BEVEL : join == 0x2000 ? CAIRO_LINE_JOIN_MITER : CAIRO_LINE_JOIN_ROUND;
      o->P.Width = r.U32(32);
      o->P.Color = r.U32(40);
      if (r.U32(36) == BS_NULL) o->P.Style = PS_NULL;
      uint32_t entries = std::min<uint32_t>(r.U32(48), 16);
      for (uint32_t i = 0; i < entries && r.Has(52 + i * 4, 4); ++i) o->P.Dashes.push_back(r.U32(52 + i * 4));
      if (o->P.Style == PS_USERSTYLE && o->P.Dashes.empty()) o->P.Style = PS_SOLID;
      return;
    }
    case EMR_CREATEBRUSHINDIRECT: {
      Object* o = NewObject(r.U32(8), Object::BrushObj);
      if (!o) return;
      o->B.Style = int(r.U32(12));
      o->B.Color = r.U32(16);
      o->B.Hatch = int(r.U32(20));
      if (o->B.Style != BS_NULL && o->B.Style != BS_HATCHED) o->B.Style = BS_SOLID;
      return;
    }
    case EMR_CREATEDIBPATTERNBRUSHPT:
    case EMR_CREATEMONOBRUSH: {
      Object* o = NewObject(r.U32(8), Object::BrushObj);
      if (!o) return;
      bool bottomUp;
      cairo_surface_t* img = DecodeDib(r, r.U32(16), r.U32(20), r.U32(24), r.U32(28), false, bottomUp);
      if (!img) return;
      cairo_pattern_t* pat = cairo_pattern_create_for_surface(img);
      cairo_surface_destroy(img);
      cairo_pattern_set_extend(pat, CAIRO_EXTEND_REPEAT);
      cairo_matrix_t m;
      cairo_matrix_init_translate(&m, -FX, -FY);  // the pattern starts at the output's origin
      cairo_pattern_set_matrix(pat, &m);
      o->B.Pattern = std::shared_ptr<cairo_pattern_t>(pat, cairo_pattern_destroy);
      o->B.Style = BS_DIBPATTERNPT;
      return;
    }
    case EMR_EXTCREATEFONTINDIRECTW: {
      Object* o = NewObject(r.U32(8), Object::FontObj);
      if (!o) return;
      Font& f = o->F;
      f.Height = r.I32(12);
      f.Width = r.I32(16);
      f.Escapement = r.I32(20);
      f.Weight = r.I32(28);
      f.Italic = r.U8(32) != 0;
      f.Underline = r.U8(33) != 0;
      f.StrikeOut = r.U8(34) != 0;
      std::u16string face;
      for (size_t i = 0; i < 32 && r.Has(40 + i * 2, 2); ++i) {
        char16_t ch = char16_t(r.U16(40 + i * 2));
        if (!ch) break;
        face.push_back(ch);
      }
      f.Face.clear();
      for (char16_t ch : face) {  // face names are ASCII in practice; others pass through as UTF-8
        if (ch < 0x80) f.Face.push_back(char(ch));
        else if (ch < 0x800) f.Face.push_back(char(0xC0 | ch >> 6)), f.Face.push_back(char(0x80 | (ch & 0x3F)));
        else f.Face.push_back(char(0xE0 | ch >> 12)), f.Face.push_back(char(0x80 | (ch >> 6 & 0x3F))), f.Face.push_back(char(0x80 | (ch & 0x3F)));
      }
      return;
    }
    case EMR_SELECTOBJECT: {
      uint32_t ih = r.U32(8);
      if (ih & 0x80000000u) {
        SelectStock(ih & 0x7FFFFFFF);
        return;
      }
      if (ih >= FObjects.size()) return;
      const Object& o = FObjects[ih];
      if (o.K == Object::PenObj) FDc.CurPen = o.P;
      else if (o.K == Object::BrushObj) FDc.CurBrush = o.B;
      else if (o.K == Object::FontObj) FDc.CurFont = o.F;
      return;
    }
    case EMR_DELETEOBJECT: {
      uint32_t ih = r.U32(8);
      if (ih < FObjects.size()) FObjects[ih] = Object{};
      return;
    }
    case EMR_EXTTEXTOUTW: Text(r, true); return;
    case EMR_EXTTEXTOUTA: Text(r, false); return;
    case EMR_STRETCHDIBITS:
      Image(r, r.I32(24), r.I32(28), r.I32(72), r.I32(76), r.I32(32), r.I32(36), r.I32(40), r.I32(44), r.U32(48),
            r.U32(52), r.U32(56), r.U32(60), r.U32(68), false);
      return;
    case EMR_SETDIBITSTODEVICE:
      Image(r, r.I32(24), r.I32(28), r.I32(40), r.I32(44), r.I32(32), r.I32(36), r.I32(40), r.I32(44), r.U32(48),
            r.U32(52), r.U32(56), r.U32(60), 0x00CC0020, false);
      return;
    case EMR_BITBLT:
      Image(r, r.I32(24), r.I32(28), r.I32(32), r.I32(36), r.I32(44), r.I32(48), r.I32(32), r.I32(36), r.U32(84),
            r.U32(88), r.U32(92), r.U32(96), r.U32(40), false);
      return;
    case EMR_STRETCHBLT:
      Image(r, r.I32(24), r.I32(28), r.I32(32), r.I32(36), r.I32(44), r.I32(48), r.I32(100), r.I32(104), r.U32(84),
            r.U32(88), r.U32(92), r.U32(96), r.U32(40), false);
      return;
    case EMR_ALPHABLEND:
      Image(r, r.I32(24), r.I32(28), r.I32(32), r.I32(36), r.I32(44), r.I32(48), r.I32(100), r.I32(104), r.U32(84),
            r.U32(88), r.U32(92), r.U32(96), 0x00CC0020, (r.U32(40) >> 24 & 1) != 0);
      return;
    default:
      ++FStats.Skipped;
      return;
  }
}

}  // namespace

TkxEmfPlayStats PlayEnhMetafile(cairo_t* cr, const std::string& emf, double x, double y, double w, double h) {
  if (!cr || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) return {};
  Player p(cr, emf, x, y, w, h);
  return p.Play();
}

}  // namespace kx
