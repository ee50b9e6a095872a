#include "pdf/pdfops.h"

#include <charconv>

namespace kx::pdf {

namespace {

// The words and numbers of one line.
class Line {
 public:
  explicit Line(std::string_view s) : FS(s) {}

  std::string_view Word() {
    Blanks();
    size_t start = FP;
    while (FP < FS.size() && FS[FP] != ' ') ++FP;
    return FS.substr(start, FP - start);
  }
  bool Number(double& v) {
    Blanks();
    auto [end, ec] = std::from_chars(FS.data() + FP, FS.data() + FS.size(), v);
    if (ec != std::errc()) return false;
    FP = size_t(end - FS.data());
    return true;
  }
  bool Int(long long& v) {
    Blanks();
    auto [end, ec] = std::from_chars(FS.data() + FP, FS.data() + FS.size(), v);
    if (ec != std::errc()) return false;
    FP = size_t(end - FS.data());
    return true;
  }
  template <size_t N>
  bool Numbers(double (&v)[N]) {
    for (double& x : v)
      if (!Number(x)) return false;
    return true;
  }
  // The rest of the line after one blank, with the reader's escapes undone.
  std::string Rest() {
    std::string r;
    size_t p = FP < FS.size() && FS[FP] == ' ' ? FP + 1 : FP;
    for (; p < FS.size(); ++p) {
      char c = FS[p];
      if (c == '\\' && p + 1 < FS.size()) {
        char n = FS[++p];
        r.push_back(n == 'n' ? '\n' : n == 'r' ? '\r' : n);
      } else {
        r.push_back(c);
      }
    }
    FP = FS.size();
    return r;
  }
  bool End() {
    Blanks();
    return FP >= FS.size();
  }

 private:
  void Blanks() {
    while (FP < FS.size() && FS[FP] == ' ') ++FP;
  }
  std::string_view FS;
  size_t FP = 0;
};

bool ReadPath(Line& l, TkxPdfPath& path) {
  path.clear();
  while (!l.End()) {
    if (l.Word() != "subpath") return false;
    long long closed = 0;
    if (!l.Int(closed)) return false;
    TkxPdfSubpath sub;
    sub.Closed = closed != 0;
    double x, y;
    long long curve;
    for (;;) {
      Line peek = l;
      if (peek.End() || peek.Word() == "subpath") break;
      if (!l.Number(x) || !l.Number(y) || !l.Int(curve)) return false;
      sub.Points.push_back({x, y, curve != 0});
    }
    path.push_back(std::move(sub));
  }
  return true;
}

class Binary {
 public:
  explicit Binary(std::string_view b) : FB(b) {}
  bool Take(long long n, std::string_view& out) {
    if (n < 0 || size_t(n) > FB.size() - FP) return false;
    out = FB.substr(FP, size_t(n));
    FP += size_t(n);
    return true;
  }

 private:
  std::string_view FB;
  size_t FP = 0;
};

bool ReadImageData(Line& l, Binary& bin, TkxPdfImage& img) {
  std::string_view kind = l.Word();
  long long size = 0;
  if (!l.Int(size)) return false;
  if (kind == "JPEG")
    img.Format = TkxPdfImageFormat::Jpeg;
  else if (kind == "PNG")
    img.Format = TkxPdfImageFormat::Png;
  else if (kind == "PPM")
    img.Format = TkxPdfImageFormat::Ppm;
  else if (kind == "PBM")
    img.Format = TkxPdfImageFormat::Pbm;
  else
    return false;
  return bin.Take(size, img.Bytes);
}

// What one line came to: an operation the reader does not know, one it handled (or
// skipped as unreadable), or a fault that ends the reading.
enum class TLine { Unknown, Done, Broken };

// The operations of one reader output, line by line, with what lasts between lines.
class OpReader {
 public:
  OpReader(std::string_view binary, TkxPdfSink& sink) : FBin(binary), FSink(sink) {}

  TLine Read(Line& l) {
    std::string_view op = l.Word();
    TLine done = Drawing(op, l);
    if (done == TLine::Unknown) done = State(op, l);
    if (done == TLine::Unknown) done = Pages(op, l);
    return done;
  }
  bool Complete() const { return !FInPage && (FAnnounced < 0 || FPages == FAnnounced); }

 private:
  // Text, paths and images.
  TLine Drawing(std::string_view op, Line& l) {
    if (op == "drawChar") {
      double v[9];
      if (!l.Numbers(v)) return TLine::Done;
      FChar.X0 = v[0], FChar.Y0 = v[1], FChar.X1 = v[2], FChar.Y1 = v[3];
      // The reader writes the text matrix as a, c, b, d.
      FChar.A = v[4], FChar.C = v[5], FChar.B = v[6], FChar.D = v[7], FChar.Size = v[8];
      FChar.Text = l.Rest();
      FSink.DrawChar(FChar);
    } else if (op == "endTextObject") {
      FSink.EndText();
    } else if (op == "strokePath" || op == "fillPath" || op == "eoFillPath" || op == "clipPath" || op == "eoClipPath") {
      if (!ReadPath(l, FPath)) return TLine::Done;
      if (op == "strokePath")
        FSink.Stroke(FPath);
      else if (op == "fillPath")
        FSink.Fill(FPath, false);
      else if (op == "eoFillPath")
        FSink.Fill(FPath, true);
      else
        FSink.Clip(FPath, op == "eoClipPath");
    } else if (op == "drawImage" || op == "drawMask") {
      return Image(op == "drawMask", l);
    } else {
      return TLine::Unknown;
    }
    return TLine::Done;
  }

  TLine Image(bool mask, Line& l) {
    TkxPdfImage img;
    long long w = 0, h = 0, third = 0;
    if (!l.Int(w) || !l.Int(h) || !l.Int(third) || !ReadImageData(l, FBin, img)) return TLine::Broken;
    img.Width = int(w), img.Height = int(h);
    if (mask) {
      img.Stencil = true;
      img.Invert = third != 0;
    } else if (third > 0 && !FBin.Take(third, img.MaskColors)) {
      return TLine::Broken;
    }
    FSink.DrawImage(img);
    return TLine::Done;
  }

  // The graphics state: its stack, colours, font, transformation and lines.
  TLine State(std::string_view op, Line& l) {
    if (op == "saveState") {
      FSink.SaveState();
    } else if (op == "restoreState") {
      FSink.RestoreState();
    } else if (op == "updateFillColor" || op == "updateStrokeColor") {
      double c[4];
      if (!l.Numbers(c)) return TLine::Done;
      if (op == "updateFillColor")
        FSink.SetFillColor(c[0], c[1], c[2], c[3]);
      else
        FSink.SetStrokeColor(c[0], c[1], c[2], c[3]);
    } else if (op == "updateFont") {
      return Font(l);
    } else if (op == "updateCtm") {
      double m[6];
      if (l.Numbers(m)) FSink.SetCtm(m);
    } else {
      return Lines(op, l);
    }
    return TLine::Done;
  }

  TLine Font(Line& l) {
    TkxPdfFont f;
    long long embedded = 0, bold = 0, italic = 0, underline = 0, embedSize = 0;
    if (!l.Int(f.Id) || !l.Int(embedded) || !l.Int(bold) || !l.Int(italic) || !l.Int(underline) || !l.Number(f.Size) ||
        !l.Int(embedSize))
      return TLine::Broken;
    f.Bold = bold != 0, f.Italic = italic != 0;
    f.Name = l.Rest();
    if (!FBin.Take(embedSize, f.Program)) return TLine::Broken;
    FSink.SetFont(f);
    return TLine::Done;
  }

  TLine Lines(std::string_view op, Line& l) {
    if (op == "updateLineWidth" || op == "updateMiterLimit") {
      double w;
      if (!l.Number(w)) return TLine::Done;
      if (op == "updateLineWidth")
        FSink.SetLineWidth(w);
      else
        FSink.SetMiterLimit(w);
    } else if (op == "updateLineJoin" || op == "updateLineCap" || op == "setTextRenderMode") {
      long long v;
      if (!l.Int(v)) return TLine::Done;
      if (op == "updateLineJoin")
        FSink.SetLineJoin(int(v));
      else if (op == "updateLineCap")
        FSink.SetLineCap(int(v));
      else
        FSink.SetTextRenderMode(int(v));
    } else if (op == "updateLineDash") {
      double phase = 0;
      long long n = 0;
      std::vector<double> dashes;
      if (l.Number(phase) && l.Int(n))
        for (double d; n-- > 0 && l.Number(d);) dashes.push_back(d);
      FSink.SetLineDash(phase, dashes);
    } else {
      return TLine::Unknown;
    }
    return TLine::Done;
  }

  TLine Pages(std::string_view op, Line& l) {
    if (op == "startPage") {
      double w = 0, h = 0;
      if (!l.Number(w) || !l.Number(h)) return TLine::Broken;
      FInPage = true;
      FSink.StartPage(w, h);
    } else if (op == "endPage") {
      FInPage = false;
      ++FPages;
      FSink.EndPage();
    } else if (op == "setPageNum") {
      l.Int(FAnnounced);
    } else {
      return TLine::Unknown;
    }
    return TLine::Done;
  }

  Binary FBin;
  TkxPdfSink& FSink;
  bool FInPage = false;
  long long FAnnounced = -1, FPages = 0;
  TkxPdfPath FPath;
  TkxPdfChar FChar;
};

}  // namespace

bool ReadPdfOps(std::string_view text, std::string_view binary, TkxPdfSink& sink) {
  OpReader reader(binary, sink);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    Line l(text.substr(pos, end - pos));
    pos = end + 1;
    if (reader.Read(l) == TLine::Broken) return false;
  }
  return reader.Complete();
}

}  // namespace kx::pdf
