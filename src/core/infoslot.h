#pragma once
// The product information object as the rest of the program sees it: usage
// counters, outside links and the handler of unexpected errors.
#include <string>

namespace kx {

// The usage counters, one upper-case letter each in the store.
namespace counter {
inline constexpr const char* kStarts = "R";       // program starts
inline constexpr const char* kRuns = "C";         // runs started
inline constexpr const char* kHelp = "H";         // help opened from the toolbar
inline constexpr const char* kErrors = "E";       // unexpected errors
inline constexpr const char* kListed = "A";       // documents listed in finished runs
inline constexpr const char* kConverted = "S";    // documents converted
inline constexpr const char* kFailed = "F";       // failures of finished runs
inline constexpr const char* kWordVersion = "W";  // the word processor's version (set, not added)
}  // namespace counter

// The action of a web error report; the messages follow it.
inline constexpr const char* kErrorReportAction = "err&e=";

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
