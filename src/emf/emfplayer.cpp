// Record walking and the device context: the header's mapping onto the destination,
// map modes, origins, extents, the world transform, saved states and the objects.
#include "emf/emfplayer.h"

#include <algorithm>
#include <array>

#include "emf/emfplay.h"
#include "platform/text.h"

namespace kx {

namespace emfplay {

using namespace emf;

void SetColor(cairo_t* cr, uint32_t colorref) {
  cairo_set_source_rgb(cr, (colorref & 0xFF) / 255.0, (colorref >> 8 & 0xFF) / 255.0, (colorref >> 16 & 0xFF) / 255.0);
}

TPlayer::TPlayer(cairo_t* cr, const std::string& emf, double x, double y, double w, double h)
    : FCr(cr), FData(reinterpret_cast<const uint8_t*>(emf.data())), FSize(emf.size()), FX(x), FY(y), FW(w), FH(h) {}

TPlayer::THandler TPlayer::HandlerOf(uint32_t type) {
  static const auto table = [] {
    std::array<THandler, EMR_GRADIENTFILL + 1> t{};
    auto on = [&t](std::initializer_list<uint32_t> types, THandler h) {
      for (uint32_t k : types) t[k] = h;
    };
    on({EMR_HEADER, EMR_GDICOMMENT, EMR_SETSTRETCHBLTMODE, EMR_FLATTENPATH, EMR_WIDENPATH}, &TPlayer::Ignore);
    on({EMR_SETMAPMODE}, &TPlayer::SetMapMode);
    on({EMR_SETWINDOWEXTEX, EMR_SETVIEWPORTEXTEX}, &TPlayer::SetExtent);
    on({EMR_SETWINDOWORGEX, EMR_SETVIEWPORTORGEX}, &TPlayer::SetOrigin);
    on({EMR_SCALEVIEWPORTEXTEX, EMR_SCALEWINDOWEXTEX}, &TPlayer::ScaleExtent);
    on({EMR_SETWORLDTRANSFORM, EMR_MODIFYWORLDTRANSFORM}, &TPlayer::WorldTransform);
    on({EMR_SETBKMODE, EMR_SETPOLYFILLMODE, EMR_SETROP2, EMR_SETTEXTALIGN, EMR_SETTEXTCOLOR, EMR_SETBKCOLOR,
        EMR_SETMITERLIMIT, EMR_SETARCDIRECTION},
       &TPlayer::SetValue);
    on({EMR_SAVEDC}, &TPlayer::SaveDc);
    on({EMR_RESTOREDC}, &TPlayer::RestoreDc);
    on({EMR_CREATEPEN}, &TPlayer::CreatePen);
    on({EMR_EXTCREATEPEN}, &TPlayer::ExtCreatePen);
    on({EMR_CREATEBRUSHINDIRECT}, &TPlayer::CreateBrush);
    on({EMR_CREATEDIBPATTERNBRUSHPT, EMR_CREATEMONOBRUSH}, &TPlayer::CreatePatternBrush);
    on({EMR_EXTCREATEFONTINDIRECTW}, &TPlayer::CreateFont);
    on({EMR_SELECTOBJECT}, &TPlayer::SelectObject);
    on({EMR_DELETEOBJECT}, &TPlayer::DeleteObject);
    on({EMR_MOVETOEX}, &TPlayer::MoveTo);
    on({EMR_LINETO}, &TPlayer::LineTo);
    on({EMR_POLYGON, EMR_POLYGON16, EMR_POLYLINE, EMR_POLYLINE16, EMR_POLYBEZIER, EMR_POLYBEZIER16, EMR_POLYBEZIERTO,
        EMR_POLYBEZIERTO16, EMR_POLYLINETO, EMR_POLYLINETO16},
       &TPlayer::Poly);
    on({EMR_POLYPOLYGON, EMR_POLYPOLYGON16, EMR_POLYPOLYLINE, EMR_POLYPOLYLINE16}, &TPlayer::PolyPoly);
    on({EMR_RECTANGLE}, &TPlayer::Rectangle);
    on({EMR_ROUNDRECT}, &TPlayer::RoundRect);
    on({EMR_ELLIPSE}, &TPlayer::Ellipse);
    on({EMR_ARC, EMR_CHORD, EMR_PIE, EMR_ARCTO}, &TPlayer::Arc);
    on({EMR_BEGINPATH}, &TPlayer::BeginPath);
    on({EMR_ENDPATH}, &TPlayer::EndPath);
    on({EMR_ABORTPATH}, &TPlayer::AbortPath);
    on({EMR_CLOSEFIGURE}, &TPlayer::CloseFigure);
    on({EMR_FILLPATH, EMR_STROKEPATH, EMR_STROKEANDFILLPATH}, &TPlayer::PaintPath);
    on({EMR_SELECTCLIPPATH}, &TPlayer::SelectClipPath);
    on({EMR_INTERSECTCLIPRECT, EMR_EXCLUDECLIPRECT}, &TPlayer::ClipRect);
    on({EMR_EXTSELECTCLIPRGN}, &TPlayer::SelectClipRegion);
    on({EMR_EXTTEXTOUTW, EMR_EXTTEXTOUTA}, &TPlayer::ExtTextOut);
    on({EMR_STRETCHDIBITS}, &TPlayer::StretchDiBits);
    on({EMR_SETDIBITSTODEVICE}, &TPlayer::SetDiBitsToDevice);
    on({EMR_BITBLT, EMR_STRETCHBLT}, &TPlayer::BitBlt);
    on({EMR_ALPHABLEND}, &TPlayer::AlphaBlend);
    on({EMR_GRADIENTFILL}, &TPlayer::GradientFill);
    return t;
  }();
  return type < table.size() ? table[type] : nullptr;
}

bool TPlayer::Start() {
  if (FSize < kRecordData || FW == 0 || FH == 0) return false;
  uint32_t first;
  std::memcpy(&first, FData + kRecordSize, 4);
  if (!ReadEmfHeader(std::string(reinterpret_cast<const char*>(FData), std::min<size_t>(FSize, first)), FHeader))
    return false;
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
  return true;
}

TkxEmfPlayStats TPlayer::Play() {
  if (!Start()) {
    FStats.Truncated = true;
    return FStats;
  }
  TkxSavedState outside(FCr);
  cairo_identity_matrix(FCr);
  cairo_new_path(FCr);
  cairo_rectangle(FCr, std::min(FX, FX + FW), std::min(FY, FY + FH), std::abs(FW), std::abs(FH));
  cairo_clip(FCr);
  TkxSavedState playback(FCr);  // the playback's own state, below which RestoreDC never goes
  UpdateMatrix();
  CarriedFonts();

  size_t off = 0;
  while (FSize - off >= kRecordData) {
    uint32_t type, size;
    std::memcpy(&type, FData + off + kRecordType, 4);
    std::memcpy(&size, FData + off + kRecordSize, 4);
    if (size < kRecordData || size > FSize - off) {
      FStats.Truncated = true;
      break;
    }
    ++FStats.Records;
    if (type == EMR_EOF) break;
    if (THandler h = HandlerOf(type))
      (this->*h)(TRecord{type, FData + off, size});
    else
      ++FStats.Skipped;
    off += size;
  }
  for (; !FSaved.empty(); FSaved.pop_back()) cairo_restore(FCr);
  return FStats;
}

void TPlayer::CarriedFonts() {
  // A font the metafile carries may come after the text drawn with it (a page's text
  // is written before the fonts it needed are known).
  for (size_t off = 0; FSize - off >= kRecordData;) {
    uint32_t type, size;
    std::memcpy(&type, FData + off + kRecordType, 4);
    std::memcpy(&size, FData + off + kRecordSize, 4);
    if (size < kRecordData || size > FSize - off || type == EMR_EOF) break;
    if (type == EMR_GDICOMMENT) Comment(TRecord{type, FData + off, size});
    off += size;
  }
}

void TPlayer::UpdateMatrix() {
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

void TPlayer::Tx(double x, double y, double& ox, double& oy) const {
  ox = x, oy = y;
  cairo_matrix_transform_point(&FM, &ox, &oy);
  ox = Clamp(ox), oy = Clamp(oy);
}

void TPlayer::SetMapMode(const TRecord& r) {
  FDc.MapMode = int(r.U32(value::Value));
  UpdateMatrix();
}

void TPlayer::SetExtent(const TRecord& r) {
  if (FDc.MapMode < MM_ISOTROPIC) return;  // the fixed modes keep their extents
  bool window = r.Type == EMR_SETWINDOWEXTEX;
  (window ? FDc.WinExtX : FDc.VpExtX) = r.I32(point::X);
  (window ? FDc.WinExtY : FDc.VpExtY) = r.I32(point::Y);
  UpdateMatrix();
}

void TPlayer::SetOrigin(const TRecord& r) {
  bool window = r.Type == EMR_SETWINDOWORGEX;
  (window ? FDc.WinOrgX : FDc.VpOrgX) = r.I32(point::X);
  (window ? FDc.WinOrgY : FDc.VpOrgY) = r.I32(point::Y);
  UpdateMatrix();
}

void TPlayer::ScaleExtent(const TRecord& r) {
  int32_t xn = r.I32(scale::XNum), xd = r.I32(scale::XDenom), yn = r.I32(scale::YNum), yd = r.I32(scale::YDenom);
  if (xd == 0 || yd == 0) return;
  bool viewport = r.Type == EMR_SCALEVIEWPORTEXTEX;
  double& ex = viewport ? FDc.VpExtX : FDc.WinExtX;
  double& ey = viewport ? FDc.VpExtY : FDc.WinExtY;
  ex = Clamp(ex * xn / xd), ey = Clamp(ey * yn / yd);
  UpdateMatrix();
}

void TPlayer::WorldTransform(const TRecord& r) {
  cairo_matrix_t x;
  cairo_matrix_init(&x, r.F32(xform::M11), r.F32(xform::M12), r.F32(xform::M21), r.F32(xform::M22), r.F32(xform::Dx),
                    r.F32(xform::Dy));
  uint32_t mode = r.Type == EMR_SETWORLDTRANSFORM ? uint32_t(MWT_SET) : r.U32(xform::Mode);
  cairo_matrix_t check = x, t;
  bool invertible = cairo_matrix_invert(&check) == CAIRO_STATUS_SUCCESS;
  if (mode == MWT_IDENTITY) {
    cairo_matrix_init_identity(&FDc.World);
  } else if (!invertible) {
    return;
  } else if (mode == MWT_LEFTMULTIPLY) {
    cairo_matrix_multiply(&t, &x, &FDc.World);
    FDc.World = t;
  } else if (mode == MWT_RIGHTMULTIPLY) {
    cairo_matrix_multiply(&t, &FDc.World, &x);
    FDc.World = t;
  } else if (mode == MWT_SET) {
    FDc.World = x;
  }
  UpdateMatrix();
}

void TPlayer::SetValue(const TRecord& r) {
  uint32_t v = r.U32(value::Value);
  switch (r.Type) {
    case EMR_SETBKMODE: FDc.BkMode = int(v); break;
    case EMR_SETPOLYFILLMODE: FDc.PolyFill = int(v); break;
    case EMR_SETROP2: FDc.Rop2 = int(v); break;
    case EMR_SETTEXTALIGN: FDc.TextAlign = int(v); break;
    case EMR_SETTEXTCOLOR: FDc.TextColor = v; break;
    case EMR_SETBKCOLOR: FDc.BkColor = v; break;
    case EMR_SETMITERLIMIT: FDc.Miter = double(v); break;
    case EMR_SETARCDIRECTION: FDc.Clockwise = v == AD_CLOCKWISE; break;
    default: break;
  }
}

void TPlayer::SaveDc(const TRecord&) {
  if (FSaved.size() >= kMaxSaveDepth) return;
  FSaved.push_back(FDc);
  cairo_save(FCr);
}

void TPlayer::RestoreDc(const TRecord& r) {
  // A negative level counts back from the current state, a positive one names a state.
  int32_t n = r.I32(value::Value);
  size_t target;
  if (n < 0)
    target = size_t(-int64_t(n)) > FSaved.size() ? FSaved.size() + 1 : FSaved.size() - size_t(-int64_t(n));
  else
    target = n >= 1 ? size_t(n) - 1 : FSaved.size() + 1;
  if (target >= FSaved.size()) return;
  while (FSaved.size() > target + 1) {
    FSaved.pop_back();
    cairo_restore(FCr);
  }
  FDc = FSaved.back();
  FSaved.pop_back();
  cairo_restore(FCr);
  UpdateMatrix();
}

TObject* TPlayer::NewObject(uint32_t ih, TObject::Kind kind) {
  if (ih >= kMaxHandles) return nullptr;
  if (ih >= FObjects.size()) FObjects.resize(ih + 1);
  FObjects[ih] = TObject{};
  FObjects[ih].K = kind;
  return &FObjects[ih];
}

void TPlayer::CreatePen(const TRecord& r) {
  TObject* o = NewObject(r.U32(pen::Handle), TObject::Pen);
  if (!o) return;
  o->P.Style = int(r.U32(pen::Style) & PS_STYLE_MASK);
  o->P.Width = r.I32(pen::Width);
  o->P.Geometric = o->P.Width > 1;
  o->P.Color = r.U32(pen::Color);
}

void TPlayer::ExtCreatePen(const TRecord& r) {
  TObject* o = NewObject(r.U32(extpen::Handle), TObject::Pen);
  if (!o) return;
  TPen& p = o->P;
  uint32_t style = r.U32(extpen::Style);
  p.Style = int(style & PS_STYLE_MASK);
  p.Geometric = (style & PS_TYPE_MASK) == PS_GEOMETRIC;
  uint32_t cap = style & PS_ENDCAP_MASK, join = style & PS_JOIN_MASK;
  p.Cap = cap == PS_ENDCAP_SQUARE ? CAIRO_LINE_CAP_SQUARE
          : cap == PS_ENDCAP_FLAT ? CAIRO_LINE_CAP_BUTT
                                  : CAIRO_LINE_CAP_ROUND;
  p.Join = join == PS_JOIN_BEVEL   ? CAIRO_LINE_JOIN_BEVEL
           : join == PS_JOIN_MITER ? CAIRO_LINE_JOIN_MITER
                                   : CAIRO_LINE_JOIN_ROUND;
  p.Width = r.U32(extpen::Width);
  p.Color = r.U32(extpen::Color);
  if (r.U32(extpen::BrushStyle) == BS_NULL) p.Style = PS_NULL;
  uint32_t entries = std::min<uint32_t>(r.U32(extpen::NumEntries), 16);
  for (uint32_t i = 0; i < entries && r.Has(extpen::Entries + i * sizeof(uint32_t), 4); ++i)
    p.Dashes.push_back(r.U32(extpen::Entries + i * sizeof(uint32_t)));
  if (p.Style == PS_USERSTYLE && p.Dashes.empty()) p.Style = PS_SOLID;
}

void TPlayer::CreateBrush(const TRecord& r) {
  TObject* o = NewObject(r.U32(brush::Handle), TObject::Brush);
  if (!o) return;
  o->B.Style = int(r.U32(brush::Style));
  o->B.Color = r.U32(brush::Color);
  o->B.Hatch = int(r.U32(brush::Hatch));
  if (o->B.Style != BS_NULL && o->B.Style != BS_HATCHED) o->B.Style = BS_SOLID;
}

void TPlayer::CreateFont(const TRecord& r) {
  TObject* o = NewObject(r.U32(font::Handle), TObject::Font);
  if (!o) return;
  TFont& f = o->F;
  f.Height = r.I32(font::Height);
  f.Width = r.I32(font::Width);
  f.Escapement = r.I32(font::Escapement);
  f.Weight = r.I32(font::Weight);
  f.Italic = r.U8(font::Italic) != 0;
  f.Underline = r.U8(font::Underline) != 0;
  f.StrikeOut = r.U8(font::StrikeOut) != 0;
  std::u16string face;
  for (size_t i = 0; i < 32 && r.Has(font::FaceName + i * 2, 2); ++i) {
    char16_t ch = char16_t(r.U16(font::FaceName + i * 2));
    if (!ch) break;
    face.push_back(ch);
  }
  f.Face = Utf16ToUtf8(face);
}

void TPlayer::SelectObject(const TRecord& r) {
  uint32_t ih = r.U32(value::Value);
  if (ih & kStockObject) {
    SelectStock(ih & ~kStockObject);
    return;
  }
  if (ih >= FObjects.size()) return;
  const TObject& o = FObjects[ih];
  if (o.K == TObject::Pen)
    FDc.CurPen = o.P;
  else if (o.K == TObject::Brush)
    FDc.CurBrush = o.B;
  else if (o.K == TObject::Font)
    FDc.CurFont = o.F;
}

void TPlayer::DeleteObject(const TRecord& r) {
  uint32_t ih = r.U32(value::Value);
  if (ih < FObjects.size()) FObjects[ih] = TObject{};
}

void TPlayer::SelectStock(uint32_t index) {
  auto solid = [](uint32_t color) { return TBrush{BS_SOLID, color, 0, nullptr}; };
  switch (index) {
    case WHITE_BRUSH: FDc.CurBrush = solid(0xFFFFFF); break;
    case LTGRAY_BRUSH: FDc.CurBrush = solid(0xC0C0C0); break;
    case GRAY_BRUSH: FDc.CurBrush = solid(0x808080); break;
    case DKGRAY_BRUSH: FDc.CurBrush = solid(0x404040); break;
    case BLACK_BRUSH: FDc.CurBrush = solid(0); break;
    case NULL_BRUSH: FDc.CurBrush = TBrush{BS_NULL, 0, 0, nullptr}; break;
    case WHITE_PEN:
      FDc.CurPen = TPen{};
      FDc.CurPen.Color = 0xFFFFFF;
      break;
    case BLACK_PEN: FDc.CurPen = TPen{}; break;
    case NULL_PEN:
      FDc.CurPen = TPen{};
      FDc.CurPen.Style = PS_NULL;
      break;
    case OEM_FIXED_FONT:
    case ANSI_FIXED_FONT:
    case ANSI_VAR_FONT:
    case SYSTEM_FONT:
    case DEVICE_DEFAULT_FONT:
    case SYSTEM_FIXED_FONT:
    case DEFAULT_GUI_FONT: FDc.CurFont = TFont{}; break;
    default: break;
  }
}

}  // namespace emfplay

TkxEmfPlayStats PlayEnhMetafile(cairo_t* cr, const std::string& emf, double x, double y, double w, double h) {
  if (!cr || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) return {};
  emfplay::TPlayer p(cr, emf, x, y, w, h);
  return p.Play();
}

}  // namespace kx
