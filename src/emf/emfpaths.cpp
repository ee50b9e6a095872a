// Paths, shapes and clipping: lines, polygons, beziers, rectangles, ellipses and arcs,
// path brackets, and the clip from paths, rectangles and regions.
#include <algorithm>

#include "emf/emfplay.h"

namespace kx::emfplay {

using namespace emf;

void TPlayer::MoveTo(const TRecord& r) {
  FDc.CurX = r.I32(point::X), FDc.CurY = r.I32(point::Y);
  double x, y;
  Tx(FDc.CurX, FDc.CurY, x, y);
  if (FInPath) cairo_move_to(FCr, x, y);
}

void TPlayer::LineTo(const TRecord& r) {
  double x0, y0, x1, y1;
  if (!FInPath) cairo_new_path(FCr);
  if (!FInPath || !cairo_has_current_point(FCr)) {
    Tx(FDc.CurX, FDc.CurY, x0, y0);
    cairo_move_to(FCr, x0, y0);
  }
  FDc.CurX = r.I32(point::X), FDc.CurY = r.I32(point::Y);
  Tx(FDc.CurX, FDc.CurY, x1, y1);
  cairo_line_to(FCr, x1, y1);
  if (!FInPath) StrokeCurrent(false);
}

void TPlayer::Poly(const TRecord& r) {
  uint32_t t = r.Type;
  bool small = t >= EMR_POLYBEZIER16;
  bool polygon = t == EMR_POLYGON || t == EMR_POLYGON16;
  bool bezier = t == EMR_POLYBEZIER || t == EMR_POLYBEZIER16 || t == EMR_POLYBEZIERTO || t == EMR_POLYBEZIERTO16;
  bool to = t == EMR_POLYBEZIERTO || t == EMR_POLYBEZIERTO16 || t == EMR_POLYLINETO || t == EMR_POLYLINETO16;
  if (!FInPath) cairo_new_path(FCr);
  AddPoints(r, poly::Points, r.U32(poly::Count), small, bezier, to);
  if (polygon)
    FillAndStroke(true);
  else if (!FInPath)
    StrokeCurrent(false);
}

void TPlayer::PolyPoly(const TRecord& r) {
  bool small = r.Type == EMR_POLYPOLYGON16 || r.Type == EMR_POLYPOLYLINE16;
  bool polygon = r.Type == EMR_POLYPOLYGON || r.Type == EMR_POLYPOLYGON16;
  size_t step = small ? points::Size : pointl::Size;
  uint32_t polys = r.U32(polypoly::Polys);
  if (!r.Has(polypoly::Counts, size_t(polys) * sizeof(uint32_t))) return;
  size_t off = polypoly::Counts + size_t(polys) * sizeof(uint32_t);
  if (!FInPath) cairo_new_path(FCr);
  for (uint32_t p = 0; p < polys; ++p) {
    uint32_t count = r.U32(polypoly::Counts + size_t(p) * sizeof(uint32_t));
    if (!r.Has(off, size_t(count) * step)) break;
    AddPoints(r, off, count, small, false, false);
    if (polygon) cairo_close_path(FCr);
    off += size_t(count) * step;
  }
  if (FInPath) return;
  if (polygon) FillCurrent(true);
  StrokeCurrent(false);
}

void TPlayer::Rectangle(const TRecord& r) {
  if (!FInPath) cairo_new_path(FCr);
  Rect(r.I32(box::Left), r.I32(box::Top), r.I32(box::Right), r.I32(box::Bottom));
  FillAndStroke(false);
}

void TPlayer::RoundRect(const TRecord& r) {
  double l = r.I32(box::Left), t = r.I32(box::Top), rr = r.I32(box::Right), b = r.I32(box::Bottom);
  double cw = std::min(std::abs(r.I32(box::CornerW)) / 2.0, std::abs(rr - l) / 2);
  double ch = std::min(std::abs(r.I32(box::CornerH)) / 2.0, std::abs(b - t) / 2);
  if (!FInPath) cairo_new_path(FCr);
  if (cw < 1e-9 || ch < 1e-9) {
    Rect(l, t, rr, b);
  } else {
    cairo_matrix_t check = FM;
    if (cairo_matrix_invert(&check) != CAIRO_STATUS_SUCCESS) return;
    TkxSavedState keep(FCr);
    cairo_set_matrix(FCr, &FM);
    double x0 = std::min(l, rr), y0 = std::min(t, b), x1 = std::max(l, rr), y1 = std::max(t, b);
    cairo_new_sub_path(FCr);
    auto corner = [&](double cx, double cy, double a0) {
      TkxSavedState unit(FCr);
      cairo_translate(FCr, cx, cy);
      cairo_scale(FCr, cw, ch);
      cairo_arc(FCr, 0, 0, 1, a0, a0 + M_PI / 2);
    };
    corner(x1 - cw, y0 + ch, -M_PI / 2);
    corner(x1 - cw, y1 - ch, 0);
    corner(x0 + cw, y1 - ch, M_PI / 2);
    corner(x0 + cw, y0 + ch, M_PI);
    cairo_close_path(FCr);
  }
  FillAndStroke(false);
}

void TPlayer::Ellipse(const TRecord& r) {
  if (!FInPath) cairo_new_path(FCr);
  EllipsePath(r.I32(box::Left), r.I32(box::Top), r.I32(box::Right), r.I32(box::Bottom));
  FillAndStroke(false);
}

void TPlayer::Arc(const TRecord& r) {
  if (!FInPath) {
    cairo_new_path(FCr);
    if (r.Type == EMR_ARCTO) {
      double x, y;
      Tx(FDc.CurX, FDc.CurY, x, y);
      cairo_move_to(FCr, x, y);
    }
  }
  ArcPath(r);
  if (FInPath) return;
  if (r.Type == EMR_CHORD || r.Type == EMR_PIE) FillCurrent(true);
  StrokeCurrent(false);
}

void TPlayer::BeginPath(const TRecord&) {
  FInPath = true;
  cairo_new_path(FCr);
}

void TPlayer::EndPath(const TRecord&) {
  if (!FInPath) return;
  FInPath = false;
  FPath.reset(cairo_copy_path(FCr));
  cairo_new_path(FCr);
}

void TPlayer::AbortPath(const TRecord&) {
  FInPath = false;
  cairo_new_path(FCr);
  FPath.reset();
}

void TPlayer::CloseFigure(const TRecord&) {
  if (FInPath) cairo_close_path(FCr);
}

void TPlayer::PaintPath(const TRecord& r) {
  if (!FPath) return;
  cairo_new_path(FCr);
  cairo_append_path(FCr, FPath.get());
  FPath.reset();
  if (r.Type != EMR_STROKEPATH) FillCurrent(r.Type == EMR_STROKEANDFILLPATH);
  if (r.Type != EMR_FILLPATH) StrokeCurrent(false);
  cairo_new_path(FCr);
}

void TPlayer::SelectClipPath(const TRecord& r) {
  if (!FPath) return;
  TkxPath path = std::move(FPath);
  uint32_t mode = r.U32(value::Value);
  if (mode == RGN_COPY) ResetClip();
  cairo_new_path(FCr);
  if (mode == RGN_DIFF) cairo_rectangle(FCr, -kMaxCoord, -kMaxCoord, 2 * kMaxCoord, 2 * kMaxCoord);
  cairo_append_path(FCr, path.get());
  // The difference takes the path out of everything; the other modes narrow the clip to it.
  ClipToCurrent(mode == RGN_DIFF || FDc.PolyFill == ALTERNATE);
}

void TPlayer::ClipRect(const TRecord& r) {
  bool exclude = r.Type == EMR_EXCLUDECLIPRECT;
  cairo_new_path(FCr);
  if (exclude) cairo_rectangle(FCr, -kMaxCoord, -kMaxCoord, 2 * kMaxCoord, 2 * kMaxCoord);
  Rect(r.I32(box::Left), r.I32(box::Top), r.I32(box::Right), r.I32(box::Bottom));
  ClipToCurrent(exclude);
}

void TPlayer::SelectClipRegion(const TRecord& r) {
  uint32_t cb = r.U32(cliprgn::CbRgnData), mode = r.U32(cliprgn::Mode);
  if (mode == RGN_COPY || cb == 0) ResetClip();
  if (cb < cliprgn::RgnHeaderSize || !r.Has(cliprgn::RgnData, cb)) return;
  uint32_t count = r.U32(cliprgn::RgnCount);
  if (!r.Has(cliprgn::Rects, size_t(count) * rectl::Size)) return;
  // Region rectangles are in device units of the reference device.
  cairo_new_path(FCr);
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = cliprgn::Rects + size_t(i) * rectl::Size;
    double x0 = r.I32(at + rectl::Left), y0 = r.I32(at + rectl::Top);
    double x1 = r.I32(at + rectl::Right), y1 = r.I32(at + rectl::Bottom);
    cairo_matrix_transform_point(&FBase, &x0, &y0);
    cairo_matrix_transform_point(&FBase, &x1, &y1);
    cairo_rectangle(FCr, Clamp(x0), Clamp(y0), Clamp(x1) - Clamp(x0), Clamp(y1) - Clamp(y0));
  }
  ClipToCurrent(false);
}

void TPlayer::ClipToCurrent(bool evenOdd) {
  cairo_set_fill_rule(FCr, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  cairo_clip(FCr);
}

void TPlayer::ResetClip() {
  cairo_reset_clip(FCr);
  cairo_new_path(FCr);
  cairo_rectangle(FCr, std::min(FX, FX + FW), std::min(FY, FY + FH), std::abs(FW), std::abs(FH));
  cairo_clip(FCr);
}

void TPlayer::AddPoints(const TRecord& r, size_t off, uint32_t count, bool small, bool bezier, bool fromCurrent) {
  size_t step = small ? points::Size : pointl::Size;
  if (!r.Has(off, size_t(count) * step)) count = uint32_t((r.N > off ? r.N - off : 0) / step);
  auto pt = [&](uint32_t i, double& x, double& y) {
    size_t o = off + i * step;
    double lx = small ? r.I16(o + points::X) : r.I32(o + pointl::X);
    double ly = small ? r.I16(o + points::Y) : r.I32(o + pointl::Y);
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

void TPlayer::Rect(double l, double t, double r, double b) {
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

void TPlayer::EllipsePath(double l, double t, double r, double b) {
  // A unit circle through the logical transform becomes the (possibly skewed) ellipse.
  double rx = std::abs(r - l) / 2, ry = std::abs(b - t) / 2;
  if (rx < 1e-9 || ry < 1e-9) return;
  cairo_matrix_t m = FM;
  cairo_matrix_translate(&m, (l + r) / 2, (t + b) / 2);
  cairo_matrix_scale(&m, rx, ry);
  cairo_matrix_t check = m;
  if (cairo_matrix_invert(&check) != CAIRO_STATUS_SUCCESS) return;
  TkxSavedState keep(FCr);
  cairo_set_matrix(FCr, &m);
  cairo_new_sub_path(FCr);
  cairo_arc(FCr, 0, 0, 1, 0, 2 * M_PI);
  cairo_close_path(FCr);
}

void TPlayer::ArcPath(const TRecord& r) {
  double l = r.I32(box::Left), t = r.I32(box::Top), rr = r.I32(box::Right), b = r.I32(box::Bottom);
  double cx = (l + rr) / 2, cy = (t + b) / 2, rx = std::abs(rr - l) / 2, ry = std::abs(b - t) / 2;
  if (rx < 1e-9 || ry < 1e-9) return;
  double a1 = std::atan2((r.I32(box::StartY) - cy) / ry, (r.I32(box::StartX) - cx) / rx);
  double a2 = std::atan2((r.I32(box::EndY) - cy) / ry, (r.I32(box::EndX) - cx) / rx);
  cairo_matrix_t m = FM;
  cairo_matrix_translate(&m, cx, cy);
  cairo_matrix_scale(&m, rx, ry);
  cairo_matrix_t check = m;
  if (cairo_matrix_invert(&check) != CAIRO_STATUS_SUCCESS) return;
  {
    TkxSavedState keep(FCr);
    cairo_set_matrix(FCr, &m);
    // Arcs run counter-clockwise on the screen unless the direction says otherwise;
    // with y pointing down in logical space that is decreasing angle.
    bool screenCcw = !FDc.Clockwise;
    bool yDown = FM.yy > 0;
    if (r.Type == EMR_PIE) cairo_move_to(FCr, 0, 0);
    if (r.Type == EMR_ARCTO) {
      double sx = std::cos(a1), sy = std::sin(a1);
      if (cairo_has_current_point(FCr))
        cairo_line_to(FCr, sx, sy);
      else
        cairo_move_to(FCr, sx, sy);
    } else if (r.Type != EMR_PIE) {
      cairo_new_sub_path(FCr);
    }
    if (screenCcw == yDown)
      cairo_arc_negative(FCr, 0, 0, 1, a1, a2);
    else
      cairo_arc(FCr, 0, 0, 1, a1, a2);
    if (r.Type == EMR_PIE || r.Type == EMR_CHORD) cairo_close_path(FCr);
  }
  if (r.Type == EMR_ARCTO) {
    FDc.CurX = cx + rx * std::cos(a2);
    FDc.CurY = cy + ry * std::sin(a2);
  }
}

}  // namespace kx::emfplay
