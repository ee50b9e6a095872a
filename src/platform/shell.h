#pragma once
#include <string>

namespace kx {

// Opens a document, folder or link with the desktop's default program: runs
// `xdg-open TARGET` (found on PATH) detached, the target as its only argument,
// never through a shell. Every failure is silent.
void ShellOpen(const std::string& target);

}  // namespace kx
