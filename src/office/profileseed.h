#pragma once
// What a fresh office profile would otherwise make on its first start and then restart
// for (its record of the installation's bundled extensions, about 150 KB): kept once per
// account in its cache folder and copied into each new profile, so an office starts once.

#include <string>

namespace kx::office {

// The kept copy: <cache>/lumipix/office-extensions, where <cache> is $XDG_CACHE_HOME or
// else $HOME/.cache; "" when neither names an absolute folder.
std::string ProfileSeedDir();
// Copies the kept copy into `userDir` (a profile's "user" folder, which has no
// "extensions" yet). Only a real folder of this account that no one else may write is
// read, and only its folders and regular files; false when there is none to copy.
bool SeedProfile(const std::string& userDir);
// Keeps `userDir`'s extensions record as the account's copy, in place of an older one
// (called after a start that needed the restart, so the copy was missing or stale).
// Concurrent keepers are safe: each copy goes in whole or not at all. False when it
// could not be kept; the office runs all the same.
bool KeepProfileSeed(const std::string& userDir);

}  // namespace kx::office
