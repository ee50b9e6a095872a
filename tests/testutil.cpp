#include "testutil.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/app.h"
#include "core/project.h"
#include "engine/match.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kxtest {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "lumitest-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  FPath = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

void WriteFile(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

std::string FailureText(const std::function<void()>& f, const std::string& none) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return none;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void MakeDir(const std::string& path) { std::filesystem::create_directories(path); }

SmallTmpfs::SmallTmpfs(const std::string& path, const std::string& size) : FPath(path) {
  std::filesystem::create_directories(path);
  std::string options = "size=" + size;
  if (mount("lumitest", path.c_str(), "tmpfs", 0, options.c_str()) == 0)
    FMounted = true;
  else
    Why = std::string("cannot mount a tmpfs here (") + std::strerror(errno) + "); it needs root";
}

SmallTmpfs::~SmallTmpfs() {
  if (FMounted) umount2(FPath.c_str(), MNT_DETACH);
}

void SmallTmpfs::Fill(const std::string& name) const {
  int fd = open((FPath + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string block(4096, 'x');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  while (write(fd, block.data(), 1) > 0) {
  }
  close(fd);
}

FileModesHold::FileModesHold() {
  if (geteuid() != 0) return;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};  // 0: this thread
  __user_cap_data_struct data[2];
  if (syscall(SYS_capget, &header, data) != 0) return;
  for (int i = 0; i < 2; ++i) {
    FSaved[i][0] = data[i].effective;
    FSaved[i][1] = data[i].permitted;
    FSaved[i][2] = data[i].inheritable;
  }
  for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) data[cap / 32].effective &= ~(1u << (cap % 32));
  FDropped = syscall(SYS_capset, &header, data) == 0;
}

FileModesHold::~FileModesHold() {
  if (!FDropped) return;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2];
  for (int i = 0; i < 2; ++i) data[i] = {FSaved[i][0], FSaved[i][1], FSaved[i][2]};
  syscall(SYS_capset, &header, data);
}

std::string FailMessage;
std::atomic<int> Run{0};

ProjectScope::ProjectScope(const std::string& exeName, int edition) {
  std::string exe = exeName.empty() ? Dir / (edition == kx::kPngEdition ? "batchpng" : "batchemf") : exeName;
  // The globals hold one project at a time; a second scope would leak the first.
  if (kx::Project != nullptr) {
    std::fprintf(stderr, "ProjectScope inside another ProjectScope\n");
    std::abort();
  }
  kx::App = new kx::TkxApp(exe, "");
  kx::Project = new kx::TkxProject(exe);
  kx::TkxProject& p = *kx::Project;
  kx::Edition = edition;
  p.ShortName = edition == kx::kPngEdition ? "lumipix" : "lumimet";
  p.OutputExt = edition == kx::kPngEdition ? ".png" : ".emf";
  p.ProjectExt = ".batch-" + p.ShortName;
  p.ProjectFilter = (edition == kx::kPngEdition ? "Lumipix Project|*" : "Lumimet Project|*") + p.ProjectExt;
  p.Title = edition == kx::kPngEdition ? "Lumipix Converter" : "Lumimet Converter";
  p.SourceMask = "*.doc?";
  p.DocFilter = "Word Document (*.doc;*.docx)|*.doc;*.docx";
  p.Version = kx::kVersion;
  p.ConvertorClass = TestConvertorClass();
  kx::SkipOwnerFiles = true;
  kx::Matcher = new kx::TkxMatch();
  FailMessage.clear();
  TestLog().Reset();
}

ProjectScope::~ProjectScope() {
  delete kx::Matcher;
  kx::Matcher = nullptr;
  delete kx::Project;
  kx::Project = nullptr;
  delete kx::App;
  kx::App = nullptr;
}

void TestConvertorLog::Reset() {
  std::lock_guard<std::mutex> g(Lock);
  Files.clear();
  Indexes.clear();
  ThreadIds.clear();
  Constructed = 0;
  Destroyed = 0;
  DelayMs = 0;
  DelayForIndex.clear();
}

TestConvertorLog& TestLog() {
  static TestConvertorLog log;
  return log;
}

namespace {
class TestConvertor : public kx::TkxConvertor {
 public:
  TestConvertor(kx::TkxBatch* b, const kx::TkxNodeEvent& e, int n) : TkxConvertor(b, e, n) { ++TestLog().Constructed; }
  ~TestConvertor() override { ++TestLog().Destroyed; }

  void ConvertFile(kx::TkxBatch* batch, kx::TkxNode* node) override {
    int extra = 0;
    {
      std::lock_guard<std::mutex> g(TestLog().Lock);
      TestLog().Files.push_back(node->FileName);
      TestLog().Indexes.push_back(node->Index);
      std::ostringstream id;
      id << std::this_thread::get_id();
      TestLog().ThreadIds.push_back(id.str());
      auto it = TestLog().DelayForIndex.find(node->Index);
      if (it != TestLog().DelayForIndex.end()) extra = it->second;
    }
    if (int d = TestLog().DelayMs.load() + extra) std::this_thread::sleep_for(std::chrono::milliseconds(d));
    std::string name = kx::ExtractFileName(node->FileName);
    if (kx::Contains(name, "throw")) throw std::runtime_error("thrown for " + name);
    std::string target = MakeTarget(batch, node);
    if (target.empty()) return;
    if (kx::Contains(name, "fail")) {
      std::string msg = FailMessage.empty() ? "Failed: " + name : FailMessage;
      node->ResultText = msg;
      node->Status = kx::TkxNode::Failure;
      batch->RecordFileFailure(msg);
      return;
    }
    WriteFile(target, node->FileName + " #" + std::to_string(Run.load()));
    std::string note = FinishSource(batch, node, target);
    node->ResultText = target + (note.empty() ? "" : " (" + note + ")");
    node->Status = kx::TkxNode::Success;
    batch->RecordSuccess();
  }
};
}  // namespace

const kx::TkxConvertorClass* TestConvertorClass() {
  static const kx::TkxConvertorClass* cls =
      kx::RegisterConvertorClass("TestConvertor", [](kx::TkxBatch* b, const kx::TkxNodeEvent& e, int n) {
        return static_cast<kx::TkxConvertor*>(new TestConvertor(b, e, n));
      });
  return cls;
}

}  // namespace kxtest
