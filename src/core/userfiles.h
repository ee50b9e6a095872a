#pragma once
// Where the files that belong beside the executable (default project, recent list,
// usage counters) are kept: beside it when its folder is the program's own and can
// be written, otherwise in the user's own folder ($XDG_CONFIG_HOME/lumipix/, by
// default ~/.config/lumipix/), as after a system-wide install.
#include <string>

namespace kx {

// The user's folder for these files, with its trailing '/'; "" when neither
// XDG_CONFIG_HOME nor HOME names one.
std::string UserConfigFolder();
// True when the files beside the executable in `folder` are kept there: unless the
// folder is part of the system's own tree (/usr) or exists and cannot be written.
bool ProgramFolderWritable(const std::string& folder);
// `besideExe` itself when its folder can be kept (or there is no user's folder),
// else the same name in the user's folder.
std::string HousekeepingFile(const std::string& besideExe);
// Creates the folder of `path` when it is the user's folder (errors ignored).
void PrepareHousekeepingFolder(const std::string& path);

}  // namespace kx
