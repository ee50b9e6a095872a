#pragma once
// Glyphs as a PDF places them, one by one, gathered into text runs as a metafile
// writes them: one run per stretch of one direction on one baseline, its string in
// logical order with one advance per character in that order, its reference point
// the run's visual left end (the start of the baseline for turned text).
#include <cstdint>
#include <string>
#include <vector>

namespace kx::pdf {

struct TkxPlacedGlyph {
  double X = 0, Y = 0;  // origin, logical units
  double Advance = 0;   // along the baseline, logical units
  std::string Text;     // UTF-8; may be a ligature's several characters
  // Drawn as the mirror image of its character (a bracket of right-to-left text):
  // it reads right to left, whatever its character's own direction.
  bool Mirrored = false;
  double Size = 0;  // the font's height, logical units: how far marks may sit off the baseline
};

struct TkxTextRun {
  int32_t X = 0, Y = 0;
  std::u16string Text;
  std::vector<int32_t> Dx;  // per UTF-16 unit; a glyph's first unit carries its whole advance
  bool RightToLeft = false;
};

enum class TkxTextDirection { Neutral, LeftToRight, RightToLeft };

// The direction of a glyph's characters: its first strong letter's, numbers count
// as left to right; spaces and punctuation are neutral.
TkxTextDirection DirectionOf(const std::string& utf8);
// The character whose glyph is the mirror image of `c`'s (")" for "("); 0 when none.
char32_t MirrorOf(char32_t c);

class TkxTextRunBuilder {
 public:
  // A new run along the unit vector (ux, uy) in logical units.
  void Start(double ux, double uy);
  // Adds the glyph when it continues the run: the same baseline, the same direction
  // (neutral glyphs go with any), and going on in the run's order (left to right runs
  // forwards; right-to-left runs forwards or backwards, as their first two glyphs go).
  // False, and nothing added, otherwise.
  bool Add(const TkxPlacedGlyph& g);
  bool Empty() const { return FGlyphs.empty(); }
  // The run so far (glyphs without characters leave only their space); then empty.
  TkxTextRun Take();

 private:
  struct Glyph {
    double S;  // place along the baseline from the run's origin
    double Advance;
    std::u16string Text;
    bool Mark;    // a combining mark that takes no room
    double X, Y;  // where it was drawn
  };
  // A letter with its marks.
  struct Cluster {
    const Glyph* Base;
    std::u16string Marks;
    bool Blank() const;
  };
  std::vector<Cluster> Clusters() const;
  // The blank owed after each of the letters `visual` (left to right, cells between
  // `edge`s): right-to-left words whose blanks another font drew.
  std::vector<int32_t> WordGaps(const std::vector<const Cluster*>& visual, const std::vector<int32_t>& edge) const;
  double FUx = 1, FUy = 0, FX0 = 0, FY0 = 0;
  TkxTextDirection FDirection = TkxTextDirection::Neutral;
  int FOrder = 0;               // +1 forwards, -1 backwards, 0 not known yet
  bool FLetters = false;        // a glyph of the run has a direction of its own (not a mirrored bracket)
  bool FAnchored = false;       // a glyph that takes room gave the baseline (marks alone do not)
  double FLow = 0, FReach = 0;  // the run's ink along the baseline so far: first origin, last advance's end
  std::vector<Glyph> FGlyphs;
};

}  // namespace kx::pdf
