#pragma once
// One private LibreOffice process: headless, its own temporary profile and pipe,
// driven over UNO. Quit ends the process and removes the profile.
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

namespace kx::office {

namespace css = com::sun::star;

// Raised with a sentence for a person when the office cannot be had.
struct EOfficeError {
  std::string Message;
};

// How long a call into the office may take before the watchdog ends that office:
// a base for every call, and more per page for the calls that lay out or export a
// whole document. Tests shorten them.
void SetDeadlines(int baseSeconds, int perPageSeconds);
int BaseDeadline();
int PerPageDeadline();
// An office that has opened this many documents is started afresh before the next.
void SetRecycleAfter(int documents);
int RecycleAfter();
// The process ids of the offices running now (for tests).
std::vector<pid_t> RunningOfficePids();
// Called with the office's process id right before a document's pages are exported
// (for tests that break the office in the middle of a document); empty: nothing.
void SetBeforeExport(std::function<void(pid_t)> hook);
void BeforeExport(pid_t pid);

class TkxOfficeProcess {
 public:
  // Marks a call into the office; past its deadline the watchdog kills the office.
  class Watch {
   public:
    Watch(TkxOfficeProcess& office, int seconds);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

   private:
    TkxOfficeProcess& FOffice;
  };

  // Starts the process and waits (bounded) until it answers; raises EOfficeError.
  TkxOfficeProcess();
  ~TkxOfficeProcess();  // Quit()
  TkxOfficeProcess(const TkxOfficeProcess&) = delete;
  TkxOfficeProcess& operator=(const TkxOfficeProcess&) = delete;

  void Quit();
  bool Alive();
  pid_t Pid() const { return FPid; }
  // The watchdog ended this office; the deadline it missed, in seconds.
  bool TimedOut() const { return FTimedOut; }
  // The bridge to this office broke: it counts as dead from now on.
  void MarkBroken() { FBroken = true; }
  int MissedDeadline() const { return FDeadlineSeconds; }
  int Documents = 0;  // documents opened in this office
  const std::string& WorkDir() const { return FWorkDir; }  // scratch folder inside the profile folder

  css::uno::Reference<css::uno::XComponentContext> Context;
  css::uno::Reference<css::frame::XDesktop2> Desktop;

  static std::string ProgramDir();  // LibreOffice's program folder
  // Another program folder (tests: a folder without LibreOffice); "" restores the default.
  static void SetProgramDir(const std::string& dir);

 private:
  void Spawn();
  void Kill();
  void WriteProfile();
  void WatchdogLoop();

  std::string FBaseDir;  // removed on quit
  std::string FWorkDir;
  std::string FPipe;
  std::atomic<pid_t> FPid{-1};
  std::atomic<int64_t> FDeadlineMs{0};  // 0: no call under way
  std::atomic<int> FDeadlineSeconds{0};
  std::atomic<bool> FTimedOut{false};
  std::atomic<bool> FStopWatchdog{false};
  std::atomic<bool> FBroken{false};
  std::thread FWatchdog;
};

// The process-wide local UNO context (bootstrapped once).
css::uno::Reference<css::uno::XComponentContext> LocalContext();
// Removes profile folders left by processes of ours that no longer run.
void SweepStaleProfiles();
// Kills every office process still running and removes its profile (at exit).
void KillAllOffices();

}  // namespace kx::office
