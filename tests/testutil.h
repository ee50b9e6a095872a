#pragma once
// Shared helpers of the unit tests.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/convertor.h"

namespace kxtest {

// A fresh folder below the system's temporary folder, removed with its content.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return FPath; }  // with trailing '/'
  std::string operator/(const std::string& name) const { return FPath + name; }

 private:
  std::string FPath;
};

void WriteFile(const std::string& path, const std::string& data);
// The message of what `f` raises, or `none` when it raises nothing.
std::string FailureText(const std::function<void()>& f, const std::string& none = "(no failure)");
std::string ReadFile(const std::string& path);
void MakeDir(const std::string& path);

// Sets up the global Project (and App) as the PNG edition's start-up would, with
// the recording test converter class; tears everything down again.
class ProjectScope {
 public:
  explicit ProjectScope(const std::string& exeName = "", int edition = 0);
  ~ProjectScope();
  TempDir Dir;
};

// What the test converter class saw, and how it should behave.
struct TestConvertorLog {
  std::mutex Lock;
  std::vector<std::string> Files;        // in processing order
  std::vector<int> Indexes;
  std::vector<std::string> ThreadIds;
  std::atomic<int> Constructed{0};
  std::atomic<int> Destroyed{0};
  std::atomic<int> DelayMs{0};           // per document
  void Reset();
};
TestConvertorLog& TestLog();

// Documents named "*fail*" fail with "Failed: <name part>" unless `FailMessage` is set,
// "*throw*" throw out of ConvertFile, others write "<target>" with "converted".
extern std::string FailMessage;
const kx::TkxConvertorClass* TestConvertorClass();

}  // namespace kxtest
