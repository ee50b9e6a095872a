#pragma once
// Files and folders. Attribute bits follow the classic layout so the search's
// attribute tests work unchanged.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace kx {

enum : int {
  faReadOnly = 1,   // the owner may not write it
  faHidden = 2,     // the name begins with '.'
  faSysFile = 4,    // never set here
  faVolumeID = 8,   // never set here
  faDirectory = 16,
  faArchive = 32,   // a regular file
};

struct TkxFileEntry {
  std::string Name;
  int Attr = 0;
};

// Lists the entries of the folder part of `pattern` whose names match its name part
// (`*` any run, `?` one character or none, letter case ignored). As on the classic
// platform, hidden and folder entries are listed only when `attrs` asks for them.
// Only regular files and folders are listed (links followed, except that links to
// folders are never reported as folders); "." and ".." are reported like any entry.
// Each entry is handed to `fn`; returning false stops the listing.
void FindFiles(const std::string& pattern, int attrs, const std::function<bool(const TkxFileEntry&)>& fn);
bool WildcardMatch(const std::string& mask, const std::string& name);

bool FileExists(const std::string& path);       // a regular file (links followed)
bool DirectoryExists(const std::string& path);  // a folder (links followed)
// mkdir -p; raises "Unable to create directory" for the empty path, and on failure.
void ForceDirectories(const std::string& path);
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);

struct TkxFileTimes {
  timespec Creation{}, Access{}, Write{};
};
bool GetFileTimes(const std::string& path, TkxFileTimes& t);
// Sets access and write times; the creation time cannot be set on this platform.
bool SetFileTimes(const std::string& path, const TkxFileTimes& t);
// Birth time where the file system records it, else the modification time.
bool GetCreationTime(const std::string& path, timespec& t);

// (year-1980)<<9 | month<<5 | day in the upper 16 bits, hour<<11 | minute<<5 | second/2
// in the lower; -1 outside 1980..2107.
int32_t DateTimeToDosDateTime(const std::tm& tm);
int32_t UnixToDosDateTime(time_t t, bool utc);

}  // namespace kx
