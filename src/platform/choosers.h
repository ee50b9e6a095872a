#pragma once
// The three choosers (folder, open file, save file). The window installs its
// dialog implementation; without one every chooser behaves as cancelled.
#include <string>

namespace kx {

class TkxChoosers {
 public:
  virtual ~TkxChoosers() = default;
  // The chosen folder without a trailing '/' (except "/"); `initial` unchanged on cancel.
  virtual std::string BrowseFolder(const std::string& initial) = 0;
  // `filter` is "Name|*.a;*.b|...". On confirm `path` becomes the chosen file or,
  // with `multiple`, every chosen file followed by CR LF.
  virtual bool PromptOpenFile(const std::string& filter, std::string& path, bool multiple) = 0;
  virtual bool PromptSaveFile(const std::string& filter, const std::string& defaultExt, std::string& path) = 0;
};

// Installs `c` (not owned; nullptr restores the cancelling default).
void SetChoosers(TkxChoosers* c);
TkxChoosers& Choosers();

std::string BrowseFolder(const std::string& initial);
bool PromptOpenFile(const std::string& filter, std::string& path, bool multiple);
bool PromptSaveFile(const std::string& filter, const std::string& defaultExt, std::string& path);

// "Name|*.a;*.b|Other|*.c" becomes "Name (*.a *.b);;Other (*.c)".
std::string ConvertFilter(const std::string& filter);

}  // namespace kx
