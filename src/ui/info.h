#pragma once
// Product information: usage counters kept beside the executable, the outside
// links (web pages, help file, support mail, error reports) and the handler of
// unexpected errors.
#include <mutex>
#include <string>

#include "core/infoslot.h"
#include "core/strlist.h"
#include "core/userfiles.h"

namespace kx {

inline constexpr const char* kWebSite = "https://www.lumipix.example";
inline constexpr const char* kSupportMail = "support@lumipix.example";

class TkxInfo : public TkxInfoBase {
 public:
  // Reads the store beside `exeName` and counts this start ("R").
  explicit TkxInfo(const std::string& exeName);
  ~TkxInfo() override;  // writes the store

  void Count(const std::string& key, int value, int increment) override;
  void OpenLink(const std::string& page, const std::string& action, const std::string& extra) override;
  void HandleError(const std::string& message) override;

  // The target OpenLink opens, without opening it.
  std::string LinkTarget(const std::string& page, const std::string& action, const std::string& extra) const;
  std::string CounterText() const;
  int32_t InstallNumber() const { return FInstallNumber; }
  // Beside the executable, or in the user's folder when the program's folder is not
  // its own to write (a system-wide install).
  std::string StoreFile() const { return HousekeepingFile(FExeName + ".ini"); }
  std::string StoredValue(const std::string& key) const;

 private:
  void WriteStore() const;  // caller holds FLock

  std::string FExeName;
  int32_t FInstallNumber = -1;
  mutable std::mutex FLock;  // guards FStore and its file
  TkxStringList FStore;
};

}  // namespace kx
