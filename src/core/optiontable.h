#pragma once
// The option keys the program reads: their kinds, defaults and meanings, for the
// help text and for the warnings about keys and values that would do nothing.
#include <string>
#include <string_view>
#include <vector>

#include "core/strlist.h"

namespace kx {

// Threads: an integer with an upper bound; Positive: an integer from 1; Suffix: a text
// appended to a name (no '/').
enum class TkxOptionKind { Text, Boolean, Integer, Overwrite, Pages, Shard, Dpi, Regex, Threads, Positive, Suffix };

struct TkxOptionKey {
  const char* Key;
  TkxOptionKind Kind;
  const char* Default;  // as the help shows it; "" for empty
  const char* Meaning;
  bool Listed = true;  // false for keys kept only for old project files
};

// Every key, in the order the help lists them.
const std::vector<TkxOptionKey>& OptionTable();
// The entry of `key` (letter case ignored), or null.
const TkxOptionKey* FindOptionKey(std::string_view key);
// The listed key closest to a key that is not one (a typing slip), or "".
std::string NearestOptionKey(std::string_view key);
// Edit distance with transpositions, letter case ignored.
int OptionKeyDistance(std::string_view a, std::string_view b);

// Whether `value` reads as `kind`; an empty value always does (it means the default).
// `why` receives what was expected, for the message.
bool ValueFitsKind(TkxOptionKind kind, const std::string& value, std::string& why);

// One line for each settings line that would silently do nothing: a key that is not
// one of the program's, a line without "=", a key given twice, a value that does not
// read as its kind, a value above its bound. Blank lines say nothing.
std::vector<std::string> OptionWarnings(const TkxStringList& settings);
// One line for each value that cannot be read for an option that decides which files
// are replaced, deleted or renamed ("IsOverwrite", "DeleteSource", "RenameSource"):
// such a run stops rather than fall back to a default the value did not mean.
std::vector<std::string> OptionRefusals(const TkxStringList& settings);

}  // namespace kx
