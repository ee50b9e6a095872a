#include "pdf/pdfimage.h"

#include <png.h>
#include <csetjmp>
#include <cstdio>
// jpeglib.h wants size_t and FILE declared first.
#include <jpeglib.h>

#include <cctype>
#include <cstring>

namespace kx::pdf {

namespace {

struct JpegError {
  jpeg_error_mgr Mgr;
  std::jmp_buf Jump;
};

void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->Jump, 1); }
void JpegQuiet(j_common_ptr, int) {}

bool DecodeJpeg(std::string_view data, TkxRaster& out, int64_t maxPixels, int wantW, int wantH) {
  jpeg_decompress_struct info;
  JpegError err;
  info.err = jpeg_std_error(&err.Mgr);
  err.Mgr.error_exit = JpegFail;
  err.Mgr.emit_message = JpegQuiet;
  std::vector<uint8_t> row;  // before the jump point: a jump must not skip its destructor
  jpeg_create_decompress(&info);
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  if (int64_t(info.image_width) * info.image_height > maxPixels) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  if (wantW > 0 && wantH > 0) {
    unsigned eighths = 1;
    while (eighths < 8 &&
           (info.image_width * eighths < unsigned(wantW) * 8 || info.image_height * eighths < unsigned(wantH) * 8))
      ++eighths;
    info.scale_num = eighths;
    info.scale_denom = 8;
  }
  jpeg_start_decompress(&info);
  out.Width = int(info.output_width), out.Height = int(info.output_height), out.Alpha = false;
  out.Pixels.assign(size_t(out.Width) * size_t(out.Height) * 3, 0);
  row.resize(size_t(out.Width) * size_t(info.output_components));
  bool inverted = cmyk && info.saw_Adobe_marker;  // Adobe writes CMYK inverted
  while (info.output_scanline < info.output_height) {
    size_t y = info.output_scanline;
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    uint8_t* t = out.Pixels.data() + y * size_t(out.Width) * 3;
    if (!cmyk) {
      std::memcpy(t, row.data(), row.size());
      continue;
    }
    for (int x = 0; x < out.Width; ++x) {
      int c = row[size_t(x) * 4], m = row[size_t(x) * 4 + 1], ye = row[size_t(x) * 4 + 2], k = row[size_t(x) * 4 + 3];
      if (!inverted) c = 255 - c, m = 255 - m, ye = 255 - ye, k = 255 - k;
      t[x * 3] = uint8_t(c * k / 255), t[x * 3 + 1] = uint8_t(m * k / 255), t[x * 3 + 2] = uint8_t(ye * k / 255);
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

bool DecodePng(std::string_view data, TkxRaster& out, int64_t maxPixels) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, data.data(), data.size())) return false;
  if (int64_t(img.width) * img.height > maxPixels) {
    png_image_free(&img);
    return false;
  }
  img.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, rgba.data(), 0, nullptr)) return false;
  out.Width = int(img.width), out.Height = int(img.height);
  size_t n = size_t(out.Width) * size_t(out.Height);
  bool opaque = true;
  for (size_t i = 0; i < n && opaque; ++i) opaque = rgba[i * 4 + 3] == 255;
  out.Alpha = !opaque;
  if (out.Alpha) {
    out.Pixels = std::move(rgba);
    return true;
  }
  out.Pixels.resize(n * 3);
  for (size_t i = 0; i < n; ++i) std::memcpy(&out.Pixels[i * 3], &rgba[i * 4], 3);
  return true;
}

// The header of a binary PNM file: magic, then `fields` numbers, then one blank.
bool PnmHeader(std::string_view d, char kind, int fields, long (&v)[3], size_t& pos) {
  if (d.size() < 3 || d[0] != 'P' || d[1] != kind) return false;
  pos = 2;
  for (int i = 0; i < fields; ++i) {
    while (pos < d.size() && (std::isspace(static_cast<unsigned char>(d[pos])) || d[pos] == '#')) {
      if (d[pos] == '#')
        while (pos < d.size() && d[pos] != '\n') ++pos;
      else
        ++pos;
    }
    long n = 0;
    size_t start = pos;
    while (pos < d.size() && std::isdigit(static_cast<unsigned char>(d[pos])) && n < 1000000)
      n = n * 10 + (d[pos++] - '0');
    if (pos == start) return false;
    v[i] = n;
  }
  if (pos >= d.size() || !std::isspace(static_cast<unsigned char>(d[pos]))) return false;
  ++pos;
  return true;
}

// A PPM (colour or grey) or PBM image; a PBM stencil becomes the fill colour with its
// set pixels opaque (or, inverted, its clear ones).
bool DecodePnm(const TkxPdfImage& image, TkxRaster& out, const uint8_t (&fill)[3], int64_t maxPixels) {
  const std::string_view d = image.Bytes;
  const bool bitmap = image.Format == TkxPdfImageFormat::Pbm;
  long v[3] = {0, 0, 255};
  size_t pos = 0;
  bool gray = false;
  if (bitmap) {
    if (!PnmHeader(d, '4', 2, v, pos)) return false;
  } else if (!PnmHeader(d, '6', 3, v, pos)) {
    if (!PnmHeader(d, '5', 3, v, pos)) return false;
    gray = true;
  }
  long w = v[0], h = v[1];
  if (w <= 0 || h <= 0 || int64_t(w) * h > maxPixels || (!bitmap && v[2] != 255)) return false;
  size_t rowBytes = bitmap ? size_t(w + 7) / 8 : size_t(w) * (gray ? 1 : 3);
  if (d.size() - pos < rowBytes * size_t(h)) return false;
  const auto* src = reinterpret_cast<const uint8_t*>(d.data() + pos);
  out.Width = int(w), out.Height = int(h), out.Alpha = bitmap && image.Stencil;
  size_t px = out.Alpha ? 4 : 3;
  out.Pixels.assign(size_t(w) * size_t(h) * px, 0);
  for (long y = 0; y < h; ++y) {
    const uint8_t* s = src + size_t(y) * rowBytes;
    uint8_t* t = out.Pixels.data() + size_t(y) * size_t(w) * px;
    for (long x = 0; x < w; ++x, t += px) {
      if (bitmap) {
        bool set = ((s[x >> 3] >> (7 - (x & 7))) & 1) != 0;  // 1 is black, or painted
        if (out.Alpha) {
          std::memcpy(t, fill, 3);
          t[3] = set != image.Invert ? 255 : 0;
        } else {
          std::memset(t, set ? 0 : 255, 3);
        }
      } else if (gray) {
        std::memset(t, s[x], 3);
      } else {
        std::memcpy(t, s + x * 3, 3);
      }
    }
  }
  return true;
}

// Pixels whose colour lies inside the key's ranges become transparent.
void ApplyColorKey(std::string_view key, TkxRaster& r) {
  size_t comps = key.size() / 2;
  if ((comps != 1 && comps != 3) || r.Alpha) return;
  auto lo = [&](size_t i) { return uint8_t(key[i]); };
  auto hi = [&](size_t i) { return uint8_t(key[comps + i]); };
  size_t n = size_t(r.Width) * size_t(r.Height);
  std::vector<uint8_t> rgba(n * 4);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* s = &r.Pixels[i * 3];
    bool inside = true;
    for (size_t c = 0; c < 3; ++c) {
      size_t k = comps == 1 ? 0 : c;
      inside = inside && s[c] >= lo(k) && s[c] <= hi(k);
    }
    std::memcpy(&rgba[i * 4], s, 3);
    rgba[i * 4 + 3] = inside ? 0 : 255;
  }
  r.Pixels = std::move(rgba);
  r.Alpha = true;
}

}  // namespace

bool DecodePdfImage(const TkxPdfImage& image, TkxRaster& out, const uint8_t (&fill)[3], int64_t maxPixels, int wantW,
                    int wantH) {
  out = TkxRaster{};
  bool ok = false;
  switch (image.Format) {
    case TkxPdfImageFormat::Jpeg: ok = DecodeJpeg(image.Bytes, out, maxPixels, wantW, wantH); break;
    case TkxPdfImageFormat::Png: ok = DecodePng(image.Bytes, out, maxPixels); break;
    case TkxPdfImageFormat::Ppm:
    case TkxPdfImageFormat::Pbm: ok = DecodePnm(image, out, fill, maxPixels); break;
    case TkxPdfImageFormat::Raw: {
      size_t px = image.Alpha ? 4 : 3;
      if (image.Width <= 0 || image.Height <= 0 || int64_t(image.Width) * image.Height > maxPixels ||
          image.Bytes.size() != size_t(image.Width) * size_t(image.Height) * px)
        return false;
      out.Width = image.Width, out.Height = image.Height, out.Alpha = image.Alpha;
      out.Pixels.assign(image.Bytes.begin(), image.Bytes.end());
      ok = true;
      break;
    }
  }
  if (!ok || out.Width <= 0 || out.Height <= 0) return false;
  if (!image.MaskColors.empty()) ApplyColorKey(image.MaskColors, out);
  return true;
}

void ShrinkRaster(TkxRaster& r, int64_t maxPixels, int wantW, int wantH) {
  size_t px = r.Alpha ? 4 : 3;
  auto tooBig = [&] {
    return int64_t(r.Width) * r.Height > maxPixels ||
           (wantW > 0 && wantH > 0 && r.Width >= 2 * wantW && r.Height >= 2 * wantH);
  };
  while (tooBig() && r.Width > 1 && r.Height > 1) {
    int w = r.Width / 2, h = r.Height / 2;
    std::vector<uint8_t> t(size_t(w) * size_t(h) * px);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* q[4] = {&r.Pixels[(size_t(2 * y) * size_t(r.Width) + size_t(2 * x)) * px],
                               &r.Pixels[(size_t(2 * y) * size_t(r.Width) + size_t(2 * x + 1)) * px],
                               &r.Pixels[(size_t(2 * y + 1) * size_t(r.Width) + size_t(2 * x)) * px],
                               &r.Pixels[(size_t(2 * y + 1) * size_t(r.Width) + size_t(2 * x + 1)) * px]};
        uint8_t* d = &t[(size_t(y) * size_t(w) + size_t(x)) * px];
        unsigned weight = 0;
        for (const uint8_t* p : q) weight += r.Alpha ? p[3] : 1;
        for (size_t c = 0; c < 3; ++c) {
          unsigned sum = 0;
          for (const uint8_t* p : q) sum += p[c] * (r.Alpha ? p[3] : 1u);
          d[c] = uint8_t(weight ? (sum + weight / 2) / weight : 0);
        }
        if (r.Alpha) d[3] = uint8_t((q[0][3] + q[1][3] + q[2][3] + q[3][3] + 2) / 4);
      }
    r.Width = w, r.Height = h;
    r.Pixels = std::move(t);
  }
}

}  // namespace kx::pdf
