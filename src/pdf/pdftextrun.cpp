#include "pdf/pdftextrun.h"

#include <fribidi.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kx::pdf {

namespace {

constexpr double kBaselineTolerance = 0.5;  // logical units off the run's baseline
constexpr double kBackTolerance = 1.0;      // kerning may set a glyph this far before the last one's origin

constexpr double kMaxGap = 1e12;

// Room after a glyph of this advance that is more than kerning or rounding: a gap.
double Gap(double advance) { return std::max(kBackTolerance, 0.25 * advance); }

// Decodes UTF-8; malformed bytes become U+FFFD.
std::u32string Decode(const std::string& s) {
  std::u32string r;
  for (size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    int n = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (n < 0 || i + size_t(n) >= s.size()) {
      r.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t c = n == 0 ? b : b & (0x3F >> n);
    bool ok = true;
    for (int k = 1; k <= n; ++k) {
      auto t = static_cast<unsigned char>(s[i + size_t(k)]);
      ok = ok && (t & 0xC0) == 0x80;
      c = c << 6 | (t & 0x3F);
    }
    r.push_back(ok && c <= 0x10FFFF ? c : 0xFFFD);
    i += ok ? size_t(n) + 1 : 1;
  }
  return r;
}

// UTF-16 of the characters a run can show: control characters are left out.
std::u16string Utf16(const std::string& s) {
  std::u16string r;
  for (char32_t c : Decode(s)) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) continue;
    if (c >= 0x10000) {
      r.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
      r.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      r.push_back(char16_t(c));
    }
  }
  return r;
}

}  // namespace

TkxTextDirection DirectionOf(const std::string& utf8) {
  for (char32_t c : Decode(utf8)) {
    FriBidiCharType t = fribidi_get_bidi_type(FriBidiChar(c));
    if (FRIBIDI_IS_NUMBER(t)) return TkxTextDirection::LeftToRight;
    if (FRIBIDI_IS_STRONG(t)) return FRIBIDI_IS_RTL(t) ? TkxTextDirection::RightToLeft : TkxTextDirection::LeftToRight;
  }
  return TkxTextDirection::Neutral;
}

char32_t MirrorOf(char32_t c) {
  FriBidiChar m = 0;
  return fribidi_get_mirror_char(FriBidiChar(c), &m) && m != FriBidiChar(c) ? char32_t(m) : 0;
}

void TkxTextRunBuilder::Start(double ux, double uy) {
  FUx = ux, FUy = uy;
  FGlyphs.clear();
  FDirection = TkxTextDirection::Neutral;
  FOrder = 0;
  FLetters = false;
  FAnchored = false;
}

namespace {

// A combining mark (a vowel point, a diacritic) drawn as a glyph of its own, taking no room.
bool IsMark(const TkxPlacedGlyph& g) {
  if (g.Advance > kBackTolerance || g.Text.empty()) return false;
  std::u32string cs = Decode(g.Text);
  return !cs.empty() && fribidi_get_bidi_type(FriBidiChar(cs[0])) == FRIBIDI_TYPE_NSM;
}

}  // namespace

bool TkxTextRunBuilder::Add(const TkxPlacedGlyph& g) {
  TkxTextDirection dir = g.Mirrored ? TkxTextDirection::RightToLeft : DirectionOf(g.Text);
  const bool letter = dir != TkxTextDirection::Neutral && !g.Mirrored;
  const bool mark = IsMark(g);
  if (FGlyphs.empty()) {
    FX0 = g.X, FY0 = g.Y;
    FDirection = dir;
    FLetters = letter;
    FAnchored = !mark;
    FLow = 0, FReach = g.Advance;
    FGlyphs.push_back({0, g.Advance, Utf16(g.Text), mark, g.X, g.Y});
    return true;
  }
  // Marks drawn before their letter (right-to-left text) leave the baseline to the letter.
  if (!FAnchored && !mark) {
    double across = (g.Y - FY0) * FUx - (g.X - FX0) * FUy;
    if (std::fabs(across) > std::max(kBaselineTolerance, g.Size)) return false;
    FX0 = g.X, FY0 = g.Y;
    for (Glyph& m : FGlyphs) m.S = (m.X - FX0) * FUx + (m.Y - FY0) * FUy;
    FAnchored = true;
    FLow = 0, FReach = 0;
  }
  double dx = g.X - FX0, dy = g.Y - FY0;
  // Marks sit above or below the baseline (Arabic vowels): within an em of it they are its.
  double tolerance = mark ? std::max(kBaselineTolerance, g.Size) : kBaselineTolerance;
  if (std::fabs(dy * FUx - dx * FUy) > tolerance) return false;
  double s = dx * FUx + dy * FUy;
  if (mark || !FAnchored) {  // no order or gap of their own: they go with their letter
    FGlyphs.push_back({s, g.Advance, Utf16(g.Text), mark, g.X, g.Y});
    return true;
  }
  if (dir != TkxTextDirection::Neutral && FDirection != TkxTextDirection::Neutral && dir != FDirection) return false;
  TkxTextDirection runDir = FDirection == TkxTextDirection::Neutral ? dir : FDirection;
  const Glyph* last = nullptr;  // the last glyph that takes room
  for (auto it = FGlyphs.rbegin(); it != FGlyphs.rend() && !last; ++it)
    if (!it->Mark) last = &*it;
  if (!last) last = &FGlyphs.back();
  int step = s >= last->S - kBackTolerance ? 1 : -1;
  // Readers that lay a record out with their own advances (Inkscape) put a piece where
  // it belongs only when it starts a record. Punctuation and blanks drawn apart from
  // their words (in another font, around right-to-left words) stop at any gap; right-to-left
  // words at a gap wider than a letter, which holds what another run drew (brackets).
  // A gap is measured from the run's ink so far.
  double gap = step > 0 ? s - FReach : FLow - s - g.Advance;
  if (!FLetters && step > 0 && gap > Gap(last->Advance)) return false;
  if (runDir == TkxTextDirection::RightToLeft && (FLetters || letter) && gap > 0.9 * std::max(last->Advance, g.Advance))
    return false;
  if (FOrder != 0 && step != FOrder) return false;
  if (step < 0 && runDir != TkxTextDirection::RightToLeft) return false;
  FOrder = step;
  FDirection = runDir;
  FLetters = FLetters || letter;
  FLow = std::min(FLow, s), FReach = std::max(FReach, s + g.Advance);
  FGlyphs.push_back({s, g.Advance, Utf16(g.Text), false, g.X, g.Y});
  return true;
}

namespace {

bool Blank(const std::u16string& s) {
  return std::all_of(s.begin(), s.end(), [](char16_t c) { return c == u' ' || c == 0xA0; });
}

// Whether the character the run begins or ends with takes its direction from what is
// around it (punctuation, blanks), rather than having one of its own.
bool Neutral(char16_t c) {
  FriBidiCharType t = fribidi_get_bidi_type(FriBidiChar(c));
  return !FRIBIDI_IS_STRONG(t) && !FRIBIDI_IS_NUMBER(t) && t != FRIBIDI_TYPE_NSM;  // a mark goes with its letter
}

}  // namespace

bool TkxTextRunBuilder::Cluster::Blank() const { return Marks.empty() && kx::pdf::Blank(Base->Text); }

// Right-to-left text drawn from the left has each letter's marks drawn before it;
// other text after it.
std::vector<TkxTextRunBuilder::Cluster> TkxTextRunBuilder::Clusters() const {
  const bool marksFirst = FDirection == TkxTextDirection::RightToLeft && FOrder >= 0;
  std::vector<Cluster> clusters;
  std::u16string pending;
  for (const Glyph& g : FGlyphs) {
    if (!g.Mark) {
      clusters.push_back({&g, pending});
      pending.clear();
    } else if (marksFirst || clusters.empty()) {
      pending += g.Text;
    } else {
      clusters.back().Marks += g.Text;
    }
  }
  if (clusters.empty()) {  // marks alone
    for (const Glyph& g : FGlyphs) clusters.push_back({&g, u""});
  } else {
    clusters.back().Marks += pending;
  }
  return clusters;
}

// Such words are given a blank at each gap, so that their string reads as words, and
// readers that lay it out with their own advances keep the words apart.
std::vector<int32_t> TkxTextRunBuilder::WordGaps(const std::vector<const Cluster*>& visual,
                                                 const std::vector<int32_t>& edge) const {
  std::vector<int32_t> after(visual.size(), 0);
  if (FDirection != TkxTextDirection::RightToLeft || !FLetters) return after;
  std::vector<double> advances;
  for (const Cluster* c : visual)
    if (c->Base->Advance > 0) advances.push_back(c->Base->Advance);
  if (advances.empty()) return after;
  std::nth_element(advances.begin(), advances.begin() + long(advances.size() / 2), advances.end());
  const double wordGap = Gap(advances[advances.size() / 2]) * 1.2;
  double reach = -kMaxGap;  // the ink so far
  for (size_t j = 0; j + 1 < visual.size(); ++j) {
    reach = std::max(reach, visual[j]->Base->S + visual[j]->Base->Advance);
    double gap = visual[j + 1]->Base->S - reach;
    if (gap > wordGap && !visual[j]->Blank() && !visual[j + 1]->Blank())
      after[j] = std::min(edge[j + 1] - edge[j], int32_t(std::lround(gap)));
  }
  return after;
}

TkxTextRun TkxTextRunBuilder::Take() {
  TkxTextRun run;
  const std::vector<Cluster> clusters = Clusters();
  std::vector<const Cluster*> visual;  // from the left end, with characters only
  for (const Cluster& c : clusters)
    if (!c.Base->Text.empty() || !c.Marks.empty()) visual.push_back(&c);
  if (FOrder < 0) std::reverse(visual.begin(), visual.end());
  std::stable_sort(visual.begin(), visual.end(),
                   [](const Cluster* a, const Cluster* b) { return a->Base->S < b->Base->S; });
  const bool rtl = FDirection == TkxTextDirection::RightToLeft;
  if (FDirection != TkxTextDirection::LeftToRight) {
    // Blanks at the ends of a right-to-left run draw nothing, but readers that lay the
    // string out left to right from the reference point would put them on the wrong side;
    // a piece of punctuation is placed by its own first glyph.
    while (!visual.empty() && visual.back()->Blank()) visual.pop_back();
    while (!visual.empty() && visual.front()->Blank()) visual.erase(visual.begin());
  }
  if (!visual.empty()) {
    double s0 = visual.front()->Base->S;
    run.X = int32_t(std::lround(FX0 + s0 * FUx));
    run.Y = int32_t(std::lround(FY0 + s0 * FUy));
    run.RightToLeft = rtl;
    // Cell j runs from letter j's origin to the next one's; the last one to its advance's end.
    std::vector<int32_t> edge(visual.size() + 1);
    for (size_t j = 0; j < visual.size(); ++j) edge[j] = int32_t(std::lround(visual[j]->Base->S - s0));
    edge.back() = int32_t(std::lround(visual.back()->Base->S + visual.back()->Base->Advance - s0));
    std::vector<size_t> order(visual.size());
    std::iota(order.begin(), order.end(), 0);
    if (run.RightToLeft) std::reverse(order.begin(), order.end());
    const std::vector<int32_t> after = WordGaps(visual, edge);
    for (size_t j : order) {
      int32_t cell = edge[j + 1] - edge[j], blank = after[j];
      if (blank > 0) {
        run.Text += u' ';
        run.Dx.push_back(blank);
      }
      run.Text += visual[j]->Base->Text + visual[j]->Marks;  // marks take no room of their own
      run.Dx.push_back(cell - blank);
      run.Dx.resize(run.Text.size(), 0);
    }
    // Punctuation at an end of a right-to-left run reads right to left in any reader
    // between two right-to-left marks (which take no room).
    if (rtl && !run.Text.empty() && (Neutral(run.Text.front()) || Neutral(run.Text.back()))) {
      run.Text = u"\u200F" + run.Text + u"\u200F";
      run.Dx.insert(run.Dx.begin(), 0);
      run.Dx.push_back(0);
    }
  }
  FGlyphs.clear();
  FDirection = TkxTextDirection::Neutral;
  FOrder = 0;
  FLetters = false;
  FAnchored = false;
  return run;
}

}  // namespace kx::pdf
