#include "office/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

namespace kx::office {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

const char* const kProgramDir = "/usr/lib/libreoffice/program";
const char* const kPrefix = "lumipix-office-";
constexpr int kStartSeconds = 90;

std::mutex RegistryLock;
std::set<TkxOfficeProcess*>& Running() {
  static std::set<TkxOfficeProcess*> s;
  return s;
}
std::atomic<int> Counter{0};
std::atomic<int> BaseSeconds{120};
std::atomic<int> PageSeconds{1};
std::atomic<int> Recycle{200};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string TempRoot() {
  const char* t = std::getenv("TMPDIR");
  return (t && *t) ? t : "/tmp";
}

void RemoveTree(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

std::string ToUtf8(const rtl::OUString& s) { return rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr(); }

}  // namespace

namespace {
std::mutex DirLock;
std::string ProgramFolder = kProgramDir;
}  // namespace

std::string TkxOfficeProcess::ProgramDir() {
  std::lock_guard<std::mutex> g(DirLock);
  return ProgramFolder;
}

void TkxOfficeProcess::SetProgramDir(const std::string& dir) {
  std::lock_guard<std::mutex> g(DirLock);
  ProgramFolder = dir.empty() ? std::string(kProgramDir) : dir;
}

void SetDeadlines(int baseSeconds, int perPageSeconds) {
  BaseSeconds = std::max(1, baseSeconds);
  PageSeconds = std::max(0, perPageSeconds);
}
int BaseDeadline() { return BaseSeconds; }
int PerPageDeadline() { return PageSeconds; }
void SetRecycleAfter(int documents) { Recycle = std::max(1, documents); }
int RecycleAfter() { return Recycle; }

std::vector<pid_t> RunningOfficePids() {
  std::lock_guard<std::mutex> g(RegistryLock);
  std::vector<pid_t> r;
  for (TkxOfficeProcess* p : Running())
    if (p->Pid() > 0) r.push_back(p->Pid());
  return r;
}

namespace {
std::mutex HookLock;
std::function<void(pid_t)> ExportHook;
}  // namespace

void SetBeforeExport(std::function<void(pid_t)> hook) {
  std::lock_guard<std::mutex> g(HookLock);
  ExportHook = std::move(hook);
}

void BeforeExport(pid_t pid) {
  std::function<void(pid_t)> hook;
  {
    std::lock_guard<std::mutex> g(HookLock);
    hook = ExportHook;
  }
  if (hook) hook(pid);
}

TkxOfficeProcess::Watch::Watch(TkxOfficeProcess& office, int seconds) : FOffice(office) {
  FOffice.FDeadlineSeconds = seconds;
  FOffice.FDeadlineMs = NowMs() + int64_t(seconds) * 1000;
}

TkxOfficeProcess::Watch::~Watch() { FOffice.FDeadlineMs = 0; }

void TkxOfficeProcess::WatchdogLoop() {
  while (!FStopWatchdog) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int64_t deadline = FDeadlineMs;
    pid_t pid = FPid;
    if (deadline != 0 && NowMs() > deadline && pid > 0 && !FTimedOut) {
      // The blocked call then fails as the bridge breaks; the owner reaps the process.
      FTimedOut = true;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
    }
  }
}

Reference<css::uno::XComponentContext> LocalContext() {
  static std::once_flag once;
  static Reference<css::uno::XComponentContext> ctx;
  static std::string failure;
  std::call_once(once, [] {
    try {
      rtl::Bootstrap::setIniFilename(rtl::OUString::createFromAscii("file:///usr/lib/libreoffice/program/fundamentalrc"));
      ctx = cppu::defaultBootstrap_InitialComponentContext();
    } catch (const css::uno::Exception& e) {
      failure = ToUtf8(e.Message);
    } catch (...) {
      failure = "bootstrap failed";
    }
  });
  if (!ctx.is()) throw EOfficeError{"The word processor (LibreOffice) is not installed or cannot be started"};
  return ctx;
}

void SweepStaleProfiles() {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(TempRoot(), ec)) {
    std::string name = e.path().filename().string();
    if (name.rfind(kPrefix, 0) != 0) continue;
    pid_t owner = pid_t(std::atoi(name.c_str() + std::strlen(kPrefix)));
    if (owner > 0 && owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH) RemoveTree(e.path().string());
  }
}

TkxOfficeProcess::TkxOfficeProcess() {
  static std::once_flag sweep;
  std::call_once(sweep, [] {
    SweepStaleProfiles();
    std::atexit(KillAllOffices);
  });
  if (access((ProgramDir() + "/soffice.bin").c_str(), X_OK) != 0)
    throw EOfficeError{"The word processor (LibreOffice) is not installed"};
  Reference<css::uno::XComponentContext> local = LocalContext();

  int n = ++Counter;
  FPipe = std::string("lumipix-") + std::to_string(getpid()) + "-" + std::to_string(n);
  FBaseDir = TempRoot() + "/" + kPrefix + std::to_string(getpid()) + "-" + std::to_string(n);
  FWorkDir = FBaseDir + "/work/";
  std::filesystem::create_directories(FWorkDir);
  WriteProfile();
  {
    std::lock_guard<std::mutex> g(RegistryLock);
    Running().insert(this);
  }

  Reference<css::bridge::XUnoUrlResolver> resolver = css::bridge::UnoUrlResolver::create(local);
  rtl::OUString url = rtl::OUString::fromUtf8(("uno:pipe,name=" + FPipe + ";urp;StarOffice.ComponentContext").c_str());
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStartSeconds);
  int restarts = 0;
  Spawn();
  FWatchdog = std::thread([this] { WatchdogLoop(); });
  while (true) {
    try {
      Reference<css::uno::XInterface> obj = resolver->resolve(url);
      Context.set(obj, UNO_QUERY_THROW);
      Desktop = css::frame::Desktop::create(Context);
      break;
    } catch (const css::connection::NoConnectException&) {
    } catch (const css::uno::Exception&) {
    }
    int status = 0;
    if (waitpid(FPid, &status, WNOHANG) == FPid) {
      FPid = -1;
      // A fresh profile may ask for one restart of the process (exit code 81).
      if (WIFEXITED(status) && WEXITSTATUS(status) == 81 && ++restarts <= 3) {
        Spawn();
        continue;
      }
      Quit();
      throw EOfficeError{"The word processor (LibreOffice) stopped while starting"};
    }
    if (std::chrono::steady_clock::now() > deadline) {
      Quit();
      throw EOfficeError{"The word processor (LibreOffice) did not start within " + std::to_string(kStartSeconds) +
                         " seconds"};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TkxOfficeProcess::~TkxOfficeProcess() { Quit(); }

// What the fresh profile says before the office's first start.
void TkxOfficeProcess::WriteProfile() {
  std::string dir = FBaseDir + "/profile/user";
  std::filesystem::create_directories(dir);
  std::ofstream xcu(dir + "/registrymodifications.xcu");
  xcu << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  // Converting reads documents: no lock files beside them, and no question about the
  // stale lock of a document whose editor crashed.
  for (const char* prop : {"UseLocking", "UseDocumentOOoLockFile", "UseDocumentSystemFileLocking"})
    xcu << "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"" << prop
        << "\" oor:op=\"fuse\"><value>false</value></prop></item>\n";
  // Tracked changes in one colour, the one a fresh office gives a document's first
  // author: colours by author follow the order in which the office met the authors of
  // every document it has converted, so a page would depend on the documents before it.
  for (const char* kind : {"Insert", "Delete", "ChangedAttribute"})
    xcu << "<item oor:path=\"/org.openoffice.Office.Writer/Revision/TextDisplay/" << kind
        << "\"><prop oor:name=\"Color\" oor:op=\"fuse\"><value>13013504</value></prop></item>\n";  // #C69200
  xcu << "</oor:items>\n";
}

void TkxOfficeProcess::Spawn() {
  std::string exe = ProgramDir() + "/soffice.bin";
  std::string profile = "-env:UserInstallation=file://" + FBaseDir + "/profile";
  std::string accept = "--accept=pipe,name=" + FPipe + ";urp;StarOffice.ComponentContext";
  const char* argv[] = {exe.c_str(),     "--headless",   "--invisible",     "--nologo",
                        "--norestore",   "--nodefault",  "--nolockcheck",   "--nofirststartwizard",
                        profile.c_str(), accept.c_str(), nullptr};
  int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    // The office dies with the thread that started it, so a killed converter leaves none behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;  // our console run blocks interrupts; the office takes them as usual
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (getppid() != parent) _exit(1);
    setpgid(0, 0);
    if (devnull >= 0) {
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    execv(exe.c_str(), const_cast<char* const*>(argv));
    _exit(127);
  }
  if (devnull >= 0) close(devnull);
  if (pid < 0) throw EOfficeError{"The word processor (LibreOffice) cannot be started"};
  FPid = pid;
}

bool TkxOfficeProcess::Alive() {
  if (FPid <= 0 || FBroken || FTimedOut) return false;
  int status;
  if (waitpid(FPid, &status, WNOHANG) == FPid) {
    FPid = -1;
    return false;
  }
  return true;
}

void TkxOfficeProcess::Kill() {
  if (FPid <= 0) return;
  kill(-FPid, SIGKILL);  // its whole process group
  kill(FPid, SIGKILL);
  int status;
  while (waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
  }
  FPid = -1;
}

void TkxOfficeProcess::Quit() {
  if (FPid > 0 && Desktop.is() && !FTimedOut) {
    // Ask politely, but never wait long: a hanging office is killed.
    std::atomic<bool> done{false};
    Reference<css::frame::XDesktop2> desktop = Desktop;
    std::thread asker([desktop, &done] {
      try {
        desktop->terminate();
      } catch (...) {
      }
      done = true;
    });
    for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done) {
      for (int i = 0; i < 150 && Alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Kill();  // also ends a blocked terminate() call: the bridge breaks
    asker.join();
  }
  Kill();
  try {
    Desktop.clear();
    Context.clear();
  } catch (...) {
  }
  FStopWatchdog = true;
  if (FWatchdog.joinable()) FWatchdog.join();
  if (!FBaseDir.empty()) RemoveTree(FBaseDir);
  FBaseDir.clear();
  std::lock_guard<std::mutex> g(RegistryLock);
  Running().erase(this);
}

void KillAllOffices() {
  std::lock_guard<std::mutex> g(RegistryLock);
  for (TkxOfficeProcess* p : Running()) {
    if (p->Pid() > 0) {
      kill(-p->Pid(), SIGKILL);
      kill(p->Pid(), SIGKILL);
    }
  }
  // Profiles of this process: their owners can no longer remove them.
  std::error_code ec;
  std::string mine = std::string(kPrefix) + std::to_string(getpid()) + "-";
  for (const auto& e : std::filesystem::directory_iterator(TempRoot(), ec))
    if (e.path().filename().string().rfind(mine, 0) == 0) RemoveTree(e.path().string());
}

}  // namespace kx::office
