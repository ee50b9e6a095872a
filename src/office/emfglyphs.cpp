#include "office/emfglyphs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "platform/text.h"

namespace kx::office {

namespace {
enum : uint32_t {
  kHeader = 1,
  kSetWindowExt = 9,
  kSetWindowOrg = 10,
  kSetViewportExt = 11,
  kSetViewportOrg = 12,
  kSetMapMode = 17,
  kSaveDc = 33,
  kRestoreDc = 34,
  kSetWorldTransform = 35,
  kModifyWorldTransform = 36,
  kSelectObject = 37,
  kDeleteObject = 40,
  kSetTextAlign = 22,
  kExtCreateFont = 82,
  kExtTextOutW = 84,
};
constexpr uint32_t kEtoGlyphIndex = 0x10, kEtoPdy = 0x2000;
constexpr uint32_t kTaBaseline = 24, kTaHorizontal = 6, kTaUpdateCp = 1, kTaRtl = 256;
constexpr uint32_t kMwtIdentity = 1;

int32_t I32(const std::string& b, size_t at) {
  int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
void Put(std::string& b, size_t at, int32_t v) { std::memcpy(b.data() + at, &v, 4); }

// What a text record depends on; saved and restored with the device context.
struct TState {
  int32_t MapMode = 1, WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
  int32_t VpOrgX = 0, VpOrgY = 0, VpExtX = 1, VpExtY = 1;
  bool Identity = true, Rotated = false;
  uint32_t Align = 0;

  // 0.01 mm per logical unit from the page's corner, as LibreOffice writes its pages.
  bool Himetric() const {
    return MapMode == 8 && Identity && WinOrgX == 0 && WinOrgY == 0 && VpOrgX == 0 && VpOrgY == 0 &&
           WinExtX == 2540 && WinExtY == 2540 && VpExtX == 96 && VpExtY == 96;
  }
  bool Placeable() const {
    return Himetric() && !Rotated && (Align & kTaHorizontal) == 0 && (Align & kTaBaseline) == kTaBaseline &&
           (Align & (kTaUpdateCp | kTaRtl)) == 0;
  }
};

bool Blank(char16_t c) { return c == u' ' || c == u'\u00a0'; }

// One drawn place of the record's text: `Count` characters from `First`.
struct TSlot {
  size_t First, Count;
  double X0, X1;
};

// A page's glyphs ordered by baseline, then from the left.
class TGlyphIndex {
 public:
  explicit TGlyphIndex(const TkxPdfPage& page) {
    for (const TkxPdfGlyph& g : page) FSorted.push_back(&g);
    std::stable_sort(FSorted.begin(), FSorted.end(), [](auto* a, auto* b) {
      return a->Baseline < b->Baseline || (a->Baseline == b->Baseline && a->X0 < b->X0);
    });
  }
  // The glyphs whose baseline lies within `slack` of `baseline`.
  std::pair<size_t, size_t> Band(double baseline, double slack) const {
    auto lo = std::lower_bound(FSorted.begin(), FSorted.end(), baseline - slack,
                               [](const TkxPdfGlyph* g, double v) { return g->Baseline < v; });
    auto hi = std::upper_bound(lo, FSorted.end(), baseline + slack,
                               [](double v, const TkxPdfGlyph* g) { return v < g->Baseline; });
    return {size_t(lo - FSorted.begin()), size_t(hi - FSorted.begin())};
  }
  const TkxPdfGlyph* operator[](size_t i) const { return FSorted[i]; }
  // The glyphs of one baseline from `start` on, left to right.
  std::vector<const TkxPdfGlyph*> LineFrom(const TkxPdfGlyph& start) const {
    auto [lo, hi] = Band(start.Baseline, 1);
    std::vector<const TkxPdfGlyph*> line;
    for (size_t i = lo; i < hi; ++i)
      if (FSorted[i]->X0 >= start.X0 - 1) line.push_back(FSorted[i]);
    std::stable_sort(line.begin(), line.end(), [](auto* a, auto* b) { return a->X0 < b->X0; });
    return line;
  }

 private:
  std::vector<const TkxPdfGlyph*> FSorted;
};

// The slots of `text` on `line`; empty when the glyphs spell something else. A blank
// the PDF did not draw takes its old advance right after the glyph before it.
std::vector<TSlot> Match(const std::u16string& text, const std::vector<int32_t>& dx,
                         const std::vector<const TkxPdfGlyph*>& line) {
  std::vector<TSlot> slots;
  size_t g = 0;
  for (size_t i = 0; i < text.size();) {
    std::u16string chars = g < line.size() ? Utf8ToUtf16(line[g]->Chars) : std::u16string();
    if (!chars.empty() && text.compare(i, chars.size(), chars) == 0) {
      slots.push_back({i, chars.size(), line[g]->X0, line[g]->X1});
      i += chars.size();
      ++g;
    } else if (Blank(text[i]) && !slots.empty()) {
      double x = slots.back().X1;
      slots.push_back({i, 1, x, x + dx[i]});
      ++i;
    } else {
      return {};
    }
  }
  return slots;
}

// Rewrites one text record if its text is found at its place; false otherwise.
bool PlaceRecord(std::string& emf, size_t at, uint32_t size, const TGlyphIndex& glyphs) {
  if (size < 76) return false;
  int32_t x = I32(emf, at + 36), y = I32(emf, at + 40);
  uint32_t n = uint32_t(I32(emf, at + 44)), offString = uint32_t(I32(emf, at + 48));
  uint32_t options = uint32_t(I32(emf, at + 52)), offDx = uint32_t(I32(emf, at + 72));
  if (n == 0 || n > size || (options & (kEtoGlyphIndex | kEtoPdy)) != 0) return false;
  if (offString < 76 || offString + uint64_t(n) * 2 > size || offDx < 76 || offDx + uint64_t(n) * 4 > size)
    return false;
  std::u16string text(n, u'\0');
  std::memcpy(text.data(), emf.data() + at + offString, size_t(n) * 2);
  std::vector<int32_t> dx(n);
  for (uint32_t i = 0; i < n; ++i) dx[i] = I32(emf, at + offDx + 4 * i);
  // The import sets a run that follows another on its line where its own layout
  // ends, which in a justified line can be far from its glyphs: of the places on
  // the baseline that spell the whole text, the nearest.
  constexpr double kBaselineSlack = 15, kStartSlack = 2500;
  double oldWidth = 0;
  for (int32_t d : dx) oldWidth += d;
  std::vector<TSlot> slots;
  double best = kStartSlack;
  auto [lo, hi] = glyphs.Band(y, kBaselineSlack);
  for (size_t i = lo; i < hi; ++i) {
    const TkxPdfGlyph& g = *glyphs[i];
    if (std::fabs(g.X0 - x) > best) continue;
    std::u16string c = Utf8ToUtf16(g.Chars);
    if (c.empty() || text.compare(0, c.size(), c) != 0) continue;
    std::vector<TSlot> found = Match(text, dx, glyphs.LineFrom(g));
    if (found.empty()) continue;
    // Set far wider or narrower, the same letters are another text.
    double width = found.back().X1 - found.front().X0;
    if (width < oldWidth / 2 || width > oldWidth * 2 + 100) continue;
    slots = std::move(found);
    best = std::fabs(g.X0 - x);
  }
  if (slots.empty()) return false;
  // Rounded against the start, so rounding never adds up along a line.
  int32_t start = int32_t(std::lround(slots.front().X0));
  std::vector<int32_t> placed(n, 0);
  for (size_t s = 0; s < slots.size(); ++s) {
    double end = s + 1 < slots.size() ? slots[s + 1].X0 : slots[s].X1;
    placed[slots[s].First] = int32_t(std::lround(end - start)) - int32_t(std::lround(slots[s].X0 - start));
  }
  Put(emf, at + 36, start);
  for (uint32_t i = 0; i < n; ++i) Put(emf, at + offDx + 4 * i, placed[i]);
  return true;
}
}  // namespace

int PlaceTextFromPdf(std::string& emf, const TkxPdfPage& page) {
  if (page.empty()) return 0;
  const TGlyphIndex glyphs(page);
  TState state;
  std::vector<TState> saved;
  std::map<uint32_t, bool> rotatedFonts;
  int changed = 0;
  for (size_t at = 0; at + 8 <= emf.size();) {
    uint32_t type = uint32_t(I32(emf, at)), size = uint32_t(I32(emf, at + 4));
    if (size < 8 || size % 4 != 0 || at + size > emf.size()) break;
    if (at == 0 && type != kHeader) break;
    auto arg = [&](size_t k) { return size >= 12 + 4 * k ? I32(emf, at + 8 + 4 * k) : 0; };
    switch (type) {
      case kSetMapMode: state.MapMode = arg(0); break;
      case kSetWindowExt: state.WinExtX = arg(0), state.WinExtY = arg(1); break;
      case kSetWindowOrg: state.WinOrgX = arg(0), state.WinOrgY = arg(1); break;
      case kSetViewportExt: state.VpExtX = arg(0), state.VpExtY = arg(1); break;
      case kSetViewportOrg: state.VpOrgX = arg(0), state.VpOrgY = arg(1); break;
      case kSetTextAlign: state.Align = uint32_t(arg(0)); break;
      case kSetWorldTransform: {
        float m[6] = {0, 0, 0, 0, 0, 0};
        if (size >= 32) std::memcpy(m, emf.data() + at + 8, sizeof m);
        state.Identity = m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1 && m[4] == 0 && m[5] == 0;
        break;
      }
      case kModifyWorldTransform:
        state.Identity = size >= 36 && uint32_t(I32(emf, at + 32)) == kMwtIdentity;
        break;
      case kExtCreateFont:
        if (size >= 28) rotatedFonts[uint32_t(arg(0))] = arg(3) != 0 || arg(4) != 0;
        break;
      case kSelectObject: {
        auto it = rotatedFonts.find(uint32_t(arg(0)));
        if (it != rotatedFonts.end()) state.Rotated = it->second;
        break;
      }
      case kDeleteObject: rotatedFonts.erase(uint32_t(arg(0))); break;
      case kSaveDc: saved.push_back(state); break;
      case kRestoreDc: {
        int32_t rel = arg(0);
        size_t back = rel < 0 ? size_t(-int64_t(rel)) : 0;
        if (back == 0 || back > saved.size()) break;
        state = saved[saved.size() - back];
        saved.resize(saved.size() - back);
        break;
      }
      case kExtTextOutW:
        if (state.Placeable() && PlaceRecord(emf, at, size, glyphs)) ++changed;
        break;
      default: break;
    }
    at += size;
  }
  return changed;
}

}  // namespace kx::office
