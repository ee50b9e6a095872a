// Compares page images of equal size: both composited on white, 8-bit grey,
// box-downscaled by a factor (4 unless the first argument is "--scale N"; 1 compares
// the pixels as they are), SSIM with a 7 x 7 window. Arguments: pairs of PNG files
// (ours, reference). Prints one line per pair, then the mean, the lowest page and
// how many pages are under 0.97; pages whose sizes differ count as SSIM 0, unless
// "--common" asks to compare their common top-left area.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
    double r = buf[i * 4] * a + 255 * (1 - a), gg = buf[i * 4 + 1] * a + 255 * (1 - a),
           b = buf[i * 4 + 2] * a + 255 * (1 - a);
    g.V[i] = std::round(0.299 * r + 0.587 * gg + 0.114 * b);
  }
  return true;
}

Grey Crop(const Grey& g, int w, int h) {
  Grey c;
  c.W = w, c.H = h;
  for (int y = 0; y < h; ++y) c.V.insert(c.V.end(), g.V.begin() + long(y) * g.W, g.V.begin() + long(y) * g.W + w);
  return c;
}

Grey Down(const Grey& g, int f) {
  if (f <= 1) return g;
  Grey d;
  d.W = g.W / f, d.H = g.H / f;
  d.V.assign(size_t(d.W) * size_t(d.H), 0);
  for (int y = 0; y < d.H; ++y)
    for (int x = 0; x < d.W; ++x) {
      double s = 0;
      for (int j = 0; j < f; ++j)
        for (int i = 0; i < f; ++i) s += g.V[size_t(y * f + j) * size_t(g.W) + size_t(x * f + i)];
      d.V[size_t(y) * size_t(d.W) + size_t(x)] = s / (f * f);
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
  int pages = 0, broken = 0, under = 0, sizes = 0, scale = 4, first = 1;
  bool common = false;
  for (;;) {
    if (first < argc && std::string(argv[first]) == "--common")
      common = true, first += 1;
    else if (first + 1 < argc && std::string(argv[first]) == "--scale")
      scale = std::max(1, std::atoi(argv[first + 1])), first += 2;
    else
      break;
  }
  for (int i = first; i + 1 < argc; i += 2) {
    Grey a, b;
    if (!Load(argv[i], a) || !Load(argv[i + 1], b)) {
      std::printf("unreadable %s %s\n", argv[i], argv[i + 1]);
      ++broken;
      continue;
    }
    double s = 0;
    if (a.W != b.W || a.H != b.H) {
      ++sizes;
      if (common) a = Crop(a, std::min(a.W, b.W), std::min(a.H, b.H)), b = Crop(b, a.W, a.H);
    }
    if (a.W == b.W && a.H == b.H) s = Ssim(Down(a, scale), Down(b, scale));
    std::printf("%.4f %s (%dx%d vs %dx%d)\n", s, argv[i], a.W, a.H, b.W, b.H);
    total += s;
    ++pages;
    if (s < 0.97) ++under;
    if (s < lowest) lowest = s, lowestName = argv[i];
  }
  if (pages)
    std::printf("pages %d, mean SSIM %.4f, lowest %.4f (%s), under 0.97: %d, sizes differ: %d, unreadable %d\n", pages,
                total / pages, lowest, lowestName.c_str(), under, sizes, broken);
  return pages && !broken ? 0 : 1;
}
