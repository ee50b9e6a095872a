#pragma once
// The enhanced-metafile vocabulary: record types, the constants of their fields and
// the byte offsets of the fields that the writer, the player and the tests share.
#include <cstdint>

namespace kx::emf {

// Record types.
enum : uint32_t {
  EMR_HEADER = 1, EMR_POLYBEZIER = 2, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6, EMR_POLYPOLYLINE = 7, EMR_POLYPOLYGON = 8, EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10, EMR_SETVIEWPORTEXTEX = 11, EMR_SETVIEWPORTORGEX = 12, EMR_EOF = 14,
  EMR_SETMAPMODE = 17, EMR_SETBKMODE = 18, EMR_SETPOLYFILLMODE = 19, EMR_SETROP2 = 20,
  EMR_SETSTRETCHBLTMODE = 21, EMR_SETTEXTALIGN = 22, EMR_SETTEXTCOLOR = 24, EMR_SETBKCOLOR = 25,
  EMR_MOVETOEX = 27, EMR_EXCLUDECLIPRECT = 29, EMR_INTERSECTCLIPRECT = 30, EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32, EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEPEN = 38, EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40, EMR_ELLIPSE = 42, EMR_RECTANGLE = 43, EMR_ROUNDRECT = 44, EMR_ARC = 45,
  EMR_CHORD = 46, EMR_PIE = 47, EMR_LINETO = 54, EMR_ARCTO = 55, EMR_SETARCDIRECTION = 57,
  EMR_SETMITERLIMIT = 58, EMR_BEGINPATH = 59, EMR_ENDPATH = 60, EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62,
  EMR_STROKEANDFILLPATH = 63, EMR_STROKEPATH = 64, EMR_FLATTENPATH = 65, EMR_WIDENPATH = 66,
  EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH = 68, EMR_GDICOMMENT = 70, EMR_EXTSELECTCLIPRGN = 75,
  EMR_BITBLT = 76, EMR_STRETCHBLT = 77, EMR_SETDIBITSTODEVICE = 80, EMR_STRETCHDIBITS = 81,
  EMR_EXTCREATEFONTINDIRECTW = 82, EMR_EXTTEXTOUTA = 83, EMR_EXTTEXTOUTW = 84, EMR_POLYBEZIER16 = 85,
  EMR_POLYGON16 = 86, EMR_POLYLINE16 = 87, EMR_POLYBEZIERTO16 = 88, EMR_POLYLINETO16 = 89,
  EMR_POLYPOLYLINE16 = 90, EMR_POLYPOLYGON16 = 91, EMR_CREATEMONOBRUSH = 93,
  EMR_CREATEDIBPATTERNBRUSHPT = 94, EMR_EXTCREATEPEN = 95, EMR_ALPHABLEND = 114,
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
constexpr uint32_t Bounds = 8;        // RECTL, device pixels
constexpr uint32_t Frame = 24;        // RECTL, 1/100 mm, inclusive
constexpr uint32_t Signature = 40;    // " EMF"
constexpr uint32_t Version = 44;
constexpr uint32_t Bytes = 48;
constexpr uint32_t Records = 52;
constexpr uint32_t Handles = 56;      // 16 bits, then 16 reserved
constexpr uint32_t Description = 60;  // count, then offset
constexpr uint32_t PalEntries = 68;
constexpr uint32_t DevicePx = 72;     // SIZEL of the reference device in pixels
constexpr uint32_t DeviceMm = 80;     // SIZEL of the reference device in millimetres
constexpr uint32_t MinSize = 88;
constexpr uint32_t kSignature = 0x464D4520u;
constexpr uint32_t kVersion = 0x10000u;
}  // namespace header

// EMR_EXTTEXTOUTW / EMR_EXTTEXTOUTA fields.
namespace text {
constexpr uint32_t Bounds = 8;
constexpr uint32_t GraphicsMode = 24;
constexpr uint32_t ExScale = 28, EyScale = 32;
constexpr uint32_t Reference = 36;    // POINTL
constexpr uint32_t Chars = 44;        // count
constexpr uint32_t OffString = 48;
constexpr uint32_t Options = 52;
constexpr uint32_t Rect = 56;         // RECTL
constexpr uint32_t OffDx = 72;
constexpr uint32_t MinSize = 76;
}  // namespace text

// EMR_EXTCREATEFONTINDIRECTW fields (a LOGFONTW after the handle).
namespace font {
constexpr uint32_t Handle = 8;
constexpr uint32_t Height = 12, Width = 16, Escapement = 20, Orientation = 24, Weight = 28;
constexpr uint32_t Italic = 32, Underline = 33, StrikeOut = 34, CharSet = 35;
constexpr uint32_t OutPrecision = 36, ClipPrecision = 37, Quality = 38, PitchAndFamily = 39;
constexpr uint32_t FaceName = 40;     // 32 UTF-16 units
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

}  // namespace kx::emf
