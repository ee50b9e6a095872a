// Pages straight from Writer's PDF, on documents LibreOffice makes for the test: every
// page of its own size in both editions, cropped pictures, right-to-left lines in the
// order poppler draws them, and metafiles that other readers open.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <numeric>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include "convert/lumipix.h"
#include "core/app.h"
#include "core/project.h"
#include "emf/emfpixels.h"
#include "emf/emfwalk.h"
#include "emf/metafile.h"
#include "engine/batch.h"
#include "engine/convertor.h"
#include "office/document.h"
#include "office/process.h"
#include "office/wordapp.h"
#include "officetestutil.h"
#include "platform/thread.h"
#include "testutil.h"

using namespace kx;
namespace css = com::sun::star;

using kxtest::Grey;
using kxtest::ReadGrey;
using kxtest::Ssim;

namespace {

const char* kFodtHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
    "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
    "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
    "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
    "office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.text\">\n";

// Flat ODF text of these automatic styles, master pages and body; a page style is a
// layout "L<n>" and its master page "M<n>", which a paragraph style starts.
std::string Fodt(const std::string& styles, const std::string& masters, const std::string& body) {
  return std::string(kFodtHead) + "<office:automatic-styles>\n" + styles + "</office:automatic-styles>\n" +
         "<office:master-styles>\n" + masters + "</office:master-styles>\n<office:body><office:text>\n" + body +
         "</office:text></office:body></office:document>\n";
}
std::string PageLayout(int n, const std::string& properties) {
  std::string id = std::to_string(n);
  return "<style:page-layout style:name=\"L" + id + "\"><style:page-layout-properties " + properties +
         "/></style:page-layout>\n<style:style style:name=\"P" + id +
         "\" style:family=\"paragraph\" style:master-page-name=\"M" + id + "\"/>\n";
}
std::string MasterPage(int n) {
  std::string id = std::to_string(n);
  return "<style:master-page style:name=\"M" + id + "\" style:page-layout-name=\"L" + id + "\"/>\n";
}

css::beans::PropertyValue Prop(const char* name, const css::uno::Any& v) {
  css::beans::PropertyValue p;
  p.Name = rtl::OUString::createFromAscii(name);
  p.Value = v;
  return p;
}

// Stores the document `from` as `to` through LibreOffice: Word 2007 for ".docx", PDF for ".pdf".
void Store(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  office::TkxOfficeProcess p;
  css::uno::Reference<css::frame::XComponentLoader> loader(p.Desktop, css::uno::UNO_QUERY_THROW);
  css::uno::Sequence<css::beans::PropertyValue> hidden(1);
  hidden[0] = Prop("Hidden", css::uno::Any(true));
  auto model =
      loader->loadComponentFromURL(rtl::OUString::fromUtf8(office::FileUrl(from).c_str()), "_blank", 0, hidden);
  bool pdf = to.size() > 4 && to.compare(to.size() - 4, 4, ".pdf") == 0;
  css::uno::Sequence<css::beans::PropertyValue> props(1);
  props[0] =
      Prop("FilterName", css::uno::Any(rtl::OUString::createFromAscii(pdf ? "writer_pdf_Export" : "MS Word 2007 XML")));
  css::uno::Reference<css::frame::XStorable>(model, css::uno::UNO_QUERY_THROW)
      ->storeToURL(rtl::OUString::fromUtf8(office::FileUrl(to).c_str()), props);
  css::uno::Reference<css::util::XCloseable>(model, css::uno::UNO_QUERY_THROW)->close(true);
}

// A Word document made by LibreOffice from flat ODF text.
void MakeDocument(const std::string& fodt, const std::string& docx) {
  std::string source = docx + ".fodt";
  kxtest::WriteFile(source, fodt);
  Store(source, docx);
  std::filesystem::remove(source);
}

// The page files the real converter class writes for the documents of `source` (a
// folder and mask), by page number.
std::map<int, std::string> Convert(kxtest::ProjectScope& scope, int edition, const std::string& source,
                                   const std::string& name, const std::string& settings = "") {
  std::string target = scope.Dir / (name + "-" + std::to_string(edition) + "/");
  kx::Edition = edition;
  kx::Project->OutputExt = edition == 0 ? ".png" : ".emf";
  kx::Project->ConvertorClass = kx::FindConvertorClass("TkxLUMIPIX");
  kx::Project->SetSettingsText("ThreadsCount=1\n" + settings);
  kx::TkxBatch batch;
  batch.Start(source, target, false);
  kx::TkxConvertor* head = kx::TkxConvertor::CreateChain(&batch, target, [](kx::TkxBatch*, kx::TkxNode*) {});
  kx::RunningConvertors = 1;
  head->ResumeAll();
  while (kx::RunningConvertors.load() > 0) kx::Sleep(20);
  std::map<int, std::string> pages;
  for (const auto& e : std::filesystem::directory_iterator(target)) {
    std::string stem = e.path().stem().string();
    pages[std::stoi(stem.substr(stem.rfind('-') + 1))] = e.path().string();
  }
  return pages;
}

struct Image {
  int W = 0, H = 0;
  std::vector<uint8_t> Rgb;
  uint8_t R(int x, int y) const { return Rgb[(size_t(y) * size_t(W) + size_t(x)) * 3]; }
  uint8_t G(int x, int y) const { return Rgb[(size_t(y) * size_t(W) + size_t(x)) * 3 + 1]; }
  uint8_t B(int x, int y) const { return Rgb[(size_t(y) * size_t(W) + size_t(x)) * 3 + 2]; }
  double Grey(int x, int y) const { return 0.299 * R(x, y) + 0.587 * G(x, y) + 0.114 * B(x, y); }
};

Image ReadPng(const std::string& path) {
  Image im;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return im;
  img.format = PNG_FORMAT_RGB;
  im.Rgb.resize(PNG_IMAGE_SIZE(img));
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&img, &white, im.Rgb.data(), 0, nullptr)) return {};
  im.W = int(img.width), im.H = int(img.height);
  return im;
}

std::string Base64(const std::string& in) {
  static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(in[i])) << 16;
    if (i + 1 < in.size()) v |= uint32_t(uint8_t(in[i + 1])) << 8;
    if (i + 2 < in.size()) v |= uint8_t(in[i + 2]);
    out += k[v >> 18 & 63];
    out += k[v >> 12 & 63];
    out += i + 1 < in.size() ? k[v >> 6 & 63] : '=';
    out += i + 2 < in.size() ? k[v & 63] : '=';
  }
  return out;
}

// How alike the ink of two images is along the rows [top, bottom), in columns of 16
// pixels (a few letters), as the correlation of the two profiles.
double InkAlongCorrelation(const Image& a, const Image& b, int top, int bottom) {
  std::vector<double> pa(size_t(a.W / 16 + 1)), pb(pa.size());
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < a.W; ++x) {
      pa[size_t(x / 16)] += 255 - a.Grey(x, y);
      pb[size_t(x / 16)] += 255 - b.Grey(x, y);
    }
  double ma = std::accumulate(pa.begin(), pa.end(), 0.0) / double(pa.size());
  double mb = std::accumulate(pb.begin(), pb.end(), 0.0) / double(pb.size());
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i < pa.size(); ++i) {
    ab += (pa[i] - ma) * (pb[i] - mb);
    aa += (pa[i] - ma) * (pa[i] - ma);
    bb += (pb[i] - mb) * (pb[i] - mb);
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// SSIM of two equally sized images over the rows [top, bottom), 7 x 7 windows, grey.
double BandSsim(const Image& a, const Image& b, int top, int bottom) {
  const double c1 = 6.5025, c2 = 58.5225;
  double sum = 0;
  int n = 0;
  for (int y = top; y + 7 <= bottom; y += 2)
    for (int x = 0; x + 7 <= a.W; x += 2) {
      double ma = 0, mb = 0, va = 0, vb = 0, cov = 0;
      for (int j = 0; j < 7; ++j)
        for (int i = 0; i < 7; ++i) ma += a.Grey(x + i, y + j), mb += b.Grey(x + i, y + j);
      ma /= 49, mb /= 49;
      for (int j = 0; j < 7; ++j)
        for (int i = 0; i < 7; ++i) {
          double da = a.Grey(x + i, y + j) - ma, db = b.Grey(x + i, y + j) - mb;
          va += da * da, vb += db * db, cov += da * db;
        }
      if (va + vb == 0) continue;  // blank on both sides: says nothing about the order of letters
      va /= 48, vb /= 48, cov /= 48;
      sum += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
      ++n;
    }
  return n ? sum / n : 0;
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

// A page as 8-bit grey on white: pages of 1200 dpi fit in memory this way.

// Poppler's rendering at `dpi` of LibreOffice's own PDF of the document: the reference.
std::map<int, std::string> PopplerPages(const std::string& docx, const std::string& folder, int dpi) {
  std::filesystem::create_directories(folder);
  Store(docx, folder + "/doc.pdf");
  std::map<int, std::string> pages;
  if (Shell("pdftoppm -r " + std::to_string(dpi) + " -png '" + folder + "/doc.pdf' '" + folder + "/ref'") != 0)
    return pages;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().extension() == ".png") {
      std::string stem = e.path().stem().string();
      pages[std::stoi(stem.substr(stem.rfind('-') + 1))] = e.path().string();
    }
  return pages;
}

class Pages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { office::RegisterWordApplication(); }
  void SetUp() override {
    kx::RegisterLumipix();
    std::filesystem::copy_file(LUMI_PNG_MODULE, kx::App->ExeName + ".so");
  }
  kxtest::ProjectScope Scope;
};

}  // namespace

TEST_F(Pages, MixedPageSizesGiveEachPageItsOwnSizeInBothEditions) {
  std::string fodt = Fodt(
      PageLayout(1, "fo:page-width=\"21cm\" fo:page-height=\"29.7cm\" fo:margin=\"2cm\"") +
          PageLayout(2,
                     "fo:page-width=\"11in\" fo:page-height=\"8.5in\" style:print-orientation=\"landscape\" "
                     "fo:margin=\"2cm\"") +
          PageLayout(3, "fo:page-width=\"14.8cm\" fo:page-height=\"21cm\" fo:margin=\"2cm\"") +
          PageLayout(4,
                     "fo:page-width=\"40cm\" fo:page-height=\"15cm\" style:print-orientation=\"landscape\" "
                     "fo:margin=\"2cm\"") +
          "<style:style style:name=\"Right\" style:family=\"paragraph\"><style:paragraph-properties "
          "fo:text-align=\"end\"/>"
          "<style:text-properties fo:font-size=\"40pt\"/></style:style>\n",
      MasterPage(1) + MasterPage(2) + MasterPage(3) + MasterPage(4),
      "<text:p text:style-name=\"P1\">A4 portrait</text:p>\n<text:p text:style-name=\"P2\">Letter landscape</text:p>\n"
      "<text:p text:style-name=\"P3\">A5</text:p>\n<text:p text:style-name=\"P4\">A wide page</text:p>\n"
      "<text:p text:style-name=\"Right\">RIGHT END</text:p>\n");
  MakeDocument(fodt, Scope.Dir / "mixed.docx");
  std::map<int, std::string> png = Convert(Scope, 0, Scope.Dir / "*.docx", "mixed");
  std::map<int, std::string> emf = Convert(Scope, 1, Scope.Dir / "*.docx", "mixed");
  ASSERT_EQ(png.size(), 4u);
  ASSERT_EQ(emf.size(), 4u);
  // 96 dpi to the pixel, rounded up: A4, Letter across, A5, 400 x 150 mm.
  int sizes[4][2] = {{794, 1123}, {1056, 816}, {560, 794}, {1512, 567}};
  for (int i = 1; i <= 4; ++i) {
    Image page = ReadPng(png[i]);
    EXPECT_EQ(page.W, sizes[i - 1][0]) << i;
    EXPECT_EQ(page.H, sizes[i - 1][1]) << i;
    TkxMetafile mf;
    mf.LoadFromFile(emf[i]);
    EXPECT_EQ(mf.Width(), sizes[i - 1][0]) << i;
    EXPECT_EQ(mf.Height(), sizes[i - 1][1]) << i;
  }
  // The wide page is whole: its right-aligned line ends near its right margin (2 cm = 76 px).
  Image wide = ReadPng(png[4]);
  int rightmost = 0;
  for (int y = 0; y < wide.H; ++y)
    for (int x = 0; x < wide.W; ++x)
      if (wide.Grey(x, y) < 128) rightmost = std::max(rightmost, x);
  EXPECT_GT(rightmost, 1512 - 76 - 30);
  EXPECT_LE(rightmost, 1512 - 76 + 2);
}

TEST_F(Pages, PictureCroppedOnAllFourSidesShowsOnlyItsCroppedPart) {
  // 400 x 400 pixels: bands of 100 pixels, red on top, blue at the bottom, yellow on the
  // left, magenta on the right, around a green square; each band is cropped away.
  std::vector<uint8_t> rgba;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x) {
      uint32_t c = y < 100 ? 0xFF0000 : y >= 300 ? 0x0000FF : x < 100 ? 0xFFFF00 : x >= 300 ? 0xFF00FF : 0x00FF00;
      rgba.insert(rgba.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 255});
    }
  std::string png = kxtest::PngFromRgba(400, 400, rgba);
  // A picture without a resolution is 96 dpi to LibreOffice: 100 pixels are 1.0417 in.
  std::string fodt = Fodt(
      "<style:style style:name=\"fr1\" style:family=\"graphic\"><style:graphic-properties "
      "fo:clip=\"rect(1.0417in, 1.0417in, 1.0417in, 1.0417in)\"/></style:style>\n",
      "",
      "<text:p>A headline above the picture</text:p>\n"
      "<text:p><draw:frame draw:style-name=\"fr1\" text:anchor-type=\"as-char\" svg:width=\"2.0833in\" "
      "svg:height=\"2.0833in\"><draw:image><office:binary-data>" +
          Base64(png) +
          "</office:binary-data></draw:image></draw:frame></text:p>\n"
          "<text:p>A caption below the picture</text:p>\n");
  MakeDocument(fodt, Scope.Dir / "cropped.docx");
  std::map<int, std::string> pages = Convert(Scope, 0, Scope.Dir / "*.docx", "cropped");
  ASSERT_EQ(pages.size(), 1u);
  Image page = ReadPng(pages[1]);
  ASSERT_GT(page.W, 0);
  int green = 0, band = 0;
  for (int y = 0; y < page.H; ++y)
    for (int x = 0; x < page.W; ++x) {
      int r = page.R(x, y), g = page.G(x, y), b = page.B(x, y);
      if (g > 200 && r < 60 && b < 60) ++green;
      bool red = r > 200 && g < 60 && b<60, blue = b> 200 && r < 60 && g < 60;
      bool yellow = r > 200 && g > 200 && b<60, magenta = r> 200 && b > 200 && g < 60;
      if (red || blue || yellow || magenta) ++band;
    }
  EXPECT_GT(green, 150 * 150);  // the 2.08 in square at 96 dpi: 200 x 200 pixels
  EXPECT_LT(green, 210 * 210);
  EXPECT_EQ(band, 0) << "pixels of the cropped bands on the page";
}

TEST_F(Pages, LetterPageAndMetafilesThatOtherReadersOpen) {
  std::string fodt =
      Fodt(PageLayout(1, "fo:page-width=\"8.5in\" fo:page-height=\"11in\" fo:margin=\"1in\"") +
               "<style:style style:name=\"T1\" style:family=\"text\"><style:text-properties fo:font-style=\"italic\" "
               "fo:font-weight=\"bold\"/></style:style>\n",
           MasterPage(1),
           "<text:p text:style-name=\"P1\">A Letter page with <text:span text:style-name=\"T1\">bold "
           "italic</text:span> text.</text:p>\n"
           "<text:list><text:list-item><text:p>A bullet</text:p></text:list-item></text:list>\n");
  MakeDocument(fodt, Scope.Dir / "letter.docx");
  std::map<int, std::string> png = Convert(Scope, 0, Scope.Dir / "*.docx", "letter");
  std::map<int, std::string> emf = Convert(Scope, 1, Scope.Dir / "*.docx", "letter");
  ASSERT_EQ(png.size(), 1u);
  ASSERT_EQ(emf.size(), 1u);
  Image page = ReadPng(png[1]);
  EXPECT_EQ(page.W, 816);
  EXPECT_EQ(page.H, 1056);
  TkxMetafile mf;
  mf.LoadFromFile(emf[1]);
  EXPECT_EQ(mf.Width(), 816);
  EXPECT_EQ(mf.Height(), 1056);
  // LibreOffice reads the metafile as a picture and writes it as PNG.
  std::string out = Scope.Dir / "readers/";
  std::filesystem::create_directories(out);
  std::string cmd = "cd '" + out + "' && timeout 180 soffice -env:UserInstallation=file://" + out +
                    "profile --headless --convert-to png '" + emf[1] + "'";
  EXPECT_EQ(Shell(cmd), 0);
  std::string lo = out + std::filesystem::path(emf[1]).stem().string() + ".png";
  Image read = ReadPng(lo);
  EXPECT_GT(read.W, 0) << lo;
  int dark = 0;
  for (int y = 0; y < read.H; ++y)
    for (int x = 0; x < read.W; ++x) dark += read.Grey(x, y) < 128;
  EXPECT_GT(dark, 100) << "LibreOffice drew the page's text";
  // emf2svg reads it without error.
  std::string svg = out + "page.svg";
  EXPECT_EQ(Shell("timeout 60 emf2svg-conv -i '" + emf[1] + "' -o '" + svg + "'"), 0);
  std::string svgText = kxtest::ReadFile(svg);
  EXPECT_NE(svgText.find("<svg"), std::string::npos);
  EXPECT_NE(svgText.find("<text"), std::string::npos);
}

TEST_F(Pages, RightToLeftVocalisedAndDevanagariLinesAsPopplerDrawsThem) {
  // Hebrew and Arabic paragraphs, a Latin one to show what agreement looks like,
  // paragraphs of both directions (Writer draws their blanks and punctuation in the
  // Latin font, apart from the words), vocalised Arabic and Devanagari.
  std::string fodt = Fodt(
      "<style:style style:name=\"R\" style:family=\"paragraph\"><style:paragraph-properties "
      "style:writing-mode=\"rl-tb\" "
      "fo:text-align=\"start\" fo:margin-bottom=\"0.5in\"/><style:text-properties style:font-name-complex=\"DejaVu "
      "Sans\" "
      "style:font-size-complex=\"24pt\" fo:font-size=\"24pt\"/></style:style>\n"
      "<style:style style:name=\"L\" style:family=\"paragraph\"><style:paragraph-properties "
      "fo:margin-bottom=\"0.5in\"/>"
      "<style:text-properties style:font-name=\"DejaVu Sans\" fo:font-size=\"24pt\"/></style:style>\n",
      "",
      "<text:p text:style-name=\"L\">Hello world, left to right</text:p>\n"
      "<text:p text:style-name=\"R\">שלום עולם, מימין לשמאל</text:p>\n"
      "<text:p text:style-name=\"R\">مرحبا بالعالم من اليمين</text:p>\n"
      "<text:p text:style-name=\"R\">מחיר 123 world שקל, (בערך).</text:p>\n"
      "<text:p text:style-name=\"L\">Version 3.5 של התוכנה</text:p>\n"
      "<text:p text:style-name=\"R\">مَرْحَبًا بِالْعَالَمِ</text:p>\n"
      "<text:p text:style-name=\"L\">नि हिन्दी हिमालय</text:p>\n");
  MakeDocument(fodt, Scope.Dir / "rtl.docx");
  Store(Scope.Dir / "rtl.docx", Scope.Dir / "pdf/rtl.pdf");  // the PDF that the conversion reads too
  ASSERT_EQ(Shell("pdftoppm -r 96 -png '" + Scope.Dir / "pdf/rtl.pdf" + "' '" + Scope.Dir / "pdf/ref" + "'"), 0);
  std::map<int, std::string> png = Convert(Scope, 0, Scope.Dir / "*.docx", "rtl");
  ASSERT_EQ(png.size(), 1u);
  Image ours = ReadPng(png[1]), ref = ReadPng(Scope.Dir / "pdf/ref-1.png");
  ASSERT_EQ(ours.W, ref.W);
  ASSERT_EQ(ours.H, ref.H);
  // The lines, where poppler drew them (vowels a few rows off their letters belong to them).
  std::vector<std::pair<int, int>> lines;
  for (int y = 0, start = -1; y < ref.H; ++y) {
    bool ink = false;
    for (int x = 0; x < ref.W && !ink; ++x) ink = ref.Grey(x, y) < 160;
    if (ink && start < 0) start = y;
    if (ink || start < 0) continue;
    if (!lines.empty() && start - lines.back().second < 8)
      lines.back().second = y;
    else
      lines.push_back({start, y});
    start = -1;
  }
  ASSERT_EQ(lines.size(), 7u);
  // The metafile as Inkscape reads it, which lays consecutive text records out together.
  std::map<int, std::string> emf = Convert(Scope, 1, Scope.Dir / "*.docx", "rtl");
  ASSERT_EQ(emf.size(), 1u);
  std::string inkscape = Scope.Dir / "inkscape.png";
  ASSERT_EQ(Shell("timeout 120 inkscape '" + emf[1] + "' --export-type=png --export-dpi=96 --export-filename='" +
                  inkscape + "' >/dev/null 2>&1"),
            0);
  Image ink = ReadPng(inkscape);
  ASSERT_EQ(ink.W, ref.W);
  ASSERT_EQ(ink.H, ref.H);
  const char* names[] = {"Latin",
                         "Hebrew",
                         "Arabic",
                         "Hebrew with a number and a Latin word",
                         "Latin with Hebrew words",
                         "Arabic with its vowels",
                         "Devanagari"};
  for (size_t i = 0; i < lines.size(); ++i) {
    int top = std::max(0, lines[i].first - 4), bottom = std::min(ref.H, lines[i].second + 4);
    // Arabic words run together were shaped as one (0.83); brackets drawn in the Latin
    // font came out facing the wrong way (0.90); Arabic vowels, which Writer sets off the
    // baseline, had split the words into letters that did not join; a Devanagari vowel
    // drawn before its consonant, whose text only the span around them gives, came out
    // over the wrong consonant.
    EXPECT_GT(BandSsim(ours, ref, top, bottom), 0.95) << names[i] << " line, rows " << top << " to " << bottom;
    // Inkscape draws with its own advances from each record's start: words in their
    // places, neither run together nor out of order (it was 0.61 to 0.87 for these lines).
    EXPECT_GT(InkAlongCorrelation(ink, ref, top, bottom), 0.9) << names[i] << " line as Inkscape draws it";
  }
}

TEST_F(Pages, TrackedChangesLookTheSameWhateverWasConvertedBefore) {
  // Two documents with an insertion each, by different authors.
  for (const char* who : {"Alice", "Bob"}) {
    std::string fodt =
        Fodt("", "",
             "<text:tracked-changes text:track-changes=\"true\"><text:changed-region text:id=\"ct1\"><text:insertion>"
             "<office:change-info><dc:creator xmlns:dc=\"http://purl.org/dc/elements/1.1/\">" +
                 std::string(who) +
                 "</dc:creator><dc:date xmlns:dc=\"http://purl.org/dc/elements/1.1/\">2020-01-01T10:00:00</dc:date>"
                 "</office:change-info></text:insertion></text:changed-region></text:tracked-changes>\n"
                 "<text:p>Before <text:change-start text:change-id=\"ct1\"/>INSERTED<text:change-end "
                 "text:change-id=\"ct1\"/> after.</text:p>\n");
    MakeDocument(fodt, Scope.Dir / (std::string(who) + ".docx"));
  }
  auto pagesOf = [](office::TkxOfficeProcess& office, const std::string& path) {
    office::TkxWriterDocument doc(office, path, true, nullptr);
    return doc.Pages();
  };
  std::vector<std::string> alone, after;
  {
    office::TkxOfficeProcess fresh;
    alone = pagesOf(fresh, Scope.Dir / "Bob.docx");
  }
  {
    office::TkxOfficeProcess used;
    pagesOf(used, Scope.Dir / "Alice.docx");
    after = pagesOf(used, Scope.Dir / "Bob.docx");
  }
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(after, alone);
  // The insertion in the colour a fresh office gives a document's first author.
  const std::string colour("\x18\0\0\0\x0c\0\0\0\xc6\x92\0\0", 12);  // EMR_SETTEXTCOLOR #C69200
  EXPECT_NE(alone[0].find(colour), std::string::npos);
}

TEST_F(Pages, TranslucentShapeAndTextGradientEquationAndChartAsPopplerDrawsThem) {
  // Five blocks down an A4 page: text under a square and a half-transparent ellipse, a
  // red-to-blue gradient box, an equation, a chart, a line of 40 % opaque red text.
  std::string chart =
      "<office:document office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.chart\">"
      "<office:body><office:chart><chart:chart svg:width=\"12cm\" svg:height=\"7cm\" chart:class=\"chart:bar\">"
      "<chart:title><text:p>Sales by quarter</text:p></chart:title><chart:legend chart:legend-position=\"end\"/>"
      "<chart:plot-area table:cell-range-address=\"local-table.$A$1:.$B$5\" chart:data-source-has-labels=\"both\">"
      "<chart:axis chart:dimension=\"x\" chart:name=\"primary-x\"><chart:categories "
      "table:cell-range-address=\"local-table.$A$2:.$A$5\"/></chart:axis><chart:axis chart:dimension=\"y\" "
      "chart:name=\"primary-y\"><chart:grid chart:class=\"major\"/></chart:axis><chart:series "
      "chart:values-cell-range-address=\"local-table.$B$2:.$B$5\" chart:label-cell-address=\"local-table.$B$1\" "
      "chart:class=\"chart:bar\"/></chart:plot-area><table:table table:name=\"local-table\">"
      "<table:table-header-columns><table:table-column/></table:table-header-columns><table:table-columns>"
      "<table:table-column/></table:table-columns><table:table-header-rows><table:table-row><table:table-cell/>"
      "<table:table-cell office:value-type=\"string\"><text:p>North</text:p></table:table-cell></table:table-row>"
      "</table:table-header-rows><table:table-rows>";
  for (int q = 1; q <= 4; ++q)
    chart += "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>Q" + std::to_string(q) +
             "</text:p></table:table-cell><table:table-cell office:value-type=\"float\" office:value=\"" +
             std::to_string(q * 3 % 7 + 2) + "\"/></table:table-row>";
  chart += "</table:table-rows></table:table></chart:chart></office:chart></office:body></office:document>";
  auto shape = [](const char* kind, const char* style, const char* x, const char* y, const char* w, const char* h) {
    return std::string("<draw:") + kind + " draw:style-name=\"" + style + "\" text:anchor-type=\"paragraph\" svg:x=\"" +
           x + "\" svg:y=\"" + y + "\" svg:width=\"" + w + "\" svg:height=\"" + h + "\"/>";
  };
  std::string body =
      "<text:p>Text under a translucent ellipse that must stay readable through it, and more text here." +
      shape("rect", "square", "1cm", "0.2cm", "2.5cm", "2.5cm") +
      shape("ellipse", "ellipse", "1.5cm", "-0.3cm", "6cm", "4cm") +
      shape("rect", "gradient", "1cm", "6cm", "10cm", "4cm") +
      "</text:p>\n<text:p text:style-name=\"Below\">An equation: <draw:frame text:anchor-type=\"as-char\" "
      "svg:width=\"4cm\" svg:height=\"1.2cm\"><draw:object><math:math><math:semantics><math:mrow><math:msup>"
      "<math:mi>a</math:mi><math:mn>2</math:mn></math:msup><math:mo>+</math:mo><math:msup><math:mi>b</math:mi>"
      "<math:mn>2</math:mn></math:msup><math:mo>=</math:mo><math:msup><math:mi>c</math:mi><math:mn>2</math:mn>"
      "</math:msup></math:mrow><math:annotation math:encoding=\"StarMath 5.0\">a^2 + b^2 = c^2</math:annotation>"
      "</math:semantics></math:math></draw:object></draw:frame></text:p>\n"
      "<text:p text:style-name=\"Chart\"><draw:frame text:anchor-type=\"as-char\" svg:width=\"12cm\" "
      "svg:height=\"7cm\"><draw:object>" +
      chart + "</draw:object></draw:frame></text:p>\n" +
      "<text:p text:style-name=\"Faint\"><text:span text:style-name=\"Faint\">Faint red words</text:span></text:p>\n";
  std::string styles =
      PageLayout(1, "fo:page-width=\"21cm\" fo:page-height=\"29.7cm\" fo:margin=\"2cm\"") +
      "<style:style style:name=\"Faint\" style:family=\"text\"><style:text-properties fo:font-size=\"24pt\" "
      "fo:font-weight=\"bold\" fo:color=\"#dd0000\" loext:opacity=\"40%\"/></style:style>\n"
      "<style:style style:name=\"Faint\" style:family=\"paragraph\"><style:paragraph-properties "
      "fo:margin-top=\"1cm\"/></style:style>\n"
      "<style:style style:name=\"Below\" style:family=\"paragraph\"><style:paragraph-properties "
      "fo:margin-top=\"11cm\"/></style:style>\n"
      "<style:style style:name=\"Chart\" style:family=\"paragraph\"><style:paragraph-properties "
      "fo:margin-top=\"1cm\"/></style:style>\n"
      "<style:style style:name=\"square\" style:family=\"graphic\"><style:graphic-properties draw:fill=\"solid\" "
      "draw:fill-color=\"#0033cc\" draw:stroke=\"none\" style:wrap=\"run-through\" "
      "style:run-through=\"background\"/></style:style>\n"
      "<style:style style:name=\"ellipse\" style:family=\"graphic\"><style:graphic-properties draw:fill=\"solid\" "
      "draw:fill-color=\"#ff6600\" draw:opacity=\"50%\" draw:stroke=\"none\" style:wrap=\"run-through\" "
      "style:run-through=\"foreground\"/></style:style>\n"
      "<style:style style:name=\"gradient\" style:family=\"graphic\"><style:graphic-properties "
      "draw:fill=\"gradient\" draw:fill-gradient-name=\"redblue\" draw:stroke=\"none\" "
      "style:wrap=\"run-through\" style:run-through=\"foreground\"/></style:style>\n";
  std::string fodt = Fodt(styles, MasterPage(1), "<text:p text:style-name=\"P1\"/>" + body);
  // The gradient is a named style of its own, and the objects' name spaces join the head.
  fodt.replace(fodt.find("<office:automatic-styles>"), 0,
               "<office:styles><draw:gradient draw:name=\"redblue\" draw:style=\"linear\" "
               "draw:start-color=\"#ff0000\" draw:end-color=\"#0000ff\" draw:start-intensity=\"100%\" "
               "draw:end-intensity=\"100%\" draw:angle=\"0\" draw:border=\"0%\"/></office:styles>\n");
  fodt.replace(fodt.find("office:version="), 0,
               "xmlns:chart=\"urn:oasis:names:tc:opendocument:xmlns:chart:1.0\" "
               "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
               "xmlns:math=\"http://www.w3.org/1998/Math/MathML\" "
               "xmlns:loext=\"urn:org:documentfoundation:names:experimental:office:xmlns:loext:1.0\" ");
  MakeDocument(fodt, Scope.Dir / "objects.docx");
  std::map<int, std::string> ref = PopplerPages(Scope.Dir / "objects.docx", Scope.Dir / "ref", 96);
  std::map<int, std::string> png = Convert(Scope, 0, Scope.Dir / "*.docx", "objects");
  std::map<int, std::string> emf = Convert(Scope, 1, Scope.Dir / "*.docx", "objects");
  ASSERT_EQ(ref.size(), 1u);
  ASSERT_EQ(png.size(), 1u);
  ASSERT_EQ(emf.size(), 1u);
  Grey ours = ReadGrey(png[1]), theirs = ReadGrey(ref[1]);
  ASSERT_EQ(ours.W, theirs.W);
  ASSERT_EQ(ours.H, theirs.H);
  EXPECT_GE(Ssim(ours, theirs, 0, 0, ours.W, ours.H), 0.98);
  // The four blocks where poppler drew them (runs of rows with ink, apart by blank
  // rows), each as poppler drew it: an equation or a chart that did not print, a
  // ellipse drawn opaque over the text or a striped gradient each lowers its own.
  std::vector<std::pair<int, int>> blocks;
  for (int y = 0, start = -1, blank = 0; y <= theirs.H; ++y) {
    bool ink = false;
    for (int x = 0; y < theirs.H && x < theirs.W && !ink; ++x) ink = theirs.At(x, y) < 200;
    if (ink) {
      if (start < 0) start = y;
      blank = 0;
    } else if (start >= 0 && (++blank > 12 || y == theirs.H)) {
      blocks.push_back({start, y - blank + 1});
      start = -1;
    }
  }
  const char* names[] = {"text under the ellipse", "gradient", "equation", "chart", "translucent text"};
  ASSERT_EQ(blocks.size(), 5u) << "blocks of ink on poppler's page";
  for (size_t i = 0; i < 5; ++i) {
    int top = blocks[i].first - 6, bottom = blocks[i].second + 6, left = theirs.W, right = 0;
    for (int y = blocks[i].first; y < blocks[i].second; ++y)
      for (int x = 0; x < theirs.W; ++x)
        if (theirs.At(x, y) < 200) left = std::min(left, x), right = std::max(right, x);
    if (i < 4) {
      EXPECT_GE(Ssim(ours, theirs, left - 6, top, right + 7, bottom), 0.95) << names[i];
      continue;
    }
    // Faint text drawn opaque has two and a half times the ink; its shapes alone would
    // still look alike.
    double inkOurs = 0, inkTheirs = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x <= right; ++x) inkOurs += 255 - ours.At(x, y), inkTheirs += 255 - theirs.At(x, y);
    EXPECT_NEAR(inkOurs / inkTheirs, 1.0, 0.1) << names[i];
  }
  // The metafile for other readers: each drawing record's bounds is its own box, never
  // the whole page; each picture with alpha comes also as a PNG for readers without
  // ALPHABLEND; no gradient in strips.
  std::string bytes = kxtest::ReadFile(emf[1]);
  TkxMetafile mf;
  mf.LoadFromBytes(bytes);
  int fills = 0, blends = 0, twins = 0;
  uint32_t last = 0;
  for (const kxtest::EmfRecord& r : kxtest::EmfRecords(bytes)) {
    bool drawing = r.Type == emf::EMR_FILLPATH || r.Type == emf::EMR_STROKEPATH || r.Type == emf::EMR_STRETCHDIBITS ||
                   r.Type == emf::EMR_ALPHABLEND;
    if (drawing) {
      int32_t l = kxtest::EmfI32(bytes, r.Offset + 8), t = kxtest::EmfI32(bytes, r.Offset + 12);
      int32_t rr = kxtest::EmfI32(bytes, r.Offset + 16), bb = kxtest::EmfI32(bytes, r.Offset + 20);
      EXPECT_FALSE(l == 0 && t == 0 && rr == mf.Width() - 1 && bb == mf.Height() - 1)
          << "record " << r.Type << " at " << r.Offset << " bounds the whole page";
      EXPECT_TRUE(l >= 0 && t >= 0 && rr < mf.Width() && bb < mf.Height()) << "record at " << r.Offset;
    }
    fills += r.Type == emf::EMR_FILLPATH;
    if (r.Type == emf::EMR_ALPHABLEND) {
      ++blends;
      twins += last == emf::BI_PNG;
    }
    last = r.Type == emf::EMR_STRETCHDIBITS ? kxtest::EmfU32(bytes, r.Offset + emf::stretchdib::MinSize + 16) : 0;
  }
  EXPECT_GE(blends, 1) << "the translucent ellipse";
  EXPECT_EQ(twins, blends);
  EXPECT_LT(fills, 150) << "a gradient drawn as strips";
}

TEST_F(Pages, EveryResolutionGivesPopplersPageSize) {
  // A4 portrait and landscape at 150 and 300 dpi; Letter at 1200 dpi.
  std::string text =
      "<text:p>The quick brown fox jumps over the lazy dog. 0123456789 THE QUICK BROWN FOX.</text:p>\n"
      "<text:p>Lines of text show a page drawn a pixel off, or at another scale.</text:p>\n";
  std::string a4 = Fodt(PageLayout(1, "fo:page-width=\"21cm\" fo:page-height=\"29.7cm\" fo:margin=\"2cm\"") +
                            PageLayout(2,
                                       "fo:page-width=\"29.7cm\" fo:page-height=\"21cm\" "
                                       "style:print-orientation=\"landscape\" fo:margin=\"2cm\""),
                        MasterPage(1) + MasterPage(2),
                        "<text:p text:style-name=\"P1\">A4 portrait</text:p>\n" + text +
                            "<text:p text:style-name=\"P2\">A4 landscape</text:p>\n" + text);
  std::string letter = Fodt(PageLayout(1, "fo:page-width=\"8.5in\" fo:page-height=\"11in\" fo:margin=\"1in\""),
                            MasterPage(1), "<text:p text:style-name=\"P1\">Letter</text:p>\n" + text);
  std::filesystem::create_directories(Scope.Dir / "a4");
  std::filesystem::create_directories(Scope.Dir / "letter");
  MakeDocument(a4, Scope.Dir / "a4/a4.docx");
  MakeDocument(letter, Scope.Dir / "letter/letter.docx");
  struct Case {
    std::string Doc;
    int Dpi;
    size_t Pages;
  };
  for (const Case& c : {Case{"a4", 150, 2}, Case{"a4", 300, 2}, Case{"letter", 1200, 1}}) {
    std::string name = c.Doc + std::to_string(c.Dpi);
    std::map<int, std::string> ref =
        PopplerPages(Scope.Dir / (c.Doc + "/" + c.Doc + ".docx"), Scope.Dir / ("ref" + name), c.Dpi);
    std::map<int, std::string> png =
        Convert(Scope, 0, Scope.Dir / (c.Doc + "/*.docx"), name, "Dpi=" + std::to_string(c.Dpi));
    ASSERT_EQ(ref.size(), c.Pages) << name;
    ASSERT_EQ(png.size(), c.Pages) << name;
    for (size_t i = 1; i <= c.Pages; ++i) {
      Grey ours = ReadGrey(png[int(i)]), theirs = ReadGrey(ref[int(i)]);
      ASSERT_GT(theirs.W, 0) << name;
      EXPECT_EQ(ours.W, theirs.W) << name << " page " << i;
      EXPECT_EQ(ours.H, theirs.H) << name << " page " << i;
      if (ours.W == theirs.W && ours.H == theirs.H) {
        EXPECT_GE(Ssim(ours, theirs, 0, 0, ours.W, ours.H), 0.98) << name << " page " << i;
      }
    }
  }
}
