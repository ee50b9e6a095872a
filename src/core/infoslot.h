#pragma once
// The product information object as the rest of the program sees it: usage
// counters, outside links and the handler of unexpected errors.
#include <string>

namespace kx {

class TkxInfoBase {
 public:
  virtual ~TkxInfoBase() = default;
  // value > 0 sets the counter, otherwise adds `increment` to it.
  virtual void Count(const std::string& key, int value, int increment) = 0;
  virtual void OpenLink(const std::string& page, const std::string& action, const std::string& extra) = 0;
  // An error that no other code caught, in the window's thread.
  virtual void HandleError(const std::string& message) = 0;
};

// The one product information object; null before start-up creates it.
extern TkxInfoBase* Info;

}  // namespace kx
