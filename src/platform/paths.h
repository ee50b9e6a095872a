#pragma once
// Path rules of this platform: '/' delimits, ':' is an ordinary character,
// folder paths carry their trailing '/'.
#include <string>
#include <string_view>

namespace kx {

inline constexpr char PathDelim = '/';

std::string ExtractFilePath(std::string_view path);  // up to and including the last '/'
std::string ExtractFileName(std::string_view path);  // after the last '/'
std::string ExtractFileExt(std::string_view path);   // from the last '.' of the name part, or ""
// Replaces the extension of the name part; a name without one gets `ext` appended.
std::string ChangeFileExt(std::string_view path, std::string_view ext);
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);
// Makes `path` absolute against `base` (a folder); a path with a leading '/' is returned as is.
std::string AbsolutePath(std::string_view path, std::string_view base);
std::string CurrentDir();
// The absolute path the program was started by (argv[0] rules; links are not resolved).
std::string ResolveExeName(std::string_view argv0);

// A "file:" address as a path: the prefix "file:" with every slash after it is
// removed and one '/' put in front (a host name becomes the first folder). Other
// text is returned unchanged; an address with nothing after the prefix gives "".
// Percent escapes ("%20") are decoded.
std::string FileAddressToPath(std::string_view path);

// Names are bytes here, and not every name is valid UTF-8 (old archives carry
// Latin-1 names). File operations always use the bytes as they are.
bool IsValidUtf8(std::string_view s);
// A name as a line of text shows it, reversibly: each byte that is not part of valid
// UTF-8, and each control character (C0, DEL, C1, U+2028, U+2029; by its UTF-8 bytes),
// is written "\xHH" (two upper-case hex digits), a backslash "\\"; everything else
// stays as it is. So a name never splits or forges a line, and the text names the
// file exactly: PathFromDisplay gives its bytes back.
std::string DisplayPath(std::string_view path);
// The bytes of a name in the form DisplayPath writes. "\\" and "\xHH" (hex digits
// of either case) are read back; any other backslash stands for itself.
std::string PathFromDisplay(std::string_view shown);
// For interfaces that take UTF-16 paths: valid UTF-8 converts as usual, each byte
// of an invalid sequence becomes the lone surrogate U+DC80..U+DCFF of its value.
// No valid UTF-8 text gives a lone surrogate, so the receiver gets the bytes back
// exactly by mapping those code units back to bytes.
std::u16string PathToUtf16(std::string_view path);

}  // namespace kx
