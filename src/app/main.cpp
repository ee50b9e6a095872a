// The program: wires the layers into the start-up sequence.
#include "app/program.h"
#include "convert/lumipix.h"
#include "core/app.h"
#include "core/project.h"
#include "office/process.h"
#include "office/webfetch.h"
#include "office/wordapp.h"
#include "platform/cachehome.h"
#include "platform/qtdisplay.h"
#include "ui/info.h"
#include "ui/windowmode.h"

int main(int argc, char** argv) {
  kx::EnsureCacheHome();
  kx::office::RegisterWordApplication();
  kx::RegisterLumipix();
  // The office reads no options; its web limits are the project's, read at each fetch.
  kx::office::SetWebLimitsReader([] {
    kx::office::TkxWebLimits limits;
    if (kx::Project) {
      limits.MaxMegabytes = kx::Project->WebMaxSize();
      limits.Seconds = kx::Project->WebTimeout();
      limits.Redirects = kx::Project->WebRedirects();
    }
    return limits;
  });
  kx::TkxStartupSlots hooks;
  hooks.CreateInfo = [] { return std::make_unique<kx::TkxInfo>(kx::App->ExeName); };
  hooks.RunWindow = [&argc, argv] { return kx::RunWindowMode(argc, argv); };
  hooks.KillServers = [] { kx::office::KillAllOffices(); };
  // A display that is named but cannot be opened (ssh gone, cron) counts as none.
  hooks.HasDisplay = [] { return kx::DisplayAvailable() && kx::QtDisplayOpens(); };
  return kx::RunProgram(argc, argv, hooks);
}
