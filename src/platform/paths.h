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

}  // namespace kx
