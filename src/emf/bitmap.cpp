#include "emf/bitmap.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "emf/emfplayer.h"
#include "emf/metafile.h"
#include "platform/files.h"

namespace kx {

namespace {

constexpr int64_t kMaxPixels = int64_t(1) << 26;   // 64 M pixels: 256 MB of drawing surface
constexpr int32_t kMaxSide = 32767;                // what a bitmap file's readers take
constexpr int64_t kBandPixels = int64_t(1) << 24;  // 16 M pixels: 64 MB of drawing surface a band

std::vector<TkxRgb> HalftonePalette() {
  std::vector<TkxRgb> p = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
                           {128, 0, 128}, {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) p.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51)});
  for (int i = 1; i <= 20; ++i) {  // a grey ramp between the cube's steps
    uint8_t v = uint8_t(i * 255 / 21);
    p.push_back({v, v, v});
  }
  for (TkxRgb c : std::initializer_list<TkxRgb>{{255, 251, 240},
                                                {160, 160, 164},
                                                {128, 128, 128},
                                                {255, 0, 0},
                                                {0, 255, 0},
                                                {255, 255, 0},
                                                {0, 0, 255},
                                                {255, 0, 255},
                                                {0, 255, 255},
                                                {255, 255, 255}})
    p.push_back(c);
  return p;
}

// Nearest palette entry for every colour, quantised to 5 bits a channel.
struct TkxNearest {
  std::vector<uint8_t> Lut;
  explicit TkxNearest(const std::vector<TkxRgb>& pal) : Lut(32 * 32 * 32) {
    for (int r = 0; r < 32; ++r)
      for (int g = 0; g < 32; ++g)
        for (int b = 0; b < 32; ++b) {
          int R = r * 255 / 31, G = g * 255 / 31, B = b * 255 / 31, best = 0, bestD = 1 << 30;
          for (size_t i = 0; i < pal.size(); ++i) {
            int dr = R - pal[i].R, dg = G - pal[i].G, db = B - pal[i].B, d = dr * dr + dg * dg + db * db;
            if (d < bestD) bestD = d, best = int(i);
          }
          Lut[size_t(r << 10 | g << 5 | b)] = uint8_t(best);
        }
  }
  uint8_t Of(uint32_t rgb) const { return Lut[(rgb >> 9 & 0x7C00) | (rgb >> 6 & 0x3E0) | (rgb >> 3 & 0x1F)]; }
};

const TkxNearest& NearestFor(TkxPixelFormat pf) {
  static const TkxNearest four(PaletteOf(TkxPixelFormat::pf4bit));
  static const TkxNearest eight(PaletteOf(TkxPixelFormat::pf8bit));
  return pf == TkxPixelFormat::pf4bit ? four : eight;
}

void Put16(std::string& s, uint16_t v) {
  s.push_back(char(v & 0xFF));
  s.push_back(char(v >> 8));
}
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(char(v >> (8 * i) & 0xFF));
}

}  // namespace

const std::vector<TkxRgb>& PaletteOf(TkxPixelFormat pf) {
  static const std::vector<TkxRgb> none;
  static const std::vector<TkxRgb> mono = {{0, 0, 0}, {255, 255, 255}};
  static const std::vector<TkxRgb> sixteen = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                              {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                              {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                              {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  static const std::vector<TkxRgb> halftone = HalftonePalette();
  switch (pf) {
    case TkxPixelFormat::pf1bit: return mono;
    case TkxPixelFormat::pf4bit: return sixteen;
    case TkxPixelFormat::pf8bit: return halftone;
    default: return none;
  }
}

void TkxBitmap::SetPixelFormat(TkxPixelFormat pf) {
  if (pf == TkxPixelFormat::pfCustom) throw std::runtime_error("Invalid pixel format");
  FFormat = pf;
}

void TkxBitmap::SetSize(int32_t width, int32_t height) {
  if (width < 0 || height < 0 || int64_t(width) * height > kMaxPixels || width > 32767 || height > 32767)
    throw std::runtime_error("The page image would be too large (" + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels)");
  TkxSurface s;
  if (width > 0 && height > 0) {
    s.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS)
      throw std::runtime_error("Out of memory for the page image");
    TkxCairo cr(cairo_create(s.get()));
    cairo_set_source_rgb(cr.get(), 1, 1, 1);
    cairo_paint(cr.get());
    if (FSurface) {
      cairo_set_source_surface(cr.get(), FSurface.get(), 0, 0);
      cairo_paint(cr.get());
    }
  }
  FSurface = std::move(s);
  FWidth = width;
  FHeight = height;
}

void TkxBitmap::Draw(const TkxMetafile& mf, int32_t x, int32_t y) {
  StretchDraw(mf, x, y, x + mf.Width(), y + mf.Height());
}

void TkxBitmap::StretchDraw(const TkxMetafile& mf, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (!FSurface || mf.Empty()) return;
  {
    TkxCairo cr(cairo_create(FSurface.get()));
    PlayEnhMetafile(cr.get(), mf.Bytes(), left, top, right - left, bottom - top);
  }
  cairo_surface_flush(FSurface.get());
}

uint32_t TkxBitmap::PixelAt(int32_t x, int32_t y) const {
  if (!FSurface || x < 0 || y < 0 || x >= FWidth || y >= FHeight) return 0;
  const uint8_t* row =
      cairo_image_surface_get_data(FSurface.get()) + size_t(y) * size_t(cairo_image_surface_get_stride(FSurface.get()));
  uint32_t v;
  std::memcpy(&v, row + size_t(x) * 4, 4);
  return v & 0xFFFFFF;
}

namespace {

int BitsOf(TkxPixelFormat pf) {
  switch (pf) {
    case TkxPixelFormat::pf1bit: return 1;
    case TkxPixelFormat::pf4bit: return 4;
    case TkxPixelFormat::pf8bit: return 8;
    case TkxPixelFormat::pf15bit:
    case TkxPixelFormat::pf16bit: return 16;
    case TkxPixelFormat::pf24bit: return 24;
    default: return 32;
  }
}

uint32_t RowBytesOf(int32_t width, int bits) { return ((uint32_t(width) * uint32_t(bits) + 31) / 32) * 4; }

// BITMAPFILEHEADER, BITMAPINFOHEADER, then masks or palette: all before the rows.
std::string BmpHeader(int32_t width, int32_t height, TkxPixelFormat pf) {
  int bits = BitsOf(pf);
  const std::vector<TkxRgb>& pal = PaletteOf(pf);
  bool fields = pf == TkxPixelFormat::pf16bit;
  uint32_t image = RowBytesOf(width, bits) * uint32_t(height);
  uint32_t offBits = 14 + 40 + (fields ? 12 : 0) + uint32_t(pal.size()) * 4;
  std::string b;
  b += "BM";
  Put32(b, offBits + image);
  Put32(b, 0);
  Put32(b, offBits);
  Put32(b, 40);
  Put32(b, uint32_t(width));
  Put32(b, uint32_t(height));  // positive: bottom-up rows
  Put16(b, 1);
  Put16(b, uint16_t(bits));
  Put32(b, fields ? 3 : 0);
  Put32(b, image);
  Put32(b, 3780);  // 96 dots per inch
  Put32(b, 3780);
  Put32(b, uint32_t(pal.size()));
  Put32(b, 0);
  if (fields) {
    Put32(b, 0xF800);
    Put32(b, 0x07E0);
    Put32(b, 0x001F);
  }
  for (const TkxRgb& c : pal) {
    b.push_back(char(c.B));
    b.push_back(char(c.G));
    b.push_back(char(c.R));
    b.push_back(0);
  }
  return b;
}

// One row of the drawing surface (0x00RRGGBB) in the file's format; `out` is zeroed first.
void BmpRow(const uint32_t* src, int32_t width, TkxPixelFormat pf, uint8_t* out, uint32_t rowBytes) {
  int bits = BitsOf(pf);
  bool fields = pf == TkxPixelFormat::pf16bit;
  const TkxNearest* nearest = bits == 4 || bits == 8 ? &NearestFor(pf) : nullptr;
  std::memset(out, 0, rowBytes);
  for (int32_t x = 0; x < width; ++x) {
    uint32_t p = src[x];
    uint32_t r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, bl = p & 0xFF;
    switch (bits) {
      case 1:
        if (r * r + g * g + bl * bl > (255 - r) * (255 - r) + (255 - g) * (255 - g) + (255 - bl) * (255 - bl))
          out[x >> 3] |= uint8_t(0x80 >> (x & 7));
        break;
      case 4: out[x >> 1] |= uint8_t(nearest->Of(p) << ((x & 1) ? 0 : 4)); break;
      case 8: out[x] = nearest->Of(p); break;
      case 16: {
        uint16_t v = fields ? uint16_t((r >> 3) << 11 | (g >> 2) << 5 | bl >> 3)
                            : uint16_t((r >> 3) << 10 | (g >> 3) << 5 | bl >> 3);
        out[x * 2] = uint8_t(v & 0xFF);
        out[x * 2 + 1] = uint8_t(v >> 8);
        break;
      }
      case 24: out[x * 3] = uint8_t(bl), out[x * 3 + 1] = uint8_t(g), out[x * 3 + 2] = uint8_t(r); break;
      default:
        out[x * 4] = uint8_t(bl), out[x * 4 + 1] = uint8_t(g), out[x * 4 + 2] = uint8_t(r), out[x * 4 + 3] = 0;
        break;
    }
  }
}

}  // namespace

std::string TkxBitmap::BmpBytes() const {
  std::string b = BmpHeader(FWidth, FHeight, FFormat);
  if (!FSurface) return b;
  uint32_t rowBytes = RowBytesOf(FWidth, BitsOf(FFormat));
  b.reserve(b.size() + size_t(rowBytes) * size_t(FHeight));
  const uint8_t* data = cairo_image_surface_get_data(FSurface.get());
  int stride = cairo_image_surface_get_stride(FSurface.get());
  std::string row(rowBytes, '\0');
  for (int32_t y = FHeight - 1; y >= 0; --y) {
    BmpRow(reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride)), FWidth, FFormat,
           reinterpret_cast<uint8_t*>(row.data()), rowBytes);
    b += row;
  }
  return b;
}

void WriteBitmapFile(const TkxMetafile& mf, const TkxBitmapPlan& plan,
                     const std::function<void(const std::string&)>& write) {
  const int32_t width = plan.Width, height = plan.Height;
  const TkxPixelFormat pf = plan.Format;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
    throw std::runtime_error("The page image would be too large (" + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels)");
  write(BmpHeader(width, height, pf));
  uint32_t rowBytes = RowBytesOf(width, BitsOf(pf));
  int32_t band = int32_t(std::max<int64_t>(1, std::min<int64_t>(height, kBandPixels / width)));
  TkxSurface s(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, band));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS)
    throw std::runtime_error("Out of memory for the page image");
  std::string rows;
  // The file's rows run from the bottom: so do the bands.
  for (int32_t bottom = height; bottom > 0; bottom -= band) {
    int32_t top = std::max(0, bottom - band);
    {
      TkxCairo cr(cairo_create(s.get()));
      cairo_set_source_rgb(cr.get(), 1, 1, 1);
      cairo_paint(cr.get());
      if (!mf.Empty()) PlayEnhMetafile(cr.get(), mf.Bytes(), 0, -double(top), plan.DrawW, plan.DrawH);
    }
    cairo_surface_flush(s.get());
    const uint8_t* data = cairo_image_surface_get_data(s.get());
    int stride = cairo_image_surface_get_stride(s.get());
    rows.assign(size_t(rowBytes) * size_t(bottom - top), '\0');
    for (int32_t y = bottom - 1; y >= top; --y)
      BmpRow(reinterpret_cast<const uint32_t*>(data + size_t(y - top) * size_t(stride)), width, pf,
             reinterpret_cast<uint8_t*>(rows.data()) + size_t(bottom - 1 - y) * rowBytes, rowBytes);
    write(rows);
  }
}

void TkxBitmap::SaveToFile(const std::string& path) const { WriteWholeFile(path, BmpBytes()); }

}  // namespace kx
