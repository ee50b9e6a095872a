#include "platform/clipboard.h"

#include <mutex>
#include <optional>

namespace kx {

namespace {
std::mutex Lock;
std::optional<std::string> Held;
}  // namespace

void ClipboardSetMetafile(std::string emfBytes) {
  std::lock_guard<std::mutex> g(Lock);
  Held = std::move(emfBytes);
}

bool ClipboardGetMetafile(std::string& emfBytes) {
  std::lock_guard<std::mutex> g(Lock);
  if (!Held) return false;
  emfBytes = *Held;
  return true;
}

void ClipboardClear() {
  std::lock_guard<std::mutex> g(Lock);
  Held.reset();
}

}  // namespace kx
