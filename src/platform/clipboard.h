#pragma once
// One process-wide clipboard holding at most one enhanced metafile.
#include <string>

namespace kx {

void ClipboardSetMetafile(std::string emfBytes);
bool ClipboardGetMetafile(std::string& emfBytes);  // false when it holds none
void ClipboardClear();

}  // namespace kx
