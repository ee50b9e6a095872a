// Writes seed inputs for the fuzz targets: metafiles and bitmaps of every pixel format.
#include <cstdio>
#include <string>

#include "convert/emfbuild.h"
#include "platform/bitmap.h"
#include "platform/metafile.h"

static void Save(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

int main(int argc, char** argv) {
  std::string emfDir = argc > 1 ? argv[1] : ".", bmpDir = argc > 2 ? argv[2] : ".";
  kxtest::EmfBuilder page;
  page.HimetricMapping().SolidBrush(1, 0x3366CC).Select(1).Rectangle(100, 100, 5000, 3000);
  page.Font(2, -423, u"LiberationSerif").Select(2).Record(22, {24}).TextOut(200, 4000, u"Fuzz \u00e9\u4e2d", {200, 200, 200, 200, 200, 200, 200});
  page.Record(59, {}).Record(27, {0, 0}).Record(54, {1000, 1000}).Record(61, {}).Record(60, {}).Record(62, {0, 0, 0, 0});
  page.Record(33, {}).Record(30, {0, 0, 2000, 2000}).Record(42, {10, 10, 900, 700}).Record(34, {-1});
  Save(emfDir + "/synthetic.emf", page.Bytes());
  kx::TkxMetafile mf;
  mf.LoadFromBytes(page.Bytes());
  int i = 0;
  for (auto pf : {kx::TkxPixelFormat::pf1bit, kx::TkxPixelFormat::pf4bit, kx::TkxPixelFormat::pf8bit,
                  kx::TkxPixelFormat::pf15bit, kx::TkxPixelFormat::pf16bit, kx::TkxPixelFormat::pf24bit,
                  kx::TkxPixelFormat::pf32bit}) {
    kx::TkxBitmap b;
    b.SetPixelFormat(pf);
    b.SetSize(23, 17);
    b.StretchDraw(mf, 0, 0, 23, 17);
    Save(bmpDir + "/format" + std::to_string(i++) + ".bmp", b.BmpBytes());
  }
  return 0;
}
