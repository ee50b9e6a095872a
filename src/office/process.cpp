#include "office/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>

#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include "office/profileseed.h"
#include "platform/fd.h"
#include "platform/trace.h"

extern char** environ;

namespace kx::office {

using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

const char* const kProgramDir = "/usr/lib/libreoffice/program";
constexpr int kStartSeconds = 90;

std::mutex RegistryLock;
// Set by KillAllOffices: from then on no office is started, so none outlives it.
bool Closing = false;
std::set<TkxOfficeProcess*>& Running() {
  static std::set<TkxOfficeProcess*> s;
  return s;
}
std::atomic<int> BaseSeconds{120};
std::atomic<int> PageSeconds{1};
std::atomic<int> Recycle{200};
// Eight times what one office took at most over a corpus of real documents (about 250 MB).
std::atomic<int> CeilingMb{2048};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string ToUtf8(const rtl::OUString& s) { return rtl::OUStringToOString(s, RTL_TEXTENCODING_UTF8).getStr(); }

// What every office's profile says before its first start.
struct TkxSetting {
  const char* Path;
  const char* Name;
  const char* Value;
};
const TkxSetting kProfileSettings[] = {
    // Converting reads documents: no lock files beside them, and no question about the
    // stale lock of a document whose editor crashed.
    {"/org.openoffice.Office.Common/Misc", "UseLocking", "false"},
    {"/org.openoffice.Office.Common/Misc", "UseDocumentOOoLockFile", "false"},
    {"/org.openoffice.Office.Common/Misc", "UseDocumentSystemFileLocking", "false"},
    // A document is not trusted: what it links to (pictures by address or path, linked
    // objects, included files) is neither fetched nor read, links are never updated
    // from their sources, and no macro runs, whatever the document asks.
    {"/org.openoffice.Office.Common/Security/Scripting", "BlockUntrustedRefererLinks", "true"},
    {"/org.openoffice.Office.Writer/Content/Update", "Link", "0"},
    {"/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "true"},
    {"/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "3"},
    // Tracked changes in one colour, the one a fresh office gives a document's first
    // author (#C69200): colours by author follow the order in which the office met the
    // authors of every document it converted, so a page would depend on those before it.
    {"/org.openoffice.Office.Writer/Revision/TextDisplay/Insert", "Color", "13013504"},
    {"/org.openoffice.Office.Writer/Revision/TextDisplay/Delete", "Color", "13013504"},
    {"/org.openoffice.Office.Writer/Revision/TextDisplay/ChangedAttribute", "Color", "13013504"},
};
// The office reaches no host by itself: the content providers of network schemes are
// taken out of its profile (a document asked for by web address is fetched apart).
const char* const kRemoteProviders[] = {"Provider3",  "Provider4",   "Provider4a",  "Provider6",
                                        "Provider12", "Provider12a", "Provider12b", "Provider43"};

// The installed office's version ("7.4"), from its configuration's data; "" when
// it cannot be read.
std::string InstalledVersion(const std::string& programDir) {
  std::ifstream in(programDir + "/../share/registry/main.xcd", std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = data.find("<prop oor:name=\"ooSetupVersion\">");
  if (at == std::string::npos) return std::string();
  size_t from = data.find("<value>", at), to = data.find("</value>", at);
  if (from == std::string::npos || to == std::string::npos || from > to || to - from > 24) return std::string();
  std::string version = data.substr(from + 7, to - from - 7);
  bool plain = !version.empty() && version.find_first_not_of("0123456789.") == std::string::npos;
  return plain ? version : std::string();
}

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
void SetMemoryCeiling(int megabytes) { CeilingMb = std::max(0, megabytes); }
int MemoryCeiling() { return CeilingMb; }

std::vector<pid_t> RunningOfficePids() {
  std::lock_guard<std::mutex> g(RegistryLock);
  std::vector<pid_t> r;
  for (TkxOfficeProcess* p : Running())
    if (p->Pid() > 0) r.push_back(p->Pid());
  return r;
}

std::vector<std::string> RunningOfficeFolders() {
  std::lock_guard<std::mutex> g(RegistryLock);
  std::vector<std::string> r;
  for (TkxOfficeProcess* p : Running()) r.push_back(p->Folder());
  return r;
}

namespace {
std::mutex HookLock;
std::function<void(pid_t)> ExportHook;
std::function<void(int)> SpawnHook;
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

void SetBeforeSpawn(std::function<void(int)> hook) {
  std::lock_guard<std::mutex> g(HookLock);
  SpawnHook = std::move(hook);
}

namespace {
void BeforeSpawn(int attempt) {
  std::function<void(int)> hook;
  {
    std::lock_guard<std::mutex> g(HookLock);
    hook = SpawnHook;
  }
  if (hook) hook(attempt);
}
}  // namespace

TkxOfficeProcess::Watch::Watch(TkxOfficeProcess& office, int seconds) : FOffice(office) {
  FOffice.FDeadlineSeconds = seconds;
  FOffice.FDeadlineMs = NowMs() + int64_t(seconds) * 1000;
}

TkxOfficeProcess::Watch::~Watch() { FOffice.FDeadlineMs = 0; }

bool TkxOfficeProcess::TkxChild::Ended(int& status) {
  status = 0;
  pid_t pid = FPid;
  if (pid <= 0) return true;
  if (waitpid(pid, &status, WNOHANG) != pid) return false;
  Gone();
  return true;
}

void TkxOfficeProcess::TkxChild::Kill() {
  pid_t pid = FPid;
  if (pid > 0) {
    kill(-pid, SIGKILL);  // its whole process group
    kill(pid, SIGKILL);
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  Gone();
}

// A killed office leaves its socket files behind.
void TkxOfficeProcess::TkxChild::Gone() {
  FPid = -1;
  RemoveSockets(FSockets);
}

TkxOfficeProcess::TkxRegistration::TkxRegistration(TkxOfficeProcess* office) : FOffice(office) {
  static std::once_flag once;
  std::call_once(once, [] {
    Running();  // made before the exit handler is set, so it is still there when that runs
    SweepStaleOffices();
    std::atexit(KillAllOffices);
  });
  std::lock_guard<std::mutex> g(RegistryLock);
  Running().insert(FOffice);
}

TkxOfficeProcess::TkxRegistration::~TkxRegistration() {
  std::lock_guard<std::mutex> g(RegistryLock);
  Running().erase(FOffice);
}

void TkxOfficeProcess::SampleMemory(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmData:", 0) != 0) continue;
    int64_t kb = std::atoll(line.c_str() + 7);
    if (kb > FPeakDataKb) FPeakDataKb = kb;
    return;
  }
}

bool TkxOfficeProcess::OutOfMemory() const {
  return FCeilingMb > 0 && FPeakDataKb * 3 >= int64_t(FCeilingMb) * 1024 * 2;
}

void TkxOfficeProcess::WatchdogLoop(std::stop_token stop) {
  std::mutex m;
  std::condition_variable_any wake;
  std::unique_lock<std::mutex> lock(m);
  while (!stop.stop_requested()) {
    wake.wait_for(lock, stop, std::chrono::milliseconds(100), [] { return false; });
    pid_t pid = FChild.Pid();
    if (pid <= 0 || stop.stop_requested()) continue;
    SampleMemory(pid);
    int64_t deadline = FDeadlineMs;
    if (deadline != 0 && NowMs() > deadline && !FTimedOut) {
      // The blocked call then fails as the bridge breaks; the owner reaps the process.
      Trace("office: pid " + std::to_string(pid) + " killed: a call ran past its deadline of " +
            std::to_string(FDeadlineSeconds.load()) + " s");
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
      rtl::Bootstrap::setIniFilename(
          rtl::OUString::createFromAscii("file:///usr/lib/libreoffice/program/fundamentalrc"));
      ctx = cppu::defaultBootstrap_InitialComponentContext();
    } catch (const css::uno::Exception& e) {
      failure = ToUtf8(e.Message);
    } catch (...) {
      failure = "its components could not be loaded";
    }
  });
  if (!ctx.is())
    throw EOfficeError{"The word processor (LibreOffice) is not installed or cannot be started" +
                       (failure.empty() ? std::string() : " (" + failure + ")")};
  return ctx;
}

TkxOfficeProcess::TkxOfficeProcess()
    : FWorkDir(FDir.Path() + "/work/"),
      FPipe(NewPipeName()),
      FChild(OfficeSockets(FPipe, ProfileUrl(FDir.Path() + "/profile"))),
      FCeilingMb(MemoryCeiling()) {
  FDir.Owns(FChild.Sockets());
  if (access((ProgramDir() + "/soffice.bin").c_str(), X_OK) != 0)
    throw EOfficeError{"The word processor (LibreOffice) is not installed"};
  Reference<css::uno::XComponentContext> local = LocalContext();
  FDir.MakeDir("work");
  FDir.MakeDir("tmp");
  FDir.MakeDir("profile");
  FDir.MakeDir("profile/user");
  WriteProfile();
  bool seeded = SeedProfile(FDir.Path() + "/profile/user");
  FWatchdog = std::jthread([this](std::stop_token stop) { WatchdogLoop(stop); });
  Reference<css::bridge::XUnoUrlResolver> resolver = css::bridge::UnoUrlResolver::create(local);
  rtl::OUString url =
      rtl::OUString::fromUtf8(("uno:pipe,name=" + ClientPipeName(FPipe) + ";urp;StarOffice.ComponentContext").c_str());
  auto started = std::chrono::steady_clock::now();
  auto deadline = started + std::chrono::seconds(kStartSeconds);
  int attempts = 1;
  Spawn(attempts);
  while (true) {
    try {
      Reference<css::uno::XInterface> obj = resolver->resolve(url);
      Context.set(obj, UNO_QUERY_THROW);
      Desktop = css::frame::Desktop::create(Context);
      if (TraceOn()) {
        char took[32];
        std::snprintf(took, sizeof took, "%.3f",
                      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        Trace("office: pid " + std::to_string(Pid()) + " started in " + took + " s (" + FDir.Path() + ")" +
              (seeded ? ", its extensions record copied from " + ProfileSeedDir() : ""));
      }
      // Restarted: the kept record was missing or is out of date (another installation).
      if (attempts > 1 && KeepProfileSeed(FDir.Path() + "/profile/user"))
        Trace("office: extensions record kept in " + ProfileSeedDir() + " for the next offices");
      return;
    } catch (const css::connection::NoConnectException&) {
      // not listening yet: asked again below, until it ends or the time is up
    } catch (const css::uno::Exception&) {
      // listening but not ready to serve: the same
    }
    int status = 0;
    if (FChild.Ended(status)) {
      // A fresh profile may ask for one restart of the process (exit code 81).
      if (WIFEXITED(status) && WEXITSTATUS(status) == 81 && attempts <= 3) {
        Trace("office: restarted: a fresh profile asks for one restart (exit code 81)");
        Spawn(++attempts);
        continue;
      }
      if (OutOfMemory())
        throw EOfficeError{"The word processor (LibreOffice) needs more memory to start than it may use (" +
                           std::to_string(FCeilingMb) + " MB)"};
      std::string how = WIFSIGNALED(status) ? " (ended by signal " + std::to_string(WTERMSIG(status)) + ")"
                                            : " (exit code " + std::to_string(WEXITSTATUS(status)) + ")";
      Trace("office: start failed: it stopped while starting" + how);
      throw EOfficeError{"The word processor (LibreOffice) stopped while starting" + how};
    }
    if (std::chrono::steady_clock::now() > deadline) {
      Trace("office: start failed: no answer within " + std::to_string(kStartSeconds) + " s");
      throw EOfficeError{"The word processor (LibreOffice) did not start within " + std::to_string(kStartSeconds) +
                         " seconds"};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TkxOfficeProcess::~TkxOfficeProcess() { Quit(); }

void TkxOfficeProcess::WriteProfile() {
  std::string xcu =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  for (const TkxSetting& s : kProfileSettings)
    xcu += std::string("<item oor:path=\"") + s.Path + "\"><prop oor:name=\"" + s.Name + "\" oor:op=\"fuse\"><value>" +
           s.Value + "</value></prop></item>\n";
  // The office runs its graphics self-tests (0.7 s) at the first start of a version in
  // a profile: it is told that this version has started in this one before.
  const std::string version = InstalledVersion(ProgramDir());
  if (!version.empty())
    xcu +=
        "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
        "oor:op=\"fuse\"><value>" +
        version + "</value></prop></item>\n";
  for (const char* provider : kRemoteProviders)
    xcu += std::string(
               "<item oor:path=\"/org.openoffice.ucb.Configuration/ContentProviders/Local/SecondaryKeys/Office/"
               "ProviderData\"><node oor:name=\"") +
           provider + "\" oor:op=\"remove\"/></item>\n";
  xcu += "</oor:items>\n";
  FDir.WriteFile("profile/user/registrymodifications.xcu", xcu);
}

void TkxOfficeProcess::Spawn(int attempt) {
  BeforeSpawn(attempt);
  std::string exe = ProgramDir() + "/soffice.bin";
  std::string profile = "-env:UserInstallation=" + ProfileUrl(FDir.Path() + "/profile");
  std::string accept = "--accept=pipe,name=" + FPipe + ";urp;StarOffice.ComponentContext";
  const char* argv[] = {exe.c_str(),     "--headless",   "--invisible",   "--nologo",
                        "--norestore",   "--nodefault",  "--nolockcheck", "--nofirststartwizard",
                        profile.c_str(), accept.c_str(), nullptr};
  // Its own temporary files go into the private folder too.
  std::vector<std::string> env;
  std::string preload;
  for (char** e = environ; e && *e; ++e) {
    if (std::strncmp(*e, "LD_PRELOAD=", 11) == 0)
      preload = *e + 11;
    else if (std::strncmp(*e, "TMPDIR=", 7) != 0 && std::strncmp(*e, "NSS_WRAPPER_", 12) != 0 &&
             std::strncmp(*e, "FONTCONFIG_FILE=", 16) != 0)
      env.emplace_back(*e);
  }
  env.push_back("TMPDIR=" + FDir.Path() + "/tmp");
  env.push_back("FONTCONFIG_FILE=" + FontConfigFile());
  for (std::string& e : AccountFiles()) {
    if (e.rfind("LD_PRELOAD=", 0) == 0) {
      if (!preload.empty()) e += " " + preload;
      preload.clear();
    }
    env.push_back(e);
  }
  if (!preload.empty()) env.push_back("LD_PRELOAD=" + preload);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  rlimit limit{};
  bool limited = FCeilingMb > 0 && getrlimit(RLIMIT_DATA, &limit) == 0;
  if (limited) {
    rlim_t ceiling = rlim_t(FCeilingMb) << 20;
    if (limit.rlim_max == RLIM_INFINITY || ceiling < limit.rlim_max) limit.rlim_max = ceiling;
    limit.rlim_cur = limit.rlim_max;
  }
  // Forked and recorded under the registry's lock: KillAllOffices sees every office
  // started before it, and none starts after it.
  std::lock_guard<std::mutex> g(RegistryLock);
  if (Closing) throw EOfficeError{"The word processor (LibreOffice) is not started: the program is ending"};
  UniqueFd devnull(open("/dev/null", O_RDWR | O_CLOEXEC));
  pid_t parent = getpid();
  long openMax = sysconf(_SC_OPEN_MAX);
  pid_t pid = fork();
  if (pid == 0) {
    // The office dies with the thread that started it, so a killed converter leaves none behind.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;  // our console run blocks interrupts; the office takes them as usual
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (getppid() != parent) _exit(1);
    setpgid(0, 0);
    // Its profile, sockets and files are this user's alone, whatever umask we were given.
    umask(077);
    if (limited) setrlimit(RLIMIT_DATA, &limit);
    if (devnull) {
      dup2(devnull.Get(), 0);
      dup2(devnull.Get(), 1);
      dup2(devnull.Get(), 2);
    }
    // Nothing of ours reaches the office: not a descriptor the caller left open without
    // close-on-exec (a redirection, a pipe), nor one another thread opened meanwhile.
    if (close_range(3, ~0U, 0) != 0)
      for (long fd = 3; fd < openMax; ++fd) close(int(fd));
    execve(exe.c_str(), const_cast<char* const*>(argv), envp.data());
    _exit(127);
  }
  if (pid < 0)
    throw EOfficeError{std::string("The word processor (LibreOffice) cannot be started: ") + std::strerror(errno)};
  FChild.Started(pid);
}

// The font configuration the office lays documents out with: the one it would read
// anyway, and after it the faces closest in width to Word's fonts that no free face
// matches metrically (Verdana and Tahoma: DejaVu Sans, from the same Vera design
// family). Without them such documents break lines and pages by whatever face the
// machine prefers for sans-serif (Noto Sans, where it is installed: a page more in a
// three-page Verdana document). A face of that name that is installed comes first;
// a cache folder of the office's own serves where the account has none it may write.
std::string TkxOfficeProcess::FontConfigFile() {
  std::string path = FDir.Path() + "/fonts.conf";
  if (access(path.c_str(), F_OK) == 0) return path;  // made once, before the first start
  const char* inherited = std::getenv("FONTCONFIG_FILE");
  std::string base = inherited && *inherited ? inherited : "/etc/fonts/fonts.conf";
  auto escaped = [](const std::string& text) {
    std::string r;
    for (char c : text) r += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return r;
  };
  std::string conf =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n<fontconfig>\n"
      "  <include ignore_missing=\"yes\">" +
      escaped(base) + "</include>\n";
  for (const char* family : {"Verdana", "Tahoma"})
    conf += std::string("  <alias binding=\"same\"><family>") + family +
            "</family><accept><family>DejaVu Sans</family></accept></alias>\n";
  conf += "  <cachedir>" + escaped(FDir.Path()) + "/fontcache</cachedir>\n</fontconfig>\n";
  FDir.WriteFile("fonts.conf", conf);
  return path;
}

std::vector<std::string> TkxOfficeProcess::AccountFiles() {
  if (AccountHasEntry()) return {};
  std::string library = NssWrapperLibrary();
  if (library.empty())
    throw EOfficeError{"This account (uid " + std::to_string(getuid()) +
                       ") has no entry in the user database, and without one LibreOffice opens its pipes to every "
                       "account: install libnss-wrapper (apt-get install libnss-wrapper), which gives the word "
                       "processor an entry of its own, or run under an account that has an entry"};
  std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
  if (access((FDir.Path() + "/passwd").c_str(), F_OK) != 0) {  // made once, before the first start
    FDir.WriteFile("passwd", "lumipix:x:" + uid + ":" + gid + ":Lumipix Converter:" + FDir.Path() + ":/bin/false\n");
    FDir.WriteFile("group", "lumipix:x:" + gid + ":\n");
  }
  return {"LD_PRELOAD=" + library, "NSS_WRAPPER_PASSWD=" + FDir.Path() + "/passwd",
          "NSS_WRAPPER_GROUP=" + FDir.Path() + "/group"};
}

bool TkxOfficeProcess::Alive() {
  if (FChild.Pid() <= 0 || FBroken || FTimedOut) return false;
  int status;
  return !FChild.Ended(status);
}

void TkxOfficeProcess::Quit() {
  if (FChild.Pid() > 0 && Desktop.is() && !FTimedOut) {
    pid_t pid = FChild.Pid();  // for the trace: a process that has ended is no longer known by it
    // Ask politely, but never wait long: a hanging office is killed.
    std::atomic<bool> done{false};
    Reference<css::frame::XDesktop2> desktop = Desktop;
    std::jthread asker([desktop, &done] {
      try {
        desktop->terminate();
      } catch (const css::uno::Exception&) {
        // it went away while ending, as it was asked to
      }
      done = true;
    });
    for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done) {
      for (int i = 0; i < 150 && Alive(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (TraceOn())
      Trace("office: pid " + std::to_string(pid) +
            (Alive() ? " killed: it did not end within 3 s of being asked to quit" : " ended: asked to quit"));
    FChild.Kill();  // also ends a blocked terminate() call: the bridge breaks
  }
  FChild.Kill();
  Desktop.clear();
  Context.clear();
  FWatchdog.request_stop();
  if (FWatchdog.joinable()) FWatchdog.join();
  FDir.Remove();
}

void KillAllOffices() {
  std::lock_guard<std::mutex> g(RegistryLock);
  Closing = true;
  for (TkxOfficeProcess* p : Running()) {
    if (pid_t pid = p->Pid(); pid > 0) {
      Trace("office: pid " + std::to_string(pid) + " killed: the program is ending");
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      // A killed office may still be writing into its profile for a moment; its folder
      // is removed once it has ended. Not reaped: that stays its owner's business.
      for (int i = 0; i < 200; ++i) {
        siginfo_t info{};
        if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    // Their owners can no longer remove what they leave.
    RemoveSockets(p->Sockets());
    p->FDir.Remove();
  }
  // An office whose owner was taking it down has left the list already.
  SweepOwnOffices();
}

}  // namespace kx::office
