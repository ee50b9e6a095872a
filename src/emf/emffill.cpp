// Fills and strokes of the current path: brushes (solid, hatched, patterns), hairline
// slivers, pens with their widths, dashes, caps and joins.
#include <algorithm>

#include "emf/emfplay.h"

namespace kx::emfplay {

using namespace emf;

void TPlayer::FillAndStroke(bool close) {
  if (close) cairo_close_path(FCr);
  if (FInPath) return;  // the path keeps collecting until EndPath
  FillCurrent(true);
  StrokeCurrent(false);
}

void TPlayer::FillCurrent(bool preserve) {
  const TBrush& b = FDc.CurBrush;
  cairo_set_fill_rule(FCr, FDc.PolyFill == ALTERNATE ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  if (b.Style == BS_NULL || !Visible()) {
    if (!preserve) cairo_new_path(FCr);
    return;
  }
  if (b.Style == BS_HATCHED && !b.Pattern) {
    FillHatched(preserve);
    return;
  }
  if (b.Pattern)
    cairo_set_source(FCr, b.Pattern.get());
  else
    SetColor(FCr, FDc.Rop2 == R2_BLACK ? 0 : FDc.Rop2 == R2_WHITE ? 0xFFFFFF : b.Color);
  FillHairline(preserve);
}

void TPlayer::FillHatched(bool preserve) {
  const TBrush& b = FDc.CurBrush;
  if (FDc.BkMode == OPAQUE) {
    SetColor(FCr, FDc.BkColor);
    cairo_fill_preserve(FCr);
  }
  // Hatch lines 8 pixels apart, drawn through the shape.
  double x1, y1, x2, y2;
  cairo_fill_extents(FCr, &x1, &y1, &x2, &y2);
  {
    TkxSavedState keep(FCr);
    cairo_clip_preserve(FCr);
    cairo_new_path(FCr);
    int h = b.Hatch;
    if ((x2 - x1) * (y2 - y1) < 1e8) {
      for (double x = std::floor(x1 / 8) * 8; x <= x2 && (h == HS_VERTICAL || h == HS_CROSS); x += 8) {
        cairo_move_to(FCr, x + 0.5, y1);
        cairo_line_to(FCr, x + 0.5, y2);
      }
      for (double y = std::floor(y1 / 8) * 8; y <= y2 && (h == HS_HORIZONTAL || h == HS_CROSS); y += 8) {
        cairo_move_to(FCr, x1, y + 0.5);
        cairo_line_to(FCr, x2, y + 0.5);
      }
      double span = (x2 - x1) + (y2 - y1);
      for (double d = -span; d <= span && (h == HS_FDIAGONAL || h == HS_BDIAGONAL || h == HS_DIAGCROSS); d += 8) {
        if (h == HS_FDIAGONAL || h == HS_DIAGCROSS) {
          cairo_move_to(FCr, x1 + d, y2);
          cairo_line_to(FCr, x1 + d + (y2 - y1), y1);
        }
        if (h == HS_BDIAGONAL || h == HS_DIAGCROSS) {
          cairo_move_to(FCr, x1 + d, y1);
          cairo_line_to(FCr, x1 + d + (y2 - y1), y2);
        }
      }
    }
    SetColor(FCr, b.Color);
    cairo_set_line_width(FCr, 1);
    cairo_stroke(FCr);
  }
  if (!preserve) cairo_new_path(FCr);
}

void TPlayer::FillHairline(bool preserve) {
  // A hairline that arrives as a filled sliver thinner than a pixel is drawn one
  // pixel wide on the pixel grid, as PDF renderers draw hairlines.
  double x1, y1, x2, y2;
  cairo_path_extents(FCr, &x1, &y1, &x2, &y2);
  if ((x2 - x1 < 1 || y2 - y1 < 1) && x2 >= x1 && y2 >= y1) {
    double l = std::floor(x1), t = std::floor(y1), r = std::ceil(x2), bt = std::ceil(y2);
    // Edges to the nearest pixel boundary, and one pixel where they meet.
    if (x2 - x1 < 1) l = std::round(x1), r = std::max(std::round(x2), l + 1);
    if (y2 - y1 < 1) t = std::round(y1), bt = std::max(std::round(y2), t + 1);
    TkxPath keep(preserve ? cairo_copy_path(FCr) : nullptr);
    cairo_new_path(FCr);
    cairo_rectangle(FCr, l, t, r - l, bt - t);
    cairo_fill(FCr);
    if (keep) cairo_append_path(FCr, keep.get());
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

double TPlayer::MeanWidth() const {
  // Twice the area over the perimeter of the flattened path; -1 when it has none.
  TkxPath path(cairo_copy_path_flat(FCr));
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
  return perimeter > 0 ? 2 * total / perimeter : -1;
}

double TPlayer::PenWidthPx() const {
  const TPen& p = FDc.CurPen;
  if (p.Width <= 0 || (!p.Geometric && p.Width <= 1)) return 1.0;
  double w = p.Width * (ScaleX() + ScaleY()) / 2;
  return std::clamp(std::isfinite(w) ? w : 1.0, 1.0, 1e5);
}

void TPlayer::ApplyPenColor() {
  if (FDc.Rop2 == R2_BLACK)
    SetColor(FCr, 0);
  else if (FDc.Rop2 == R2_WHITE)
    SetColor(FCr, 0xFFFFFF);
  else
    SetColor(FCr, FDc.CurPen.Color);
}

void TPlayer::StrokeCurrent(bool preserve) {
  const TPen& p = FDc.CurPen;
  if (p.Style == PS_NULL || !Visible()) {
    if (!preserve) cairo_new_path(FCr);
    return;
  }
  double w = PenWidthPx();
  cairo_set_line_width(FCr, w);
  if (w <= 1.5) {
    // Thin lines on pixel centres, so that they stay crisp instead of two grey pixels:
    // on the pixel where the line's own (maybe thinner) left or top edge rounds to, as
    // PDF renderers adjust strokes.
    double edge = p.Geometric && p.Width > 0 ? std::min(w, p.Width * (ScaleX() + ScaleY()) / 2) / 2 : 0.5;
    TkxPath path(cairo_copy_path(FCr));
    for (int i = 0; path->status == CAIRO_STATUS_SUCCESS && i < path->num_data; i += path->data[i].header.length) {
      cairo_path_data_t* d = &path->data[i];
      int points = d->header.type == CAIRO_PATH_CURVE_TO ? 3 : d->header.type == CAIRO_PATH_CLOSE_PATH ? 0 : 1;
      for (int k = 1; k <= points; ++k) {
        d[k].point.x = std::round(d[k].point.x - edge) + 0.5;
        d[k].point.y = std::round(d[k].point.y - edge) + 0.5;
      }
    }
    cairo_new_path(FCr);
    cairo_append_path(FCr, path.get());
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

}  // namespace kx::emfplay
