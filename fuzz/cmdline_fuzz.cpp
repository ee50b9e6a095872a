// Arbitrary first arguments: switches, option text and paths.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "core/infoslot.h"
#include "core/project.h"

namespace kx {
TkxInfoBase* Info = nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string param(reinterpret_cast<const char*>(data), size);
  if (param.find('\0') != std::string::npos) return 0;  // the platform hands no NUL in an argument
  kx::TkxProject p("/nonexistent/lumipix-fuzz/batchpng");
  p.ProjectExt = ".batch-lumipix";
  p.ParseCommandLine(param);
  p.OpenStartupProject();
  p.GetSettingsText();
  try {
    p.OverwriteMode();
  } catch (const std::runtime_error&) {
    // an IsOverwrite that cannot be read is refused, as it must be
  }
  p.ThreadsCount();
  p.AutoRun();
  return 0;
}
