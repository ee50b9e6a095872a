#include "platform/trace.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

namespace kx {

namespace {

std::atomic<FILE*> gStream{nullptr};
std::mutex gWrite;
const auto gStart = std::chrono::steady_clock::now();

int ThreadSerial() {
  static std::atomic<int> next{0};
  thread_local int serial = next++;
  return serial;
}

}  // namespace

void SetTraceStream(FILE* stream) { gStream.store(stream); }

bool TraceOn() { return gStream.load() != nullptr; }

void Trace(std::string_view line) {
  FILE* out = gStream.load();
  if (!out) return;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - gStart).count();
  char head[48];
  std::snprintf(head, sizeof head, "%9.3f [t%d] ", seconds, ThreadSerial());
  std::string text = head;
  for (unsigned char c : line) {
    if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      text += esc;
    } else {
      text += char(c);
    }
  }
  text += '\n';
  std::lock_guard<std::mutex> lock(gWrite);
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

}  // namespace kx
