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

namespace kx::emfplay {

using namespace emf;

// EMR_GRADIENTFILL. Rectangles that lie side by side along their ramp are drawn as one
// ramp, so no seam shows where two meet; triangles as one mesh.
void TPlayer::GradientFill(const TRecord& r) {
  using namespace gradient;
  uint32_t nv = r.U32(Vertices), ns = r.U32(Shapes), mode = r.U32(Mode);
  size_t shapeSize = mode == GRADIENT_FILL_TRIANGLE ? 12 : 8;
  if (!Visible() || mode > GRADIENT_FILL_TRIANGLE || nv > r.N / VertexSize || ns > r.N / shapeSize ||
      !r.Has(MinSize, size_t(nv) * VertexSize + size_t(ns) * shapeSize))
    return;
  std::vector<TGradientVertex> v(nv);
  for (uint32_t i = 0; i < nv; ++i) {
    size_t at = MinSize + size_t(i) * VertexSize;
    v[i].X = r.I32(at), v[i].Y = r.I32(at + 4);
    for (int c = 0; c < 3; ++c) v[i].C[c] = std::min(1.0, r.U16(at + 8 + 2 * size_t(c)) / 65280.0);
  }
  size_t shapes = MinSize + size_t(nv) * VertexSize;
  TkxSavedState keep(FCr);
  cairo_new_path(FCr);
  if (mode == GRADIENT_FILL_TRIANGLE) {
    GradientTriangles(r, shapes, ns, v);
    return;
  }
  // Each rectangle along its ramp: from lo to hi, across from a to b, colours at lo and hi.
  bool across = mode == GRADIENT_FILL_RECT_H;
  struct TRamp {
    double Lo, Hi, A, B;
    const double *CLo, *CHi;
  };
  std::vector<TRamp> ramps;
  for (uint32_t i = 0; i < ns; ++i) {
    uint32_t k0 = r.U32(shapes + 8 * i), k1 = r.U32(shapes + 8 * i + 4);
    if (k0 >= nv || k1 >= nv) continue;
    const TGradientVertex &p = v[k0], &q = v[k1];
    double pl = across ? p.X : p.Y, ql = across ? q.X : q.Y, pa = across ? p.Y : p.X, qa = across ? q.Y : q.X;
    if (pl == ql || pa == qa) continue;
    ramps.push_back({std::min(pl, ql), std::max(pl, ql), std::min(pa, qa), std::max(pa, qa), pl < ql ? p.C : q.C,
                     pl < ql ? q.C : p.C});
  }
  if (ramps.empty()) return;
  std::sort(ramps.begin(), ramps.end(), [](const TRamp& a, const TRamp& b) { return a.Lo < b.Lo; });
  bool joined = true;
  for (size_t i = 1; i < ramps.size() && joined; ++i)
    joined = ramps[i].Lo == ramps[i - 1].Hi && ramps[i].A == ramps[0].A && ramps[i].B == ramps[0].B;
  auto point = [&](double along, double acrossAt, double& x, double& y) {
    Tx(across ? along : acrossAt, across ? acrossAt : along, x, y);
  };
  auto fill = [&](const TRamp* first, const TRamp* last) {
    double x0, y0, x1, y1, x2, y2, x3, y3;
    point(first->Lo, first->A, x0, y0);
    point(last->Hi, first->A, x1, y1);
    point(last->Hi, first->B, x2, y2);
    point(first->Lo, first->B, x3, y3);
    TkxPattern ramp(cairo_pattern_create_linear(x0, y0, x1, y1));
    double span = last->Hi - first->Lo;
    for (const TRamp* p = first; p <= last; ++p) {
      cairo_pattern_add_color_stop_rgb(ramp.get(), (p->Lo - first->Lo) / span, p->CLo[0], p->CLo[1], p->CLo[2]);
      cairo_pattern_add_color_stop_rgb(ramp.get(), (p->Hi - first->Lo) / span, p->CHi[0], p->CHi[1], p->CHi[2]);
    }
    cairo_pattern_set_extend(ramp.get(), CAIRO_EXTEND_PAD);
    cairo_new_path(FCr);
    cairo_move_to(FCr, x0, y0);
    cairo_line_to(FCr, x1, y1);
    cairo_line_to(FCr, x2, y2);
    cairo_line_to(FCr, x3, y3);
    cairo_close_path(FCr);
    cairo_set_source(FCr, ramp.get());
    cairo_fill(FCr);
  };
  cairo_identity_matrix(FCr);
  if (joined) {
    fill(&ramps.front(), &ramps.back());
    return;
  }
  // Apart: each on its own, edges on whole pixels so that neighbours neither gap nor overlap.
  cairo_set_antialias(FCr, CAIRO_ANTIALIAS_NONE);
  for (const TRamp& p : ramps) fill(&p, &p);
}

}  // namespace kx::emfplay

namespace kx::emfplay {

void TPlayer::GradientTriangles(const TRecord& r, size_t shapes, uint32_t count,
                                const std::vector<TGradientVertex>& v) {
  TkxPattern mesh(cairo_pattern_create_mesh());
  size_t nv = v.size();
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t k[3] = {r.U32(shapes + 12 * i), r.U32(shapes + 12 * i + 4), r.U32(shapes + 12 * i + 8)};
    if (k[0] >= nv || k[1] >= nv || k[2] >= nv) continue;
    cairo_mesh_pattern_begin_patch(mesh.get());
    for (int c = 0; c < 3; ++c) {
      double x, y;
      Tx(v[k[c]].X, v[k[c]].Y, x, y);
      if (c == 0)
        cairo_mesh_pattern_move_to(mesh.get(), x, y);
      else
        cairo_mesh_pattern_line_to(mesh.get(), x, y);
    }
    for (unsigned c = 0; c < 3; ++c)
      cairo_mesh_pattern_set_corner_color_rgb(mesh.get(), c, v[k[c]].C[0], v[k[c]].C[1], v[k[c]].C[2]);
    cairo_mesh_pattern_end_patch(mesh.get());
  }
  cairo_identity_matrix(FCr);
  cairo_set_source(FCr, mesh.get());
  cairo_paint(FCr);
}

}  // namespace kx::emfplay
