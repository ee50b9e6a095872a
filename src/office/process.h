#pragma once
// One private LibreOffice process: headless, its own private folder (profile, work
// files, temporary files) and pipe, a memory ceiling, driven over UNO. Quit ends the
// process and removes its folder and socket files.
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

#include "office/privatedir.h"

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
// The most private writable memory one office may take, in megabytes (0: no
// ceiling); it applies to offices started afterwards. Tests lower it.
void SetMemoryCeiling(int megabytes);
int MemoryCeiling();
// The process ids and the private folders of the offices running now (for tests).
std::vector<pid_t> RunningOfficePids();
std::vector<std::string> RunningOfficeFolders();
// Called before each start of an office process with the attempt's number from 1
// (for tests that make a start fail); empty: nothing.
void SetBeforeSpawn(std::function<void(int)> hook);
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
  // Whatever the start made is undone when it fails.
  TkxOfficeProcess();
  ~TkxOfficeProcess();  // Quit()
  TkxOfficeProcess(const TkxOfficeProcess&) = delete;
  TkxOfficeProcess& operator=(const TkxOfficeProcess&) = delete;

  void Quit();
  bool Alive();
  pid_t Pid() const { return FChild.Pid(); }
  // The watchdog ended this office; the deadline it missed, in seconds.
  bool TimedOut() const { return FTimedOut; }
  // The bridge to this office broke: it counts as dead from now on.
  void MarkBroken() { FBroken = true; }
  int MissedDeadline() const { return FDeadlineSeconds; }
  // The office came near its memory ceiling (two thirds of it or more): a failure
  // then is for want of memory. The ceiling it was started with, in megabytes.
  bool OutOfMemory() const;
  int CeilingMb() const { return FCeilingMb; }
  int Documents = 0;                                         // documents opened in this office
  const std::string& Folder() const { return FDir.Path(); }  // the private folder
  const std::string& WorkDir() const { return FWorkDir; }    // scratch folder inside it
  const std::string& PipeName() const { return FPipe; }
  // The socket files of its pipes, removed when the process ends.
  const std::vector<std::string>& Sockets() const { return FChild.Sockets(); }

  css::uno::Reference<css::uno::XComponentContext> Context;
  css::uno::Reference<css::frame::XDesktop2> Desktop;

  static std::string ProgramDir();  // LibreOffice's program folder
  // Another program folder (tests: a folder without LibreOffice); "" restores the default.
  static void SetProgramDir(const std::string& dir);

 private:
  // The office's process: killed and reaped, and its socket files removed, when it
  // ends or its owner goes.
  class TkxChild {
   public:
    explicit TkxChild(std::vector<std::string> sockets) : FSockets(std::move(sockets)) {}
    ~TkxChild() { Kill(); }
    TkxChild(const TkxChild&) = delete;
    TkxChild& operator=(const TkxChild&) = delete;
    pid_t Pid() const { return FPid; }
    void Started(pid_t pid) { FPid = pid; }
    // Reaps the process if it has ended; true with its wait status then.
    bool Ended(int& status);
    void Kill();
    const std::vector<std::string>& Sockets() const { return FSockets; }

   private:
    void Gone();
    std::atomic<pid_t> FPid{-1};
    const std::vector<std::string> FSockets;
  };

  // Lists an office for KillAllOffices while it lives, also when its start fails.
  class TkxRegistration {
   public:
    explicit TkxRegistration(TkxOfficeProcess* office);
    ~TkxRegistration();
    TkxRegistration(const TkxRegistration&) = delete;
    TkxRegistration& operator=(const TkxRegistration&) = delete;

   private:
    TkxOfficeProcess* FOffice;
  };

  friend void KillAllOffices();
  void Spawn(int attempt);
  void WriteProfile();
  // For an account without an entry in the user database: the office's own entry
  // (passwd and group files in its folder) and the environment that gives it through
  // libnss-wrapper, so that its pipes are named after the uid and are this account's
  // alone. Empty for an account with an entry. Raises EOfficeError without the library.
  std::vector<std::string> AccountFiles();
  std::string FontConfigFile();
  void WatchdogLoop(std::stop_token stop);
  void SampleMemory(pid_t pid);

  // Declared in the order they are made; each is undone by its own destructor, in
  // reverse order: the watchdog stops, the registration goes, the process is killed
  // with its sockets, and its folder is removed.
  TkxPrivateDir FDir;
  const std::string FWorkDir;
  const std::string FPipe;
  TkxChild FChild;
  std::atomic<int64_t> FDeadlineMs{0};  // 0: no call under way
  std::atomic<int> FDeadlineSeconds{0};
  std::atomic<bool> FTimedOut{false};
  std::atomic<bool> FBroken{false};
  std::atomic<int64_t> FPeakDataKb{0};
  const int FCeilingMb;
  TkxRegistration FRegistration{this};
  std::jthread FWatchdog;
};

// The process-wide local UNO context (bootstrapped once).
css::uno::Reference<css::uno::XComponentContext> LocalContext();
// Kills every office process still running and removes its folder and sockets (at exit).
void KillAllOffices();

}  // namespace kx::office
