#include "office/pdfops.h"

#include <charconv>

namespace kx::office {

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
  if (kind == "JPEG") img.Format = TkxPdfImageFormat::Jpeg;
  else if (kind == "PNG") img.Format = TkxPdfImageFormat::Png;
  else if (kind == "PPM") img.Format = TkxPdfImageFormat::Ppm;
  else if (kind == "PBM") img.Format = TkxPdfImageFormat::Pbm;
  else return false;
  return bin.Take(size, img.Bytes);
}

}  // namespace

bool ReadPdfOps(std::string_view text, std::string_view binary, TkxPdfSink& sink) {
  Binary bin(binary);
  bool inPage = false;
  long long announced = -1, pages = 0;
  TkxPdfPath path;
  TkxPdfChar ch;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    Line l(text.substr(pos, end - pos));
    pos = end + 1;
    std::string_view op = l.Word();
    if (op == "drawChar") {
      double v[9];
      if (!l.Numbers(v)) continue;
      ch.X0 = v[0], ch.Y0 = v[1], ch.X1 = v[2], ch.Y1 = v[3];
      // The reader writes the text matrix as a, c, b, d.
      ch.A = v[4], ch.C = v[5], ch.B = v[6], ch.D = v[7], ch.Size = v[8];
      ch.Text = l.Rest();
      sink.DrawChar(ch);
    } else if (op == "updateFillColor" || op == "updateStrokeColor") {
      double c[4];
      if (!l.Numbers(c)) continue;
      if (op == "updateFillColor")
        sink.SetFillColor(c[0], c[1], c[2], c[3]);
      else
        sink.SetStrokeColor(c[0], c[1], c[2], c[3]);
    } else if (op == "saveState") {
      sink.SaveState();
    } else if (op == "restoreState") {
      sink.RestoreState();
    } else if (op == "endTextObject") {
      sink.EndText();
    } else if (op == "updateFont") {
      TkxPdfFont f;
      long long embedded = 0, bold = 0, italic = 0, underline = 0, embedSize = 0;
      if (!l.Int(f.Id) || !l.Int(embedded) || !l.Int(bold) || !l.Int(italic) || !l.Int(underline) ||
          !l.Number(f.Size) || !l.Int(embedSize))
        return false;
      f.Bold = bold != 0, f.Italic = italic != 0;
      f.Name = l.Rest();
      std::string_view fontFile;
      if (!bin.Take(embedSize, fontFile)) return false;
      sink.SetFont(f);
    } else if (op == "strokePath" || op == "fillPath" || op == "eoFillPath" || op == "clipPath" || op == "eoClipPath") {
      if (!ReadPath(l, path)) continue;
      if (op == "strokePath") sink.Stroke(path);
      else if (op == "fillPath") sink.Fill(path, false);
      else if (op == "eoFillPath") sink.Fill(path, true);
      else sink.Clip(path, op == "eoClipPath");
    } else if (op == "updateCtm") {
      double m[6];
      if (l.Numbers(m)) sink.SetCtm(m);
    } else if (op == "updateLineWidth" || op == "updateMiterLimit") {
      double w;
      if (!l.Number(w)) continue;
      if (op == "updateLineWidth") sink.SetLineWidth(w);
      else sink.SetMiterLimit(w);
    } else if (op == "updateLineJoin" || op == "updateLineCap" || op == "setTextRenderMode") {
      long long v;
      if (!l.Int(v)) continue;
      if (op == "updateLineJoin") sink.SetLineJoin(int(v));
      else if (op == "updateLineCap") sink.SetLineCap(int(v));
      else sink.SetTextRenderMode(int(v));
    } else if (op == "updateLineDash") {
      double phase = 0;
      long long n = 0;
      std::vector<double> dashes;
      if (l.Number(phase) && l.Int(n))
        for (double d; n-- > 0 && l.Number(d);) dashes.push_back(d);
      sink.SetLineDash(phase, dashes);
    } else if (op == "drawImage" || op == "drawMask") {
      TkxPdfImage img;
      long long w = 0, h = 0, third = 0;
      if (!l.Int(w) || !l.Int(h) || !l.Int(third) || !ReadImageData(l, bin, img)) return false;
      img.Width = int(w), img.Height = int(h);
      if (op == "drawMask") {
        img.Stencil = true;
        img.Invert = third != 0;
      } else if (third > 0 && !bin.Take(third, img.MaskColors)) {
        return false;
      }
      sink.DrawImage(img);
    } else if (op == "startPage") {
      double w = 0, h = 0;
      if (!l.Number(w) || !l.Number(h)) return false;
      inPage = true;
      sink.StartPage(w, h);
    } else if (op == "endPage") {
      inPage = false;
      ++pages;
      sink.EndPage();
    } else if (op == "setPageNum") {
      l.Int(announced);
    }
  }
  return !inPage && (announced < 0 || pages == announced);
}

}  // namespace kx::office
