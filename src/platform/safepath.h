#pragma once
// Reaching the files a run writes by name (its log, its trace, its target folder)
// without following a link that another account planted on the way.
#include <string>

#include "platform/fd.h"

namespace kx {

// Follows every symbolic link on `path` (relative paths from the working folder) and
// checks each one: a link in a folder that others may write (mode o+w, like /tmp),
// owned neither by this account nor by that folder's owner, may have been planted by
// another account to send our writes elsewhere. Returns "" when there is none, else
// a sentence naming the link and its owner. `resolved` receives the path with every
// link followed (the part that does not exist yet as written).
std::string PlantedLinkOn(const std::string& path, std::string* resolved = nullptr);

// Opens `path` for writing, created (mode 0666 less the umask) or emptied, never
// through a planted link: the checked, link-free path is opened without following a
// link at its end. Only a regular file or a device (/dev/null) is taken. On failure
// returns no descriptor and sets `problem` to the reason.
UniqueFd OpenForWriting(const std::string& path, std::string& problem);

// Makes the folder `path` with every missing parent (as mkdir -p). On failure returns
// the folder that could not be made, a colon and the system's reason
// ("/out/x: Permission denied"); "" when the folder exists afterwards.
std::string MakeFolders(const std::string& path);

}  // namespace kx
