// Writes seed inputs for the fuzz targets: metafiles with the records pages are made
// of, and bitmaps of every pixel format.
#include <cstdio>
#include <string>

#include "convert/emfbuild.h"
#include "emf/bitmap.h"
#include "emf/emfrecords.h"
#include "emf/metafile.h"

using namespace kx::emf;

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
  page.Font(2, -423, u"LiberationSerif").Select(2).Record(EMR_SETTEXTALIGN, {TA_BASELINE});
  page.TextOut(200, 4000, u"Fuzz \u00e9\u4e2d", {200, 200, 200, 200, 200, 200, 200});
  page.Record(EMR_BEGINPATH, {}).MoveTo(0, 0).Record(EMR_LINETO, {1000, 1000}).Record(EMR_CLOSEFIGURE, {});
  page.Record(EMR_ENDPATH, {}).Record(EMR_FILLPATH, {0, 0, 0, 0});
  page.Record(EMR_SAVEDC, {}).IntersectClip(0, 0, 2000, 2000).Record(EMR_ELLIPSE, {10, 10, 900, 700});
  page.Record(EMR_RESTOREDC, {-1});
  Save(emfDir + "/synthetic.emf", page.Bytes());

  // A cropped picture, a blended one, and text in both directions and in a joining script.
  kxtest::EmfBuilder pictures;
  pictures.HimetricMapping().Record(EMR_SAVEDC, {}).Record(EMR_BEGINPATH, {});
  pictures.Poly(EMR_POLYGON, {{500, 500}, {3000, 500}, {3000, 2000}, {500, 2000}}).Record(EMR_ENDPATH, {});
  pictures.Record(EMR_SELECTCLIPPATH, {RGN_AND});
  pictures.StretchDib(0, 0, 4000, 3000, 3, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF, 0, 0x808080});
  pictures.Record(EMR_RESTOREDC, {-1});
  pictures.AlphaBlend(100, 3000, 2000, 1000, 2, 2, {0xFF0000FF, 0x80808080, 0, 0x40004000}, 200);
  pictures.Font(1, -400, u"DejaVu Sans", 700, true, 900).Select(1).Record(EMR_SETTEXTALIGN, {TA_BASELINE});
  pictures.TextOut(500, 6000, u"\u05e9\u05dc\u05d5\u05dd 12", {150, 150, 150, 150, 80, 150, 150}, ETO_RTLREADING);
  pictures.TextOut(500, 7000, u"\u0633\u0644\u0627\u0645 ab", {150, 150, 150, 150, 80, 150, 150});
  Save(emfDir + "/pictures.emf", pictures.Bytes());

  kx::TkxMetafile mf;
  mf.LoadFromBytes(page.Bytes());
  int i = 0;
  for (auto pf :
       {kx::TkxPixelFormat::pf1bit, kx::TkxPixelFormat::pf4bit, kx::TkxPixelFormat::pf8bit, kx::TkxPixelFormat::pf15bit,
        kx::TkxPixelFormat::pf16bit, kx::TkxPixelFormat::pf24bit, kx::TkxPixelFormat::pf32bit}) {
    kx::TkxBitmap b;
    b.SetPixelFormat(pf);
    b.SetSize(23, 17);
    b.StretchDraw(mf, 0, 0, 23, 17);
    Save(bmpDir + "/format" + std::to_string(i++) + ".bmp", b.BmpBytes());
  }
  return 0;
}
