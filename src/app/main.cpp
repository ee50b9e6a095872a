// The program: wires the layers into the start-up sequence.
#include "app/program.h"
#include "convert/lumipix.h"
#include "core/app.h"
#include "office/process.h"
#include "office/wordapp.h"
#include "ui/info.h"
#include "ui/windowmode.h"

int main(int argc, char** argv) {
  kx::office::RegisterWordApplication();
  kx::RegisterLumipix();
  kx::TkxStartupSlots hooks;
  hooks.CreateInfo = [] { return std::make_unique<kx::TkxInfo>(kx::App->ExeName); };
  hooks.RunWindow = [&argc, argv] { return kx::RunWindowMode(argc, argv); };
  hooks.KillServers = [] { kx::office::KillAllOffices(); };
  hooks.HasDisplay = [] { return kx::DisplayAvailable(); };
  return kx::RunProgram(argc, argv, hooks);
}
