#pragma once
// Shared helpers of the unit tests.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/app.h"
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

// A small file system of its own for a test (a full disk). Needs the right to
// mount; `Why` says what failed when it could not be mounted.
class SmallTmpfs {
 public:
  SmallTmpfs(const std::string& path, const std::string& size);
  ~SmallTmpfs();
  bool Mounted() const { return FMounted; }
  std::string Why;
  // Writes a filler file until the file system is full.
  void Fill(const std::string& name) const;

 private:
  std::string FPath;
  bool FMounted = false;
};

// While it lives, this thread and the threads it starts are held to the file modes
// as any user is (root's rights to read past them are set aside), so that a folder
// of mode 000 cannot be read even when the tests run as root.
class FileModesHold {
 public:
  FileModesHold();
  ~FileModesHold();
  FileModesHold(const FileModesHold&) = delete;
  FileModesHold& operator=(const FileModesHold&) = delete;

 private:
  bool FDropped = false;
  uint32_t FSaved[2][3] = {};  // the thread's capability sets as the kernel gave them
};

// Sets up the global Project (and App) as the PNG edition's start-up would, with
// the recording test converter class; tears everything down again.
class ProjectScope {
 public:
  explicit ProjectScope(const std::string& exeName = "", int edition = kx::kPngEdition);
  ~ProjectScope();
  TempDir Dir;
};

// What the test converter class saw, and how it should behave.
struct TestConvertorLog {
  std::mutex Lock;
  std::vector<std::string> Files;  // in processing order
  std::vector<int> Indexes;
  std::vector<std::string> ThreadIds;
  std::atomic<int> Constructed{0};
  std::atomic<int> Destroyed{0};
  std::atomic<int> DelayMs{0};       // per document
  std::map<int, int> DelayForIndex;  // more milliseconds for the item of that index
  void Reset();
};
TestConvertorLog& TestLog();

// Documents named "*fail*" fail with "Failed: <name part>" unless `FailMessage` is set,
// "*throw*" throw out of ConvertFile, others write "<target>" with the document's
// path and a run number ("<path> #<Run>"); the result text is the target, and what
// FinishSource says in brackets.
extern std::string FailMessage;
extern std::atomic<int> Run;
const kx::TkxConvertorClass* TestConvertorClass();

}  // namespace kxtest
