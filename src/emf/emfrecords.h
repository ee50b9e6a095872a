#pragma once
// The enhanced-metafile vocabulary: record types, the constants of their fields and
// the byte offsets of the fields that the writer, the player and the tests share.
#include <cstdint>

namespace kx::emf {

// Record types.
enum : uint32_t {
  EMR_HEADER = 1,
  EMR_POLYBEZIER = 2,
  EMR_POLYGON = 3,
  EMR_POLYLINE = 4,
  EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6,
  EMR_POLYPOLYLINE = 7,
  EMR_POLYPOLYGON = 8,
  EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10,
  EMR_SETVIEWPORTEXTEX = 11,
  EMR_SETVIEWPORTORGEX = 12,
  EMR_EOF = 14,
  EMR_SETMAPMODE = 17,
  EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19,
  EMR_SETROP2 = 20,
  EMR_SETSTRETCHBLTMODE = 21,
  EMR_SETTEXTALIGN = 22,
  EMR_SETTEXTCOLOR = 24,
  EMR_SETBKCOLOR = 25,
  EMR_MOVETOEX = 27,
  EMR_EXCLUDECLIPRECT = 29,
  EMR_INTERSECTCLIPRECT = 30,
  EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32,
  EMR_SAVEDC = 33,
  EMR_RESTOREDC = 34,
  EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_ROUNDRECT = 44,
  EMR_ARC = 45,
  EMR_CHORD = 46,
  EMR_PIE = 47,
  EMR_LINETO = 54,
  EMR_ARCTO = 55,
  EMR_SETARCDIRECTION = 57,
  EMR_SETMITERLIMIT = 58,
  EMR_BEGINPATH = 59,
  EMR_ENDPATH = 60,
  EMR_CLOSEFIGURE = 61,
  EMR_FILLPATH = 62,
  EMR_STROKEANDFILLPATH = 63,
  EMR_STROKEPATH = 64,
  EMR_FLATTENPATH = 65,
  EMR_WIDENPATH = 66,
  EMR_SELECTCLIPPATH = 67,
  EMR_ABORTPATH = 68,
  EMR_GDICOMMENT = 70,
  EMR_EXTSELECTCLIPRGN = 75,
  EMR_BITBLT = 76,
  EMR_STRETCHBLT = 77,
  EMR_SETDIBITSTODEVICE = 80,
  EMR_STRETCHDIBITS = 81,
  EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTA = 83,
  EMR_EXTTEXTOUTW = 84,
  EMR_POLYBEZIER16 = 85,
  EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87,
  EMR_POLYBEZIERTO16 = 88,
  EMR_POLYLINETO16 = 89,
  EMR_POLYPOLYLINE16 = 90,
  EMR_POLYPOLYGON16 = 91,
  EMR_CREATEMONOBRUSH = 93,
  EMR_CREATEDIBPATTERNBRUSHPT = 94,
  EMR_EXTCREATEPEN = 95,
  EMR_ALPHABLEND = 114,
  EMR_GRADIENTFILL = 118,
};

// Field values.
enum { MM_TEXT = 1, MM_LOMETRIC, MM_HIMETRIC, MM_LOENGLISH, MM_HIENGLISH, MM_TWIPS, MM_ISOTROPIC, MM_ANISOTROPIC };
enum { PS_SOLID = 0, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME, PS_USERSTYLE, PS_ALTERNATE };
enum { BS_SOLID = 0, BS_NULL = 1, BS_HATCHED = 2, BS_PATTERN = 3, BS_DIBPATTERN = 5, BS_DIBPATTERNPT = 6 };
enum { ETO_OPAQUE = 2, ETO_CLIPPED = 4, ETO_GLYPH_INDEX = 0x10, ETO_RTLREADING = 0x80, ETO_PDY = 0x2000 };
enum { TA_UPDATECP = 1, TA_RIGHT = 2, TA_CENTER = 6, TA_BOTTOM = 8, TA_BASELINE = 24 };
enum { R2_BLACK = 1, R2_NOP = 11, R2_COPYPEN = 13, R2_WHITE = 16 };
enum { RGN_AND = 1, RGN_COPY = 5 };
enum { TRANSPARENT = 1, OPAQUE = 2 };
enum { ALTERNATE = 1, WINDING = 2 };
enum { GM_COMPATIBLE = 1, GM_ADVANCED = 2 };

// Every record: type, then its size in bytes (a multiple of 4).
constexpr uint32_t kRecordType = 0, kRecordSize = 4, kRecordData = 8;

// EMR_HEADER fields.
namespace header {
constexpr uint32_t Bounds = 8;      // RECTL, device pixels
constexpr uint32_t Frame = 24;      // RECTL, 1/100 mm, inclusive
constexpr uint32_t Signature = 40;  // " EMF"
constexpr uint32_t Version = 44;
constexpr uint32_t Bytes = 48;
constexpr uint32_t Records = 52;
constexpr uint32_t Handles = 56;      // 16 bits, then 16 reserved
constexpr uint32_t Description = 60;  // count, then offset
constexpr uint32_t PalEntries = 68;
constexpr uint32_t DevicePx = 72;  // SIZEL of the reference device in pixels
constexpr uint32_t DeviceMm = 80;  // SIZEL of the reference device in millimetres
constexpr uint32_t MinSize = 88;
constexpr uint32_t kSignature = 0x464D4520u;
constexpr uint32_t kVersion = 0x10000u;
}  // namespace header

// EMR_EXTTEXTOUTW / EMR_EXTTEXTOUTA fields.
namespace comment {  // EMR_GDICOMMENT
constexpr uint32_t DataSize = 8;
constexpr uint32_t Data = 12;
}  // namespace comment

namespace text {
constexpr uint32_t Bounds = 8;
constexpr uint32_t GraphicsMode = 24;
constexpr uint32_t ExScale = 28, EyScale = 32;
constexpr uint32_t Reference = 36;  // POINTL
constexpr uint32_t Chars = 44;      // count
constexpr uint32_t OffString = 48;
constexpr uint32_t Options = 52;
constexpr uint32_t Rect = 56;  // RECTL
constexpr uint32_t OffDx = 72;
constexpr uint32_t MinSize = 76;
}  // namespace text

// EMR_EXTCREATEFONTINDIRECTW fields (a LOGFONTW after the handle).
namespace font {
constexpr uint32_t Handle = 8;
constexpr uint32_t Height = 12, Width = 16, Escapement = 20, Orientation = 24, Weight = 28;
constexpr uint32_t Italic = 32, Underline = 33, StrikeOut = 34, CharSet = 35;
constexpr uint32_t OutPrecision = 36, ClipPrecision = 37, Quality = 38, PitchAndFamily = 39;
constexpr uint32_t FaceName = 40;  // 32 UTF-16 units
constexpr uint32_t MinSize = 104;
}  // namespace font

// EMR_STRETCHDIBITS fields.
namespace stretchdib {
constexpr uint32_t Bounds = 8;
constexpr uint32_t XDest = 24, YDest = 28, XSrc = 32, YSrc = 36, CxSrc = 40, CySrc = 44;
constexpr uint32_t OffBmi = 48, CbBmi = 52, OffBits = 56, CbBits = 60;
constexpr uint32_t Usage = 64, Rop = 68, CxDest = 72, CyDest = 76;
constexpr uint32_t MinSize = 80;
}  // namespace stretchdib

// ---- Fields of the other records the player reads and the tests write. ----

enum { TA_RTLREADING = 256 };
enum { RGN_OR = 2, RGN_XOR = 3, RGN_DIFF = 4 };
enum { AC_SRC_OVER = 0, AC_SRC_ALPHA = 1 };
enum { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_JPEG = 4, BI_PNG = 5, BI_ALPHABITFIELDS = 6 };
enum { DIB_RGB_COLORS = 0, DIB_PAL_COLORS = 1 };
enum { MWT_IDENTITY = 1, MWT_LEFTMULTIPLY = 2, MWT_RIGHTMULTIPLY = 3, MWT_SET = 4 };
enum { AD_COUNTERCLOCKWISE = 1, AD_CLOCKWISE = 2 };
enum { HS_HORIZONTAL = 0, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL, HS_CROSS, HS_DIAGCROSS };
// Pen style bits beside PS_SOLID ... PS_ALTERNATE.
enum : uint32_t {
  PS_STYLE_MASK = 0xF,
  PS_ENDCAP_MASK = 0xF00,
  PS_ENDCAP_ROUND = 0,
  PS_ENDCAP_SQUARE = 0x100,
  PS_ENDCAP_FLAT = 0x200,
  PS_JOIN_MASK = 0xF000,
  PS_JOIN_ROUND = 0,
  PS_JOIN_BEVEL = 0x1000,
  PS_JOIN_MITER = 0x2000,
  PS_TYPE_MASK = 0xF0000,
  PS_COSMETIC = 0,
  PS_GEOMETRIC = 0x10000,
};
// Raster operations.
enum : uint32_t {
  SRCCOPY = 0x00CC0020,
  SRCAND = 0x008800C6,
  SRCPAINT = 0x00EE0086,
  BLACKNESS = 0x00000042,
  WHITENESS = 0x00FF0062,
  PATCOPY = 0x00F00021,
};
// Stock objects: a handle with the high bit set names one.
constexpr uint32_t kStockObject = 0x80000000u;
enum {
  WHITE_BRUSH = 0,
  LTGRAY_BRUSH = 1,
  GRAY_BRUSH = 2,
  DKGRAY_BRUSH = 3,
  BLACK_BRUSH = 4,
  NULL_BRUSH = 5,
  WHITE_PEN = 6,
  BLACK_PEN = 7,
  NULL_PEN = 8,
  OEM_FIXED_FONT = 10,
  ANSI_FIXED_FONT = 11,
  ANSI_VAR_FONT = 12,
  SYSTEM_FONT = 13,
  DEVICE_DEFAULT_FONT = 14,
  SYSTEM_FIXED_FONT = 16,
  DEFAULT_GUI_FONT = 17,
};

// Parts of the fields: a point (POINTL, 32-bit; POINTS, 16-bit) and a rectangle (RECTL),
// by the offsets of their members and their sizes.
namespace pointl {
constexpr uint32_t X = 0, Y = 4, Size = 8;
}  // namespace pointl
namespace points {
constexpr uint32_t X = 0, Y = 2, Size = 4;
}  // namespace points
namespace rectl {
constexpr uint32_t Left = 0, Top = 4, Right = 8, Bottom = 12, Size = 16;
}  // namespace rectl

// Records of one 32-bit value: the modes, colours, handles, RESTOREDC's relative level
// and SELECTCLIPPATH's region mode.
namespace value {
constexpr uint32_t Value = 8;
}  // namespace value

// Records of one point or size: window and viewport origins and extents, MOVETOEX, LINETO.
namespace point {
constexpr uint32_t X = 8, Y = 12;
}  // namespace point

// EMR_SCALEVIEWPORTEXTEX, EMR_SCALEWINDOWEXTEX.
namespace scale {
constexpr uint32_t XNum = 8, XDenom = 12, YNum = 16, YDenom = 20;
}  // namespace scale

// EMR_SETWORLDTRANSFORM, EMR_MODIFYWORLDTRANSFORM: an XFORM of six floats, then the mode.
namespace xform {
constexpr uint32_t M11 = 8, M12 = 12, M21 = 16, M22 = 20, Dx = 24, Dy = 28;
constexpr uint32_t Mode = 32;
}  // namespace xform

// Records of one box: RECTANGLE, ELLIPSE, ROUNDRECT, ARC, CHORD, PIE, ARCTO,
// INTERSECTCLIPRECT, EXCLUDECLIPRECT.
namespace box {
constexpr uint32_t Left = 8, Top = 12, Right = 16, Bottom = 20;
constexpr uint32_t CornerW = 24, CornerH = 28;                      // ROUNDRECT
constexpr uint32_t StartX = 24, StartY = 28, EndX = 32, EndY = 36;  // the arcs
}  // namespace box

// EMR_POLYGON, EMR_POLYLINE, EMR_POLYBEZIER, ... TO, and their 16-bit forms.
namespace poly {
constexpr uint32_t Bounds = 8, Count = 24, Points = 28;
}  // namespace poly

// EMR_POLYPOLYGON, EMR_POLYPOLYLINE and their 16-bit forms: the point counts, then the points.
namespace polypoly {
constexpr uint32_t Bounds = 8, Polys = 24, Total = 28, Counts = 32;
}  // namespace polypoly

// EMR_CREATEPEN (a LOGPEN after the handle).
namespace pen {
constexpr uint32_t Handle = 8, Style = 12, Width = 16, Color = 24;
constexpr uint32_t Size = 28;
}  // namespace pen

// EMR_EXTCREATEPEN (a LOGPEN_EX after the bitmap fields).
namespace extpen {
constexpr uint32_t Handle = 8, OffBmi = 12, CbBmi = 16, OffBits = 20, CbBits = 24;
constexpr uint32_t Style = 28, Width = 32, BrushStyle = 36, Color = 40, Hatch = 44;
constexpr uint32_t NumEntries = 48, Entries = 52;
}  // namespace extpen

// EMR_CREATEBRUSHINDIRECT.
namespace brush {
constexpr uint32_t Handle = 8, Style = 12, Color = 16, Hatch = 20;
constexpr uint32_t Size = 24;
}  // namespace brush

// EMR_CREATEDIBPATTERNBRUSHPT, EMR_CREATEMONOBRUSH.
namespace dibbrush {
constexpr uint32_t Handle = 8, Usage = 12, OffBmi = 16, CbBmi = 20, OffBits = 24, CbBits = 28;
constexpr uint32_t MinSize = 32;
}  // namespace dibbrush

// EMR_EXTSELECTCLIPRGN: the region is an RGNDATAHEADER and its rectangles in device units.
namespace cliprgn {
constexpr uint32_t CbRgnData = 8, Mode = 12, RgnData = 16;
constexpr uint32_t RgnHeaderSize = 32;         // from RgnData
constexpr uint32_t RgnCount = 24, Rects = 48;  // from the record's start
}  // namespace cliprgn

// EMR_BITBLT, EMR_STRETCHBLT, EMR_ALPHABLEND: the source is a bitmap seen through a
// device context, so its coordinates count from its top row.
namespace blt {
constexpr uint32_t Bounds = 8;
constexpr uint32_t XDest = 24, YDest = 28, CxDest = 32, CyDest = 36;
constexpr uint32_t Rop = 40;    // BITBLT, STRETCHBLT
constexpr uint32_t Blend = 40;  // ALPHABLEND: BLENDFUNCTION
constexpr uint32_t XSrc = 44, YSrc = 48;
constexpr uint32_t XformSrc = 52, BkColorSrc = 76, UsageSrc = 80;
constexpr uint32_t OffBmi = 84, CbBmi = 88, OffBits = 92, CbBits = 96;
constexpr uint32_t CxSrc = 100, CySrc = 104;  // STRETCHBLT, ALPHABLEND
constexpr uint32_t MinSize = 100, StretchMinSize = 108;
// BLENDFUNCTION bytes.
constexpr uint32_t BlendOp = 0, BlendFlags = 1, SourceConstantAlpha = 2, AlphaFormat = 3;
}  // namespace blt

// EMR_GRADIENTFILL: bounds, then the counts of vertices and of rectangles or
// triangles, the mode, the TRIVERTEX array (x, y, then red, green, blue, alpha as
// 16 bits each) and the index pairs or triples.
namespace gradient {
constexpr uint32_t Bounds = 8, Vertices = 24, Shapes = 28, Mode = 32, MinSize = 36;
constexpr uint32_t VertexSize = 16;
}  // namespace gradient
enum { GRADIENT_FILL_RECT_H = 0, GRADIENT_FILL_RECT_V = 1, GRADIENT_FILL_TRIANGLE = 2 };

// EMR_SETDIBITSTODEVICE.
namespace setdib {
constexpr uint32_t Bounds = 8;
constexpr uint32_t XDest = 24, YDest = 28, XSrc = 32, YSrc = 36, CxSrc = 40, CySrc = 44;
constexpr uint32_t OffBmi = 48, CbBmi = 52, OffBits = 56, CbBits = 60;
constexpr uint32_t Usage = 64, StartScan = 68, Scans = 72;
constexpr uint32_t MinSize = 76;
}  // namespace setdib

// EMR_EOF.
namespace eof {
constexpr uint32_t NPalEntries = 8, OffPalEntries = 12, SizeLast = 16;
constexpr uint32_t Size = 20;
}  // namespace eof

// The DIB headers inside the bitmap records.
namespace bmi {
constexpr uint32_t CoreSize = 12;                                                     // BITMAPCOREHEADER
constexpr uint32_t CoreWidth = 4, CoreHeight = 6, CorePlanes = 8, CoreBitCount = 10;  // 16 bits each
constexpr uint32_t InfoSize = 40;                                                     // BITMAPINFOHEADER
constexpr uint32_t Size = 0, Width = 4, Height = 8, Planes = 12, BitCount = 14, Compression = 16;
constexpr uint32_t SizeImage = 20, XPelsPerMeter = 24, YPelsPerMeter = 28, ClrUsed = 32, ClrImportant = 36;
constexpr uint32_t RedMask = 40, GreenMask = 44, BlueMask = 48, AlphaMask = 52;  // in V2 headers and later
constexpr uint32_t V2Size = 52, V3Size = 56;
}  // namespace bmi

// ---- Page writer additions: the header's tail after its first extension.
namespace header {
constexpr uint32_t DeviceUm = 100;  // SIZEL of the reference device in micrometres
constexpr uint32_t FullSize = 108;
}  // namespace header

}  // namespace kx::emf
