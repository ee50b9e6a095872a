#pragma once
// The texts a person asks for on the command line: usage and version. Decided
// before any project is opened, so nothing runs or is written for them.
#include <string>

namespace kx {

struct TkxEditionProfile;

enum class TkxInfoRequest { None, Help, Version, Unknown };

// --help, -h, -H, -? ask for the usage; --version for the version; any other
// argument beginning with "--" is unknown. Everything else is left to the project.
TkxInfoRequest InfoRequestOf(const std::string& param);

// The usage text of the program started as `exeName`.
std::string HelpText(const std::string& exeName, const TkxEditionProfile& profile);
// Product name, edition and version on one line.
std::string VersionText(const TkxEditionProfile& profile);

}  // namespace kx
