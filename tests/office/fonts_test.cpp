// Text in the face Writer drew it with: Word documents set in one font each, made
// into PDF by LibreOffice, translated into metafiles and played, against poppler's
// rendering of the same PDF; the metafiles' face names as other programs resolve
// them; and a font that only the PDF has.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "emf/emfplayer.h"
#include "emf/emfwalk.h"
#include "emf/metafile.h"
#include "officetestutil.h"
#include "pdf/pdfpage.h"
#include "pdf/pdfreader.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "testutil.h"

using kxtest::Grey;
using kxtest::GreyOf;
using kxtest::Ssim;

namespace {

namespace fs = std::filesystem;

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

// A Word document whose text is all in `font`: plain, bold, italic and bold italic, with
// ligatures, digits and punctuation, over several lines.
std::string DocumentIn(const std::string& font) {
  auto run = [&](const std::string& text, bool bold, bool italic) {
    return "<w:r><w:rPr><w:rFonts w:ascii=\"" + font + "\" w:hAnsi=\"" + font + "\"/>" + (bold ? "<w:b/>" : "") +
           (italic ? "<w:i/>" : "") + "<w:sz w:val=\"24\"/></w:rPr><w:t xml:space=\"preserve\">" + text +
           "</w:t></w:r>";
  };
  std::string body;
  for (int i = 0; i < 3; ++i)
    body += "<w:p>" +
            run("The office's affluent fjord: a quick brown fox jumps over the lazy dog, 0123456789. ", false, false) +
            run("Bold words, ", true, false) + run("italic words, ", false, true) +
            run("and bold italic ones (" + font + ").", true, true) + "</w:p>";
  return kxtest::DocxOf(body);
}

// Converts the documents in `dir` to PDF with LibreOffice's own command line, in a
// profile of its own; `env` goes before the command.
void ToPdf(const std::string& dir, const std::string& env = "") {
  std::string cmd = "cd '" + dir + "' && " + env + " timeout 300 soffice -env:UserInstallation=file://" + dir +
                    "/profile --headless --convert-to pdf --outdir pdf *.docx >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

// The page metafiles of a PDF as the page route makes them, and the trace it wrote.
std::vector<std::string> Translate(const std::string& pdf, std::string* trace = nullptr) {
  kx::pdf::TkxPdfReaderOutput r;
  EXPECT_TRUE(kx::pdf::RunPdfReader("/usr/lib/libreoffice/program/xpdfimport", pdf, 60000, r)) << pdf;
  FILE* lines = std::tmpfile();
  kx::SetTraceStream(lines);
  std::vector<std::string> pages = kx::pdf::TranslatePdfPages(r.Text, r.Binary);
  kx::SetTraceStream(nullptr);
  if (trace) {
    std::rewind(lines);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, lines)) > 0;) trace->append(buf, n);
  }
  std::fclose(lines);
  return pages;
}

// Each page played at its natural size against poppler's page at 96 dpi.
std::vector<double> PageSsims(const std::string& pdf, const std::vector<std::string>& pages) {
  std::string stem = pdf.substr(0, pdf.size() - 4) + "-ref";
  EXPECT_EQ(std::system(("pdftoppm -r 96 -png '" + pdf + "' '" + stem + "'").c_str()), 0);
  std::vector<double> r;
  for (size_t i = 0; i < pages.size(); ++i) {
    kx::TkxMetafile mf;
    mf.LoadFromBytes(pages[i]);
    cairo_surface_t* ours = cairo_image_surface_create(CAIRO_FORMAT_RGB24, mf.Width(), mf.Height());
    cairo_t* cr = cairo_create(ours);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    kx::PlayEnhMetafile(cr, pages[i], 0, 0, mf.Width(), mf.Height());
    cairo_destroy(cr);
    std::string ref = stem + "-" + std::to_string(i + 1) + ".png";
    if (!fs::exists(ref)) ref = stem + "-0" + std::to_string(i + 1) + ".png";
    cairo_surface_t* theirs = cairo_image_surface_create_from_png(ref.c_str());
    r.push_back(Ssim(GreyOf(ours), GreyOf(theirs)));
    cairo_surface_destroy(ours);
    cairo_surface_destroy(theirs);
  }
  return r;
}

// The face names of a metafile's fonts.
std::set<std::string> FaceNames(const std::string& emf) {
  std::set<std::string> faces;
  for (const kxtest::EmfRecord& r : kxtest::EmfRecordsOf(emf, kx::emf::EMR_EXTCREATEFONTINDIRECTW)) {
    std::u16string face;
    for (size_t o = r.Offset + kx::emf::font::FaceName; o + 2 <= r.Offset + r.Size; o += 2) {
      char16_t c = char16_t(kxtest::EmfU32(emf, o) & 0xFFFF);
      if (!c) break;
      face.push_back(c);
    }
    faces.insert(kx::Utf16ToUtf8(face));
  }
  return faces;
}

std::string FcFamily(const std::string& pattern) { return Output("fc-match -f '%{family[0]}' '" + pattern + "'"); }

}  // namespace

TEST(WriterFonts, EachFontInTheFaceWriterUsedAndNamedSoOthersFindIt) {
  kxtest::TempDir dir;
  const char* fonts[] = {"Book Antiqua",      "Palatino Linotype", "Century Schoolbook",
                         "Bookman Old Style", "Century Gothic",    "Garamond",
                         "Calibri",           "Cambria",           "Arial",
                         "Times New Roman",   "Courier New"};
  for (const char* font : fonts) {
    std::string name = font;
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    kxtest::WriteFile(dir / (name + ".docx"), DocumentIn(font));
  }
  ToPdf(dir.Path());
  for (const char* font : fonts) {
    std::string name = font;
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    std::string pdf = dir / ("pdf/" + name + ".pdf");
    // The families Writer used: its PDF's font names, as fontconfig resolves them.
    std::set<std::string> used;
    std::string listed = Output("pdffonts '" + pdf + "' | tail -n +3 | cut -d' ' -f1 | cut -d+ -f2");
    for (size_t at = 0, end; (end = listed.find('\n', at)) != std::string::npos; at = end + 1)
      used.insert(FcFamily(":postscriptname=" + listed.substr(at, end - at)));
    ASSERT_FALSE(used.empty()) << font;
    std::string trace;
    std::vector<std::string> pages = Translate(pdf, &trace);
    ASSERT_FALSE(pages.empty()) << font;
    std::vector<double> ssim = PageSsims(pdf, pages);
    for (size_t i = 0; i < ssim.size(); ++i) EXPECT_GE(ssim[i], 0.98) << font << ", page " << i + 1;
    for (const std::string& page : pages)
      for (const std::string& face : FaceNames(page))
        EXPECT_EQ(used.count(FcFamily(face)), 1u)
            << font << ": the metafile's face \"" << face << "\" resolves to " << FcFamily(face);
    // The trace says, per PDF font, the face it was drawn with.
    for (const std::string& family : used)
      EXPECT_NE(trace.find(": drawn with " + family + " "), std::string::npos) << font << "\n" << trace;
  }
}

TEST(WriterFonts, FontThatOnlyThePdfHasIsDrawnFromItsEmbeddedProgram) {
  // A face this process cannot find: Liberation Serif under another name, installed for
  // LibreOffice alone.
  kxtest::TempDir dir;
  const std::string family = "Lumipix Testface", ps = "LumipixTestface";
  ASSERT_NE(FcFamily(family), family) << "the test face must not be installed here";
  std::string font = kxtest::ReadFile("/usr/share/fonts/truetype/liberation2/LiberationSerif-Regular.ttf");
  ASSERT_FALSE(font.empty());
  auto rename = [&](const std::string& from, const std::string& to) {  // names of the same length
    for (bool wide : {false, true}) {
      std::string a, b;
      for (size_t i = 0; i < from.size(); ++i) {
        if (wide) a.push_back('\0'), b.push_back('\0');
        a.push_back(from[i]), b.push_back(to[i]);
      }
      for (size_t at; (at = font.find(a)) != std::string::npos;) font.replace(at, a.size(), b);
    }
  };
  rename("Liberation Serif", family);
  rename("LiberationSerif", ps);
  fs::create_directories(dir / "fonts");
  kxtest::WriteFile(dir / "fonts/testface.ttf", font);
  kxtest::WriteFile(dir / "fonts.conf",
                    "<?xml version=\"1.0\"?><fontconfig><include>/etc/fonts/fonts.conf</include><dir>" +
                        std::string(dir / "fonts") + "</dir><cachedir>" + std::string(dir / "fccache") +
                        "</cachedir></fontconfig>");
  std::string body;
  for (int i = 0; i < 6; ++i)
    body += "<w:p><w:r><w:rPr><w:rFonts w:ascii=\"" + family + "\" w:hAnsi=\"" + family +
            "\"/><w:sz w:val=\"28\"/></w:rPr><w:t>Only the PDF has this face: the office's affluent fjord, "
            "a quick brown fox jumps over the lazy dog " +
            std::to_string(i) + ".</w:t></w:r></w:p>";
  kxtest::WriteFile(dir / "embedded.docx", kxtest::DocxOf(body));
  ToPdf(dir.Path(), "FONTCONFIG_FILE='" + std::string(dir / "fonts.conf") + "'");
  std::string pdf = dir / "pdf/embedded.pdf";
  ASSERT_NE(Output("pdffonts '" + pdf + "'").find(ps), std::string::npos) << "Writer used the test face";

  std::string trace;
  std::vector<std::string> pages = Translate(pdf, &trace);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(FaceNames(pages[0]), std::set<std::string>{family});
  EXPECT_NE(pages[0].find("LUMIFONT"), std::string::npos) << "the metafile carries the font";
  EXPECT_NE(trace.find("PDF font " + ps + ": drawn with the program the PDF embeds"), std::string::npos) << trace;
  std::vector<double> ssim = PageSsims(pdf, pages);
  ASSERT_EQ(ssim.size(), 1u);
  EXPECT_GE(ssim[0], 0.98);
}

TEST(WriterFonts, SymbolFontsAndColourEmojiShowWhatWriterDrew) {
  kxtest::TempDir dir;
  auto sym = [](const char* font, const char* code) {
    return std::string("<w:r><w:sym w:font=\"") + font + "\" w:char=\"" + code + "\"/></w:r>";
  };
  auto text = [](const std::string& t, const char* font = nullptr) {
    std::string rpr =
        font ? std::string("<w:rPr><w:rFonts w:ascii=\"") + font + "\" w:hAnsi=\"" + font + "\"/></w:rPr>" : "";
    return "<w:r>" + rpr + "<w:t xml:space=\"preserve\">" + t + "</w:t></w:r>";
  };
  std::string body =
      "<w:p>" + sym("Symbol", "F0B7") + text("\tA bullet of the Symbol font") + "</w:p>" + "<w:p>" +
      sym("Wingdings", "F0A7") + text("\tA square bullet of Wingdings") + "</w:p>" + "<w:p>" +
      sym("Wingdings", "F0FE") + text(" done ") + sym("Wingdings", "F0A8") + text(" open ") + sym("Wingdings", "F0FB") +
      text(" refused") + "</w:p>" + "<w:p>" + text("Greek: ") + sym("Symbol", "F061") + sym("Symbol", "F062") +
      sym("Symbol", "F070") + text(" and typed in Symbol: ") + text("abgdp", "Symbol") + text(", in Wingdings: ") +
      text("JKL", "Wingdings") + "</w:p>" + "<w:p>" +
      text("Emoji: \xF0\x9F\x98\x80 smile, \xF0\x9F\x87\xAB\xF0\x9F\x87\xB7 flag, \xE2\x9D\xA4 heart, the next word.") +
      "</w:p>";
  kxtest::WriteFile(dir / "symbols.docx", kxtest::DocxOf(body));
  ToPdf(dir.Path());
  std::string pdf = dir / "pdf/symbols.pdf";
  std::vector<std::string> pages = Translate(pdf);
  ASSERT_EQ(pages.size(), 1u);
  // The text says what the glyphs show: no private-use codes, the Greek letters and the
  // check box of Unicode.
  std::u16string all;
  for (const kxtest::EmfRecord& r : kxtest::EmfRecordsOf(pages[0], kx::emf::EMR_EXTTEXTOUTW))
    all += kxtest::EmfText(pages[0], r);
  for (char16_t c : all) EXPECT_FALSE(c >= 0xE000 && c < 0xF900) << "private-use code U+" << std::hex << int(c);
  for (const char16_t* shown : {u"\u03b1\u03b2\u03c0", u"\u2022", u"\U0001F5F9", u"\U0001F600"})
    EXPECT_NE(all.find(shown), std::u16string::npos) << kx::Utf16ToUtf8(shown);
  // The page as poppler draws it, but for the emoji, which poppler leaves out (it draws no
  // colour glyphs) and the page shows in their colours.
  std::vector<double> ssim = PageSsims(pdf, pages);
  ASSERT_EQ(ssim.size(), 1u);
  EXPECT_GE(ssim[0], 0.98);
  kx::TkxMetafile mf;
  mf.LoadFromBytes(pages[0]);
  cairo_surface_t* ours = cairo_image_surface_create(CAIRO_FORMAT_RGB24, mf.Width(), mf.Height());
  cairo_t* cr = cairo_create(ours);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  kx::PlayEnhMetafile(cr, pages[0], 0, 0, mf.Width(), mf.Height());
  cairo_destroy(cr);
  cairo_surface_flush(ours);
  int coloured = 0;
  const unsigned char* d = cairo_image_surface_get_data(ours);
  for (int y = 0; y < mf.Height(); ++y)
    for (int x = 0; x < mf.Width(); ++x) {
      uint32_t p;
      std::memcpy(&p, d + size_t(y) * size_t(cairo_image_surface_get_stride(ours)) + size_t(x) * 4, 4);
      int r = int(p >> 16 & 255), g = int(p >> 8 & 255), b = int(p & 255);
      coloured += std::max({r, g, b}) - std::min({r, g, b}) > 100;
    }
  cairo_surface_destroy(ours);
  EXPECT_GT(coloured, 200) << "the emoji in colour";
}
