#pragma once
// One private LibreOffice process: headless, its own temporary profile and pipe,
// driven over UNO. Quit ends the process and removes the profile.
#include <sys/types.h>

#include <string>

#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>

namespace kx::office {

namespace css = com::sun::star;

// Raised with a sentence for a person when the office cannot be had.
struct EOfficeError {
  std::string Message;
};

class TkxOfficeProcess {
 public:
  // Starts the process and waits (bounded) until it answers; raises EOfficeError.
  TkxOfficeProcess();
  ~TkxOfficeProcess();  // Quit()
  TkxOfficeProcess(const TkxOfficeProcess&) = delete;
  TkxOfficeProcess& operator=(const TkxOfficeProcess&) = delete;

  void Quit();
  bool Alive();
  pid_t Pid() const { return FPid; }
  const std::string& WorkDir() const { return FWorkDir; }  // scratch folder inside the profile folder

  css::uno::Reference<css::uno::XComponentContext> Context;
  css::uno::Reference<css::frame::XDesktop2> Desktop;

  static std::string ProgramDir();  // LibreOffice's program folder

 private:
  void Spawn();
  void Kill();

  std::string FBaseDir;  // removed on quit
  std::string FWorkDir;
  std::string FPipe;
  pid_t FPid = -1;
};

// The process-wide local UNO context (bootstrapped once).
css::uno::Reference<css::uno::XComponentContext> LocalContext();
// Removes profile folders left by processes of ours that no longer run.
void SweepStaleProfiles();
// Kills every office process still running and removes its profile (at exit).
void KillAllOffices();

}  // namespace kx::office
