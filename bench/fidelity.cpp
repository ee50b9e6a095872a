// Compares page images: both composited on white, 8-bit grey, box-downscaled by 4,
// SSIM with a 7 x 7 window. Arguments: pairs of PNG files (ours, reference).
// Prints one line per pair and the mean and the lowest page.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Grey {
  int W = 0, H = 0;
  std::vector<double> V;
};

bool Load(const char* path, Grey& g) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path)) return false;
  img.format = PNG_FORMAT_RGBA;
  std::vector<unsigned char> buf(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, buf.data(), 0, nullptr)) return false;
  g.W = int(img.width), g.H = int(img.height);
  g.V.resize(size_t(g.W) * size_t(g.H));
  for (size_t i = 0; i < g.V.size(); ++i) {
    double a = buf[i * 4 + 3] / 255.0;
    double r = buf[i * 4] * a + 255 * (1 - a), gg = buf[i * 4 + 1] * a + 255 * (1 - a), b = buf[i * 4 + 2] * a + 255 * (1 - a);
    g.V[i] = std::round(0.299 * r + 0.587 * gg + 0.114 * b);
  }
  return true;
}

Grey Down4(const Grey& g, int w, int h) {
  Grey d;
  d.W = w / 4, d.H = h / 4;
  d.V.assign(size_t(d.W) * size_t(d.H), 0);
  for (int y = 0; y < d.H; ++y)
    for (int x = 0; x < d.W; ++x) {
      double s = 0;
      for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) s += g.V[size_t(y * 4 + j) * size_t(g.W) + size_t(x * 4 + i)];
      d.V[size_t(y) * size_t(d.W) + size_t(x)] = s / 16;
    }
  return d;
}

double Ssim(const Grey& a, const Grey& b) {
  const double c1 = std::pow(0.01 * 255, 2), c2 = std::pow(0.03 * 255, 2);
  const int k = 7;
  double sum = 0;
  long n = 0;
  for (int y = 0; y + k <= a.H; ++y)
    for (int x = 0; x + k <= a.W; ++x) {
      double ma = 0, mb = 0;
      for (int j = 0; j < k; ++j)
        for (int i = 0; i < k; ++i) {
          ma += a.V[size_t(y + j) * size_t(a.W) + size_t(x + i)];
          mb += b.V[size_t(y + j) * size_t(b.W) + size_t(x + i)];
        }
      ma /= k * k, mb /= k * k;
      double va = 0, vb = 0, cov = 0;
      for (int j = 0; j < k; ++j)
        for (int i = 0; i < k; ++i) {
          double da = a.V[size_t(y + j) * size_t(a.W) + size_t(x + i)] - ma;
          double db = b.V[size_t(y + j) * size_t(b.W) + size_t(x + i)] - mb;
          va += da * da, vb += db * db, cov += da * db;
        }
      va /= k * k - 1, vb /= k * k - 1, cov /= k * k - 1;
      sum += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++n;
    }
  return n ? sum / n : 0;
}

}  // namespace

int main(int argc, char** argv) {
  double total = 0, lowest = 2;
  std::string lowestName;
  int pages = 0, broken = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    Grey a, b;
    if (!Load(argv[i], a) || !Load(argv[i + 1], b)) {
      std::printf("unreadable %s %s\n", argv[i], argv[i + 1]);
      ++broken;
      continue;
    }
    // Sizes may differ by the rounding of the natural size: compare the common area.
    int w = std::min(a.W, b.W), h = std::min(a.H, b.H);
    Grey da = Down4(a, w, h), db = Down4(b, w, h);
    double s = Ssim(da, db);
    std::printf("%.4f %s (%dx%d vs %dx%d)\n", s, argv[i], a.W, a.H, b.W, b.H);
    total += s;
    ++pages;
    if (s < lowest) lowest = s, lowestName = argv[i];
  }
  if (pages) std::printf("pages %d, mean SSIM %.4f, lowest %.4f (%s), unreadable %d\n", pages, total / pages, lowest, lowestName.c_str(), broken);
  return pages && !broken ? 0 : 1;
}
