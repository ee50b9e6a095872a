#include "core/optiontable.h"

#include <algorithm>

#include "core/pagerange.h"
#include "core/project.h"
#include "core/shard.h"
#include "platform/regexp.h"
#include "platform/text.h"

namespace kx {

const std::vector<TkxOptionKey>& OptionTable() {
  using K = TkxOptionKind;
  static const std::vector<TkxOptionKey> table = {
      {"Source", K::Text, "", "document, folder, folder and mask (/docs/*.doc?), web address, or several"},
      {"Target", K::Text, "source folder", "folder that receives the page images (empty: beside each document)"},
      {"Subdir", K::Boolean, "False", "also search the sub-folders of the source folder"},
      {"ThreadsCount", K::Threads, "1", "converter threads, each with its own LibreOffice (at most 64)"},
      {"IsOverwrite", K::Overwrite, "True", "existing pages: skip, True (overwrite), False (new name)"},
      {"KeepTargetSubdirs", K::Boolean, "True", "keep the sub-folder path below the source"},
      {"KeepFileTime", K::Boolean, "False", "give the page files the document's times"},
      {"DeleteSource", K::Boolean, "False", "delete the document after it was converted"},
      {"RenameSource", K::Suffix, "", "append this text to the document's name after success"},
      {"MacroEnabled", K::Boolean, "False", "no effect in either edition"},
      {"RegExt", K::Regex, "", "a regular expression the document's path must also match"},
      {"SkipHidden", K::Boolean, "False", "leave hidden files (names beginning with .) out"},
      {"AppVisible", K::Boolean, "False", "show the word processor while it works"},
      {"ReadOnly", K::Boolean, "False", "open documents read-only"},
      {"SkipPassword", K::Boolean, "False", "a password-protected document fails at once"},
      {"Pages", K::Pages, "all", "pages to write: 1, 2-4, 1,3,5- (numbers keep their place)"},
      {"Dpi", K::Dpi, "96", "resolution of PNG pages, 1 to 1200 (Width wins when set)"},
      {"Width", K::Integer, "0", "PNG width in pixels, height in proportion (0: from Dpi)"},
      {"Color", K::Integer, "0", "PNG pixels: 0/7 32 bits, 1 1 bit, 2 4, 3 8, 4 15, 5 16, 6 24"},
      {"Shard", K::Shard, "all", "i/n, t/lo-hi, SLURM_ARRAY_TASK_ID or JOB_COMPLETION_INDEX/n"},
      {"LogFile", K::Text, "", "run log, one line per document, replaced after each run"},
      {"JsonLog", K::Text, "", "report for machines: one JSON line per document (JSON Lines)"},
      {"FailExit", K::Boolean, "False", "True: a console run with failed documents exits with 3"},
      {"Trace", K::Text, "", "diagnostic trace: a file, or 1 (or -) for standard error"},
      {"WebMaxSize", K::Positive, "100", "largest document fetched from a web address, in MB"},
      {"WebTimeout", K::Positive, "120", "seconds a web document may take to arrive"},
      {"WebRedirects", K::Integer, "5", "redirects followed for a web document (0: none)"},
      {"RunAndClose", K::Boolean, "False", "the window converts by itself and closes"},
      {"PureConsole", K::Boolean, "False", "run without any window"},
      {"Daemon", K::Integer, "0", "above 0: the window converts again every N ms"},
      // Written by old versions of the window; read when the key itself is empty.
      {"eSource.Text", K::Text, "", "", false},
      {"cSubdir.Checked", K::Text, "", "", false},
      {"eTarget.Text", K::Text, "", "", false},
  };
  return table;
}

const TkxOptionKey* FindOptionKey(std::string_view key) {
  for (const TkxOptionKey& k : OptionTable())
    if (SameText(k.Key, key)) return &k;
  return nullptr;
}

int OptionKeyDistance(std::string_view a0, std::string_view b0) {
  std::string a = LowerAscii(a0), b = LowerAscii(b0);
  size_t n = a.size(), m = b.size();
  std::vector<std::vector<int>> d(n + 1, std::vector<int>(m + 1));
  for (size_t i = 0; i <= n; ++i) d[i][0] = int(i);
  for (size_t j = 0; j <= m; ++j) d[0][j] = int(j);
  for (size_t i = 1; i <= n; ++i)
    for (size_t j = 1; j <= m; ++j) {
      int cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

std::string NearestOptionKey(std::string_view key) {
  std::string t = Trim(key);
  if (t.empty()) return std::string();
  // Short keys tolerate one slip, longer ones two; a start of four letters or more
  // ("Threads") names the key it begins.
  int allowed = t.size() <= 4 ? 1 : 2;
  std::string best;
  int bestDistance = allowed + 1;
  for (const TkxOptionKey& k : OptionTable()) {
    if (!k.Listed) continue;
    int d = OptionKeyDistance(t, k.Key);
    if (d < bestDistance) bestDistance = d, best = k.Key;
  }
  if (!best.empty()) return best;
  if (t.size() >= 4)
    for (const TkxOptionKey& k : OptionTable())
      if (k.Listed && StartsText(t, k.Key)) return k.Key;
  return std::string();
}

bool ValueFitsKind(TkxOptionKind kind, const std::string& value, std::string& why) {
  if (value.empty()) return true;
  switch (kind) {
    case TkxOptionKind::Text: return true;
    case TkxOptionKind::Boolean:
      why = "not a boolean (1, 0, True, False, yes, no, on or off)";
      return ReadBool(value, false) == ReadBool(value, true);
    case TkxOptionKind::Overwrite:
      why = "not skip, True or False (nor yes, no, on, off, 1 or 0)";
      return SameText(value, "skip") || ReadBool(value, false) == ReadBool(value, true);
    case TkxOptionKind::Integer:
    case TkxOptionKind::Threads: why = "not a whole number"; return ReadInt(value, 0) == ReadInt(value, 1);
    case TkxOptionKind::Positive: why = "not a whole number above 0"; return ReadInt(value, 0) >= 1;
    case TkxOptionKind::Suffix:
      why = "not a text to append to a name (it holds a '/')";
      return value.find('/') == std::string::npos;
    case TkxOptionKind::Dpi: {
      why = "not a resolution from 1 to 1200";
      int v = ReadInt(value, 0);
      return v >= 1 && v <= 1200;
    }
    case TkxOptionKind::Pages: {
      why = "not a page range such as 1, 2-4 or 1,3,5-";
      TkxPageRange r;
      return TkxPageRange::Parse(value, r);
    }
    case TkxOptionKind::Shard: {
      why = "not a share such as 2/3, 0/0-2, SLURM_ARRAY_TASK_ID or JOB_COMPLETION_INDEX/3";
      TkxShard s;
      return TkxShard::Parse(value, s);
    }
    case TkxOptionKind::Regex:
      try {
        RegexSearch(value, true, std::string());
        return true;
      } catch (const std::exception& e) {
        why = std::string("not a regular expression (") + e.what() + ")";
        return false;
      }
  }
  return true;
}

// What the program does instead with a value it cannot read.
static std::string Instead(const TkxOptionKey& k) {
  switch (k.Kind) {
    case TkxOptionKind::Regex: return "every document is taken";
    case TkxOptionKind::Pages: return "every page is written";
    case TkxOptionKind::Shard: return "every document is taken";
    default: return std::string("the default ") + k.Default + " is used";
  }
}

// Options whose unreadable value would otherwise fall back to a choice that touches
// files the user meant to keep: such a value stops the run instead.
static bool StopsTheRun(const TkxOptionKey& k) {
  return SameText(k.Key, "IsOverwrite") || SameText(k.Key, "DeleteSource") || SameText(k.Key, "RenameSource");
}

std::vector<std::string> OptionRefusals(const TkxStringList& settings) {
  std::vector<std::string> out;
  for (const TkxOptionKey& k : OptionTable()) {
    if (!StopsTheRun(k) || settings.IndexOfKey(k.Key) < 0) continue;
    std::string value = Trim(settings.GetValue(k.Key)), why;
    if (!ValueFitsKind(k.Kind, value, why))
      out.push_back(std::string(k.Key) + "=" + value + " is " + why + "; nothing is converted until it is corrected");
  }
  return out;
}

std::vector<std::string> OptionWarnings(const TkxStringList& settings) {
  std::vector<std::string> out;
  std::vector<std::string> seen;
  for (const std::string& line : settings.Lines()) {
    if (Trim(line).empty()) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      out.push_back("\"" + line + "\" is not an option (Key=Value); it is ignored");
      continue;
    }
    std::string key = line.substr(0, eq), value = Trim(line.substr(eq + 1));
    const TkxOptionKey* k = FindOptionKey(key);
    if (!k) {
      std::string near = NearestOptionKey(key);
      out.push_back("unknown option \"" + key + "\"" + (near.empty() ? "" : " (did you mean \"" + near + "\"?)") +
                    "; it is ignored");
      continue;
    }
    if (std::any_of(seen.begin(), seen.end(), [&](const std::string& s) { return SameText(s, key); })) {
      out.push_back("the option \"" + key + "\" is given twice; the first value is used");
      continue;
    }
    seen.push_back(key);
    std::string why;
    if (StopsTheRun(*k)) continue;  // OptionRefusals says these
    if (!ValueFitsKind(k->Kind, value, why)) {
      out.push_back(key + "=" + value + " is " + why + "; " + Instead(*k));
    } else if (k->Kind == TkxOptionKind::Threads && ReadInt(value, 1) > kMaxThreads) {
      out.push_back(key + "=" + value + " is more than a run starts; " + std::to_string(kMaxThreads) +
                    " converter threads are used");
    }
  }
  return out;
}

}  // namespace kx
