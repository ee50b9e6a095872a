#include "pdf/pdffile.h"

#include <Error.h>
#include <Gfx.h>
#include <GfxFont.h>
#include <GfxState.h>
#include <GlobalParams.h>
#include <OutputDev.h>
#include <PDFDoc.h>
#include <Stream.h>
#include <UTF.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>

namespace kx::pdf {

namespace {

constexpr double kResolution = 7200;                   // 100 device units a point, as the other reader gives
constexpr int64_t kMaxImagePixels = int64_t(1) << 26;  // larger pictures are left out
constexpr int kShadingSteps = 256;

// poppler reports its errors through one process-wide callback; each reading thread
// keeps its own last message.
thread_local std::string* LastError = nullptr;

void OnPopplerError(ErrorCategory category, Goffset, const char* msg) {
  if (LastError && msg && category != errSyntaxWarning) *LastError = msg;
}

void InitPoppler() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!globalParams) globalParams = std::make_unique<GlobalParams>();
    setErrorCallback(OnPopplerError);
  });
}

// Sink calls kept to be given again later: the contents of a transparency group are
// painted once the group ends, and a soft mask is drawn where it is used.
class Recorder : public TkxPdfSink {
 public:
  void Replay(TkxPdfSink& s) const {
    for (const auto& op : FOps) op(s);
  }
  void StartPage(double, double) override {}
  void EndPage() override {}
  void SaveState() override {
    Add([](TkxPdfSink& s) { s.SaveState(); });
  }
  void RestoreState() override {
    Add([](TkxPdfSink& s) { s.RestoreState(); });
  }
  void SetCtm(const double (&m)[6]) override {
    std::array<double, 6> c{m[0], m[1], m[2], m[3], m[4], m[5]};
    Add([c](TkxPdfSink& s) {
      double v[6] = {c[0], c[1], c[2], c[3], c[4], c[5]};
      s.SetCtm(v);
    });
  }
  void SetLineDash(double phase, const std::vector<double>& d) override {
    Add([phase, d](TkxPdfSink& s) { s.SetLineDash(phase, d); });
  }
  void SetLineJoin(int v) override {
    Add([v](TkxPdfSink& s) { s.SetLineJoin(v); });
  }
  void SetLineCap(int v) override {
    Add([v](TkxPdfSink& s) { s.SetLineCap(v); });
  }
  void SetMiterLimit(double v) override {
    Add([v](TkxPdfSink& s) { s.SetMiterLimit(v); });
  }
  void SetLineWidth(double v) override {
    Add([v](TkxPdfSink& s) { s.SetLineWidth(v); });
  }
  void SetTextRenderMode(int v) override {
    Add([v](TkxPdfSink& s) { s.SetTextRenderMode(v); });
  }
  void SetFillColor(double r, double g, double b, double a) override {
    Add([=](TkxPdfSink& s) { s.SetFillColor(r, g, b, a); });
  }
  void SetStrokeColor(double r, double g, double b, double a) override {
    Add([=](TkxPdfSink& s) { s.SetStrokeColor(r, g, b, a); });
  }
  void SetFont(const TkxPdfFont& f) override {
    Add([f](TkxPdfSink& s) { s.SetFont(f); });
  }
  void DrawChar(const TkxPdfChar& c) override {
    Add([c](TkxPdfSink& s) { s.DrawChar(c); });
  }
  void EndText() override {
    Add([](TkxPdfSink& s) { s.EndText(); });
  }
  void Stroke(const TkxPdfPath& p) override {
    Add([p](TkxPdfSink& s) { s.Stroke(p); });
  }
  void Fill(const TkxPdfPath& p, bool eo) override {
    Add([p, eo](TkxPdfSink& s) { s.Fill(p, eo); });
  }
  void Clip(const TkxPdfPath& p, bool eo) override {
    Add([p, eo](TkxPdfSink& s) { s.Clip(p, eo); });
  }
  void DrawImage(const TkxPdfImage& image) override {
    auto bytes = std::make_shared<std::string>(image.Bytes);
    auto key = std::make_shared<std::string>(image.MaskColors);
    TkxPdfImage copy = image;
    Add([copy, bytes, key](TkxPdfSink& s) {
      TkxPdfImage img = copy;
      img.Bytes = *bytes;
      img.MaskColors = *key;
      s.DrawImage(img);
    });
  }
  void FillShading(const TkxPdfShading& sh) override {
    auto copy = std::make_shared<TkxPdfShading>(sh);
    Add([copy](TkxPdfSink& s) { s.FillShading(*copy); });
  }
  void BeginGroup(double opacity) override {
    Add([opacity](TkxPdfSink& s) { s.BeginGroup(opacity); });
  }
  void EndGroup() override {
    Add([](TkxPdfSink& s) { s.EndGroup(); });
  }
  void DrawMasked(const TkxPdfSoftMask& m, const std::function<void(TkxPdfSink&)>& content) override {
    Add([m, content](TkxPdfSink& s) { s.DrawMasked(m, content); });
  }

 private:
  void Add(std::function<void(TkxPdfSink&)> op) { FOps.push_back(std::move(op)); }
  std::vector<std::function<void(TkxPdfSink&)>> FOps;
};

double Col(GfxColorComp c) { return colToDbl(c); }

TkxPdfPath PathOf(const GfxPath* path) {
  TkxPdfPath out;
  int n = path ? path->getNumSubpaths() : 0;
  out.reserve(size_t(std::max(n, 0)));
  for (int i = 0; i < n; ++i) {
    const GfxSubpath* sub = path->getSubpath(i);
    TkxPdfSubpath s;
    s.Closed = sub->isClosed();
    int points = sub->getNumPoints();
    s.Points.reserve(size_t(std::max(points, 0)));
    for (int k = 0; k < points; ++k) s.Points.push_back({sub->getX(k), sub->getY(k), sub->getCurve(k)});
    out.push_back(std::move(s));
  }
  return out;
}

std::string Utf8(const Unicode* u, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    uint32_t c = u[i];
    if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
    if (c < 0x80) {
      s.push_back(char(c));
    } else if (c < 0x800) {
      s.push_back(char(0xC0 | c >> 6)), s.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      s.push_back(char(0xE0 | c >> 12)), s.push_back(char(0x80 | (c >> 6 & 0x3F)));
      s.push_back(char(0x80 | (c & 0x3F)));
    } else {
      s.push_back(char(0xF0 | c >> 18)), s.push_back(char(0x80 | (c >> 12 & 0x3F)));
      s.push_back(char(0x80 | (c >> 6 & 0x3F))), s.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return s;
}

// One level of drawing: the page itself, a transparency group being recorded, or what
// is drawn under a soft mask (until the state the mask was set in is restored).
struct Context {
  std::shared_ptr<Recorder> Rec;  // null: the page
  int Depth = 0;                  // saved states inside this level
  std::unique_ptr<TkxPdfSoftMask> Mask;
};

class SinkDev : public OutputDev {
 public:
  SinkDev(PDFDoc& doc, TkxPdfSink& sink) : FDoc(doc), FSink(sink) { FLevels.emplace_back(); }

  bool upsideDown() override { return true; }
  bool useDrawChar() override { return true; }
  bool interpretType3Chars() override { return false; }
  bool needNonText() override { return true; }
  bool useShadedFills(int type) override { return type == 2 || type == 3; }

  void setDefaultCTM(const double* ctm) override {
    OutputDev::setDefaultCTM(ctm);
    double m[6] = {ctm[0], ctm[1], ctm[2], ctm[3], ctm[4], ctm[5]};
    Out().SetCtm(m);
  }
  void startPage(int, GfxState* state, XRef*) override {
    FLevels.clear();
    FLevels.emplace_back();
    FGroupDone.reset();
    FSink.StartPage(state->getPageWidth(), state->getPageHeight());
  }
  void endPage() override {
    while (FLevels.size() > 1) {
      if (Top().Mask)
        EndMasked();
      else
        FLevels.pop_back();
    }
    FSink.EndPage();
  }

  void saveState(GfxState*) override {
    ++Top().Depth;
    Out().SaveState();
  }
  void restoreState(GfxState*) override {
    while (Top().Mask && Top().Depth == 0) EndMasked();
    if (Top().Depth > 0) --Top().Depth;
    Out().RestoreState();
  }
  // NOLINTNEXTLINE(readability-function-size): poppler's signature
  void updateCTM(GfxState* state, double, double, double, double, double, double) override { Ctm(state); }
  void updateLineDash(GfxState* state) override {
    const std::vector<double>& dash = state->getLineDash(&FPhase);
    Out().SetLineDash(FPhase, dash);
  }
  void updateLineJoin(GfxState* state) override { Out().SetLineJoin(state->getLineJoin()); }
  void updateLineCap(GfxState* state) override { Out().SetLineCap(state->getLineCap()); }
  void updateMiterLimit(GfxState* state) override { Out().SetMiterLimit(state->getMiterLimit()); }
  void updateLineWidth(GfxState* state) override { Out().SetLineWidth(state->getLineWidth()); }
  void updateFillColor(GfxState* state) override {
    GfxRGB c;
    state->getFillRGB(&c);
    Out().SetFillColor(Col(c.r), Col(c.g), Col(c.b), state->getFillOpacity());
  }
  void updateStrokeColor(GfxState* state) override {
    GfxRGB c;
    state->getStrokeRGB(&c);
    Out().SetStrokeColor(Col(c.r), Col(c.g), Col(c.b), state->getStrokeOpacity());
  }
  void updateFillOpacity(GfxState* state) override { updateFillColor(state); }
  void updateStrokeOpacity(GfxState* state) override { updateStrokeColor(state); }
  void updateFont(GfxState* state) override;
  void updateRender(GfxState* state) override { Out().SetTextRenderMode(state->getRender()); }

  void stroke(GfxState* state) override { Out().Stroke(PathOf(state->getPath())); }
  void fill(GfxState* state) override { Out().Fill(PathOf(state->getPath()), false); }
  void eoFill(GfxState* state) override { Out().Fill(PathOf(state->getPath()), true); }
  void clip(GfxState* state) override { Out().Clip(PathOf(state->getPath()), false); }
  void eoClip(GfxState* state) override { Out().Clip(PathOf(state->getPath()), true); }

  // NOLINTNEXTLINE(readability-function-size): poppler's signature
  void drawChar(GfxState* state, double x, double y, double dx, double dy, double originX, double originY, CharCode,
                int, const Unicode* u, int uLen) override;
  void endTextObject(GfxState*) override {
    FlushActualText();
    Out().EndText();
  }
  // What a span of glyphs stands for, when their own characters do not say it (a
  // Devanagari vowel drawn before its consonant): the span's first glyph shows it all.
  void beginActualText(GfxState*, const GooString* text) override;
  void endActualText(GfxState*) override { FlushActualText(); }

  void drawImageMask(GfxState* state, Object*, Stream* str, int width, int height, bool invert, bool, bool) override;
  void drawImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                 const int* maskColors, bool) override;
  void drawMaskedImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                       Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert, bool) override;
  void drawSoftMaskedImage(GfxState* state, Object*, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                           bool, Stream* maskStr, int maskWidth, int maskHeight, GfxImageColorMap* maskColorMap,
                           bool) override;

  bool axialShadedFill(GfxState* state, GfxAxialShading* shading, double, double) override;
  bool axialShadedSupportExtend(GfxState*, GfxAxialShading*) override { return true; }
  bool radialShadedFill(GfxState* state, GfxRadialShading* shading, double, double) override;
  bool radialShadedSupportExtend(GfxState*, GfxRadialShading*) override { return true; }

  void beginTransparencyGroup(GfxState* state, const double*, GfxColorSpace* blendingColorSpace, bool, bool,
                              bool forSoftMask) override;
  void endTransparencyGroup(GfxState* state) override;
  void paintTransparencyGroup(GfxState* state, const double*) override;
  void setSoftMask(GfxState* state, const double*, bool alpha, Function*, GfxColor* backdropColor) override;
  void clearSoftMask(GfxState*) override {
    if (Top().Mask && Top().Depth == 0) EndMasked();
  }

 private:
  Context& Top() { return FLevels.back(); }
  TkxPdfSink& Out() { return Top().Rec ? static_cast<TkxPdfSink&>(*Top().Rec) : FSink; }
  void Ctm(GfxState* state) {
    const double* c = state->getCTM();
    double m[6] = {c[0], c[1], c[2], c[3], c[4], c[5]};
    Out().SetCtm(m);
  }
  // Closes a recording begun with its own saved state.
  void Close(Context& c) {
    while (c.Depth-- > 0) c.Rec->RestoreState();
    c.Rec->RestoreState();
  }
  // Ends the drawing under the soft mask on top: it goes to the level below as one piece.
  void EndMasked() {
    Context c = std::move(Top());
    FLevels.pop_back();
    Close(c);
    std::shared_ptr<Recorder> rec = c.Rec;
    Out().DrawMasked(*c.Mask, [rec](TkxPdfSink& s) { rec->Replay(s); });
  }
  // The state a group's contents start from, given to its recording.
  void StateInto(GfxState* state, TkxPdfSink& s);
  const TkxPdfFont* FontOf(GfxState* state);
  void Shading(GfxState* state, GfxUnivariateShading* shading, TkxPdfShading& out);
  void Image(TkxPdfImage& img, std::string& bytes) {
    img.Format = TkxPdfImageFormat::Raw;
    img.Bytes = bytes;
    Out().DrawImage(img);
  }
  // Empty when the image cannot be read.
  static std::string Rgb(Stream* str, int width, int height, GfxImageColorMap* colorMap, bool alpha,
                         const int* maskColors);

  PDFDoc& FDoc;
  TkxPdfSink& FSink;
  std::vector<Context> FLevels;
  std::shared_ptr<Recorder> FGroupDone;  // a group that ended and waits to be painted or used as a mask
  GfxColorSpace* FMaskSpace = nullptr;
  std::map<long long, std::string> FPrograms;  // embedded fonts, alive for the whole reading
  std::map<long long, TkxPdfFont> FFonts;
  double FPhase = 0;
  bool FInActualText = false;
  std::string FActualText;
  std::vector<TkxPdfChar> FActualChars;
  void FlushActualText();
};

void SinkDev::updateFont(GfxState* state) {
  if (const TkxPdfFont* f = FontOf(state)) Out().SetFont(*f);
}

const TkxPdfFont* SinkDev::FontOf(GfxState* state) {
  GfxFont* font = state->getFont().get();
  if (!font) return nullptr;
  const Ref* ref = font->getID();
  long long id = (long long)ref->gen << 32 | (long long)ref->num;
  auto it = FFonts.find(id);
  if (it == FFonts.end()) {
    TkxPdfFont f;
    f.Id = id;
    f.Bold = font->isBold(), f.Italic = font->isItalic();
    const std::optional<std::string>& name = font->getName();
    f.Name = name ? *name : std::string("Arial");
    // The subset tag: six capitals and a plus sign.
    if (f.Name.size() > 7 && f.Name[6] == '+' &&
        std::all_of(f.Name.begin(), f.Name.begin() + 6, [](char c) { return c >= 'A' && c <= 'Z'; }))
      f.Name.erase(0, 7);
    if (std::optional<std::vector<unsigned char>> prog = font->readEmbFontFile(FDoc.getXRef()))
      FPrograms[id].assign(prog->begin(), prog->end());
    auto p = FPrograms.find(id);
    if (p != FPrograms.end()) f.Program = p->second;
    it = FFonts.emplace(id, std::move(f)).first;
  }
  it->second.Size = state->getTransformedFontSize();
  return &it->second;
}

// NOLINTNEXTLINE(readability-function-size): poppler's signature
void SinkDev::drawChar(GfxState* state, double x, double y, double dx, double dy, double originX, double originY,
                       CharCode code, int, const Unicode* u, int uLen) {
  if (!u || uLen <= 0) {
    if (!FInActualText) return;  // a glyph that shows no character, unless its span says
    uLen = 0;
  }
  // A tab that Writer wrote with its fallbacks stands for its one blank.
  if (uLen == 4 && u[0] == '\t' && u[1] == '\r' && u[2] == ' ' && u[3] == 0xA0) u += 2, uLen = 1;
  bool blank = uLen > 0 && *u == ' ';
  double csdx = 0, csdy = 0;
  if (state->getFont() && state->getFont()->getWMode()) {
    csdy = state->getCharSpace() + (blank ? state->getWordSpace() : 0);
  } else {
    csdx = (state->getCharSpace() + (blank ? state->getWordSpace() : 0)) * state->getHorizScaling();
  }
  double tdx = 0, tdy = 0;
  state->textTransformDelta(csdx, csdy, &tdx, &tdy);
  TkxPdfChar c;
  c.X0 = x - originX, c.Y0 = y - originY;
  c.X1 = c.X0 + dx - tdx, c.Y1 = c.Y0 + dy - tdy;
  const double* tm = state->getTextMat();
  c.A = tm[0], c.B = tm[1], c.C = tm[2], c.D = tm[3];
  c.Size = state->getFontSize();
  c.Text = Utf8(u, uLen);
  c.Code = code;
  if (FInActualText)
    FActualChars.push_back(c);
  else
    Out().DrawChar(c);
}

void SinkDev::beginActualText(GfxState*, const GooString* text) {
  FlushActualText();
  FInActualText = true;
  FActualText.clear();
  if (!text) return;
  Unicode* u = nullptr;
  int n = TextStringToUCS4(text->toStr(), &u);
  FActualText = Utf8(u, n);
  gfree(u);
}

void SinkDev::FlushActualText() {
  if (!FInActualText) return;
  FInActualText = false;
  std::vector<TkxPdfChar> chars = std::move(FActualChars);
  FActualChars.clear();
  if (chars.empty()) return;
  // One glyph for the span when its glyphs stand on one line; else each says its own.
  const TkxPdfChar& first = chars.front();
  double ax = first.A, ay = first.B, len = std::hypot(ax, ay);
  double em = first.Size * std::hypot(first.C, first.D);
  bool oneLine = !FActualText.empty() && len > 0;
  for (const TkxPdfChar& c : chars)
    oneLine = oneLine && std::fabs(((c.Y0 - first.Y0) * ax - (c.X0 - first.X0) * ay) / len) <= 0.8 * em;
  if (!oneLine) {
    for (const TkxPdfChar& c : chars)
      if (!c.Text.empty()) Out().DrawChar(c);
    return;
  }
  TkxPdfChar span = first;
  span.Text = FActualText;
  for (const TkxPdfChar& c : chars)  // to the far end of the span's glyphs
    if ((c.X1 - first.X0) * ax + (c.Y1 - first.Y0) * ay > (span.X1 - first.X0) * ax + (span.Y1 - first.Y0) * ay)
      span.X1 = c.X1, span.Y1 = c.Y1;
  Out().DrawChar(span);
}

// The image's pixels as red, green, blue (and alpha 255, or 0 where the colour key
// masks them out).
std::string SinkDev::Rgb(Stream* str, int width, int height, GfxImageColorMap* colorMap, bool alpha,
                         const int* maskColors) {
  std::string out;
  if (width <= 0 || height <= 0 || int64_t(width) * height > kMaxImagePixels || !colorMap || !colorMap->isOk())
    return out;
  int comps = colorMap->getNumPixelComps();
  ImageStream img(str, width, comps, colorMap->getBits());
  img.reset();
  size_t px = alpha ? 4 : 3;
  out.assign(size_t(width) * size_t(height) * px, '\0');
  std::vector<unsigned char> rgb(size_t(width) * 3);
  for (int y = 0; y < height; ++y) {
    unsigned char* line = img.getLine();
    if (!line) break;
    colorMap->getRGBLine(line, rgb.data(), width);
    char* row = out.data() + size_t(y) * size_t(width) * px;
    for (int x = 0; x < width; ++x) {
      std::copy_n(rgb.data() + size_t(x) * 3, 3, row + size_t(x) * px);
      if (!alpha) continue;
      bool keyed = maskColors != nullptr;
      for (int k = 0; keyed && k < comps; ++k) {
        int v = line[size_t(x) * size_t(comps) + size_t(k)];
        keyed = v >= maskColors[2 * k] && v <= maskColors[2 * k + 1];
      }
      row[size_t(x) * 4 + 3] = char(keyed ? 0 : 255);
    }
  }
  img.close();
  return out;
}

// NOLINTNEXTLINE(readability-function-size): poppler's signature
void SinkDev::drawImage(GfxState*, Object*, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                        const int* maskColors, bool) {
  TkxPdfImage img;
  img.Width = width, img.Height = height;
  int comps = colorMap ? colorMap->getNumPixelComps() : 0;
  if (str->getKind() == strDCT && !maskColors && (comps == 1 || comps == 3)) {
    // A JPEG goes as it is: its decoder gives a fraction of its size for a fraction of the work.
    Stream* raw = str->getNextStream();
    std::string bytes;
    raw->fillString(bytes);
    raw->close();
    img.Format = TkxPdfImageFormat::Jpeg;
    img.Bytes = bytes;
    Out().DrawImage(img);
    return;
  }
  std::string bytes;
  img.Alpha = maskColors != nullptr;
  bytes = Rgb(str, width, height, colorMap, img.Alpha, maskColors);
  if (!bytes.empty()) Image(img, bytes);
}

// NOLINTNEXTLINE(readability-function-size): poppler's signature
void SinkDev::drawImageMask(GfxState* state, Object*, Stream* str, int width, int height, bool invert, bool, bool) {
  if (width <= 0 || height <= 0 || int64_t(width) * height > kMaxImagePixels) return;
  GfxRGB c;
  state->getFillRGB(&c);
  ImageStream mask(str, width, 1, 1);
  mask.reset();
  std::string bytes(size_t(width) * size_t(height) * 4, '\0');
  for (int y = 0; y < height; ++y) {
    unsigned char* line = mask.getLine();
    if (!line) break;
    char* row = bytes.data() + size_t(y) * size_t(width) * 4;
    for (int x = 0; x < width; ++x) {
      row[x * 4] = char(colToByte(c.r)), row[x * 4 + 1] = char(colToByte(c.g)), row[x * 4 + 2] = char(colToByte(c.b));
      row[x * 4 + 3] = char((line[x] != 0) == invert ? 255 : 0);
    }
  }
  mask.close();
  TkxPdfImage img;
  img.Width = width, img.Height = height, img.Alpha = true;
  Image(img, bytes);
}

// NOLINTNEXTLINE(readability-function-size): poppler's signature
void SinkDev::drawMaskedImage(GfxState*, Object*, Stream* str, int width, int height, GfxImageColorMap* colorMap, bool,
                              Stream* maskStr, int maskWidth, int maskHeight, bool maskInvert, bool) {
  if (maskWidth <= 0 || maskHeight <= 0 || int64_t(maskWidth) * maskHeight > kMaxImagePixels) return;
  std::string bytes = Rgb(str, width, height, colorMap, true, nullptr);
  if (bytes.empty()) return;
  std::vector<unsigned char> m(size_t(maskWidth) * size_t(maskHeight));
  ImageStream mask(maskStr, maskWidth, 1, 1);
  mask.reset();
  for (int y = 0; y < maskHeight; ++y)
    if (unsigned char* line = mask.getLine()) std::copy_n(line, maskWidth, m.data() + size_t(y) * size_t(maskWidth));
  mask.close();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      size_t mx = size_t(int64_t(x) * maskWidth / width), my = size_t(int64_t(y) * maskHeight / height);
      bytes[(size_t(y) * size_t(width) + size_t(x)) * 4 + 3] =
          char((m[my * size_t(maskWidth) + mx] != 0) == maskInvert ? 255 : 0);
    }
  TkxPdfImage img;
  img.Width = width, img.Height = height, img.Alpha = true;
  Image(img, bytes);
}

// NOLINTNEXTLINE(readability-function-size): poppler's signature
void SinkDev::drawSoftMaskedImage(GfxState*, Object*, Stream* str, int width, int height, GfxImageColorMap* colorMap,
                                  bool, Stream* maskStr, int maskWidth, int maskHeight, GfxImageColorMap* maskColorMap,
                                  bool) {
  if (!maskColorMap) return;
  std::string bytes = Rgb(str, width, height, colorMap, true, nullptr);
  std::string alpha = Rgb(maskStr, maskWidth, maskHeight, maskColorMap, false, nullptr);
  if (bytes.empty() || alpha.empty()) return;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      size_t mx = size_t(int64_t(x) * maskWidth / width), my = size_t(int64_t(y) * maskHeight / height);
      // Grey masks come as three equal channels.
      bytes[(size_t(y) * size_t(width) + size_t(x)) * 4 + 3] = alpha[(my * size_t(maskWidth) + mx) * 3];
    }
  TkxPdfImage img;
  img.Width = width, img.Height = height, img.Alpha = true;
  Image(img, bytes);
}

void SinkDev::Shading(GfxState* state, GfxUnivariateShading* shading, TkxPdfShading& out) {
  double t0 = shading->getDomain0(), t1 = shading->getDomain1();
  out.ExtendStart = shading->getExtend0(), out.ExtendEnd = shading->getExtend1();
  out.Colors.reserve(kShadingSteps + 1);
  for (int i = 0; i <= kShadingSteps; ++i) {
    GfxColor color;
    shading->getColor(t0 + (t1 - t0) * i / kShadingSteps, &color);
    GfxRGB rgb;
    shading->getColorSpace()->getRGB(&color, &rgb);
    out.Colors.push_back({Col(rgb.r), Col(rgb.g), Col(rgb.b)});
  }
  state->getClipBBox(&out.BoxX0, &out.BoxY0, &out.BoxX1, &out.BoxY1);
}

bool SinkDev::axialShadedFill(GfxState* state, GfxAxialShading* shading, double, double) {
  TkxPdfShading sh;
  sh.Kind = TkxPdfShading::Axial;
  shading->getCoords(&sh.X0, &sh.Y0, &sh.X1, &sh.Y1);
  Shading(state, shading, sh);
  Out().FillShading(sh);
  return true;
}

bool SinkDev::radialShadedFill(GfxState* state, GfxRadialShading* shading, double, double) {
  TkxPdfShading sh;
  sh.Kind = TkxPdfShading::Radial;
  shading->getCoords(&sh.X0, &sh.Y0, &sh.R0, &sh.X1, &sh.Y1, &sh.R1);
  Shading(state, shading, sh);
  Out().FillShading(sh);
  return true;
}

void SinkDev::StateInto(GfxState* state, TkxPdfSink& s) {
  const double* c = state->getCTM();
  double m[6] = {c[0], c[1], c[2], c[3], c[4], c[5]};
  s.SetCtm(m);
  GfxRGB rgb;
  state->getFillRGB(&rgb);
  s.SetFillColor(Col(rgb.r), Col(rgb.g), Col(rgb.b), state->getFillOpacity());
  state->getStrokeRGB(&rgb);
  s.SetStrokeColor(Col(rgb.r), Col(rgb.g), Col(rgb.b), state->getStrokeOpacity());
  s.SetLineWidth(state->getLineWidth());
  s.SetLineJoin(state->getLineJoin());
  s.SetLineCap(state->getLineCap());
  s.SetMiterLimit(state->getMiterLimit());
  s.SetLineDash(FPhase, state->getLineDash(&FPhase));
  s.SetTextRenderMode(state->getRender());
  if (const TkxPdfFont* f = FontOf(state)) s.SetFont(*f);
}

void SinkDev::beginTransparencyGroup(GfxState* state, const double*, GfxColorSpace* blendingColorSpace, bool, bool,
                                     bool forSoftMask) {
  if (forSoftMask) FMaskSpace = blendingColorSpace;
  Context c;
  c.Rec = std::make_shared<Recorder>();
  c.Rec->SaveState();
  StateInto(state, *c.Rec);
  FLevels.push_back(std::move(c));
}

void SinkDev::endTransparencyGroup(GfxState*) {
  while (FLevels.size() > 1 && Top().Mask) EndMasked();
  if (FLevels.size() < 2) return;
  Close(Top());
  FGroupDone = Top().Rec;
  FLevels.pop_back();
}

void SinkDev::paintTransparencyGroup(GfxState* state, const double*) {
  if (!FGroupDone) return;
  std::shared_ptr<Recorder> group = std::move(FGroupDone);
  Out().BeginGroup(state->getFillOpacity());
  group->Replay(Out());
  Out().EndGroup();
}

void SinkDev::setSoftMask(GfxState* state, const double*, bool alpha, Function*, GfxColor* backdropColor) {
  if (!FGroupDone) return;
  std::shared_ptr<Recorder> group = std::move(FGroupDone);
  auto mask = std::make_unique<TkxPdfSoftMask>();
  mask->Alpha = alpha;
  if (backdropColor && FMaskSpace) {
    GfxRGB rgb;
    FMaskSpace->getRGB(backdropColor, &rgb);
    mask->Backdrop[0] = Col(rgb.r), mask->Backdrop[1] = Col(rgb.g), mask->Backdrop[2] = Col(rgb.b);
  }
  FMaskSpace = nullptr;
  state->getClipBBox(&mask->BoxX0, &mask->BoxY0, &mask->BoxX1, &mask->BoxY1);
  mask->Draw = [group](TkxPdfSink& s) { group->Replay(s); };
  clearSoftMask(state);
  // What follows is recorded, from the state it starts in, until the mask ends.
  Context c;
  c.Rec = std::make_shared<Recorder>();
  c.Rec->SaveState();
  StateInto(state, *c.Rec);
  c.Mask = std::move(mask);
  FLevels.push_back(std::move(c));
}

}  // namespace

bool ReadPdfFile(const std::string& path, TkxPdfSink& sink, std::string& error) {
  InitPoppler();
  error.clear();
  LastError = &error;
  struct Reset {
    ~Reset() { LastError = nullptr; }
  } reset;
  PDFDoc doc(std::make_unique<GooString>(path.c_str()));
  if (!doc.isOk()) {
    if (error.empty()) error = "poppler error " + std::to_string(doc.getErrorCode());
    return false;
  }
  int pages = doc.getNumPages();
  if (pages <= 0) {
    if (error.empty()) error = "the PDF has no pages";
    return false;
  }
  SinkDev dev(doc, sink);
  for (int i = 1; i <= pages; ++i)
    doc.displayPage(&dev, i, kResolution, kResolution, 0, true /*media box*/, true /*crop*/, true /*printing*/);
  return true;
}

}  // namespace kx::pdf
