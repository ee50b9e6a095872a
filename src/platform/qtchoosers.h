#pragma once
// The three choosers as Qt file dialogs, owned by the active window.
#include "platform/choosers.h"

namespace kx {

class TkxQtChoosers : public TkxChoosers {
 public:
  std::string BrowseFolder(const std::string& initial) override;
  bool PromptOpenFile(const std::string& filter, std::string& path, bool multiple) override;
  bool PromptSaveFile(const std::string& filter, const std::string& defaultExt, std::string& path) override;
};

}  // namespace kx
