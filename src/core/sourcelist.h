#pragma once
// One reading of "Source" for every front end: what a source value names, item by
// item. A value is one path or web address, or several, each in double quotes.
#include <string>
#include <string_view>
#include <vector>

namespace kx {

struct TkxSourceItem {
  enum TKind {
    skDocument,     // an existing file: that file, whatever characters its name holds
    skFolder,       // an existing folder: searched with the edition's mask
    skMask,         // a folder that exists and a mask for the names in it
    skWebAddress,   // http:// or https://
    skMissing,      // a path whose folder does not exist
    skUnsupported,  // an address of another scheme (ftp://, smb://, ...)
  };
  TKind Kind = skMissing;
  std::string Given;   // the item as it was written
  std::string Folder;  // absolute, with its '/'; "" for addresses
  std::string Name;    // Document: its name; Folder and Mask: the mask; addresses: the address
  // Document: its path; Folder and Mask: folder and mask; addresses: the address.
  std::string Path() const { return Folder + Name; }
  bool Local() const { return Kind == skDocument || Kind == skFolder || Kind == skMask; }
};

// The items of a value: the value itself, unless it begins with a double quote and
// reads as a list of quoted items ("a.doc" "my b.doc"; a quote inside an item
// doubled). Nothing but blanks may stand between the items.
std::vector<std::string> SplitSourceList(std::string_view value);
// Items as one value that SplitSourceList reads back: a single plain item as it is,
// otherwise each in double quotes, separated by a blank.
std::string JoinSourceList(const std::vector<std::string>& items);

// What each item names, relative paths taken from the folder `base`. A value that
// names an existing file or folder as a whole is that one item, quotes and all.
// "file:" addresses are paths (percent escapes decoded).
std::vector<TkxSourceItem> ReadSource(std::string_view value, const std::string& defaultMask,
                                      const std::string& base = std::string());

// "http://..." or "https://..." (letter case ignored).
bool IsWebAddress(std::string_view text);
// The scheme of an address "scheme://..." ("ftp"), "" for anything else.
std::string AddressScheme(std::string_view text);

// The folder that receives the pages when no Target is given: the one folder of the
// source's local items (a folder itself, else the folder of the document or mask);
// "" when they lie in several folders (each document's pages then go beside it) or
// the source names no local item.
std::string DefaultTargetOf(const std::vector<TkxSourceItem>& items);

// One line for each item that cannot be converted as it stands (a folder that does
// not exist, a document that is not there, an address of another scheme); "" lines
// are left out. With `subdirs`, a missing name in an existing folder may still be
// found below it, so it is not said.
std::vector<std::string> SourceItemProblems(const std::vector<TkxSourceItem>& items, bool subdirs);

}  // namespace kx
