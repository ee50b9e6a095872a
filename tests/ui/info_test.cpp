#include "ui/info.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "core/app.h"
#include "core/project.h"
#include "engine/convertor.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "testutil.h"

using kx::TkxInfo;
using kxtest::ProjectScope;

namespace {
std::string Site() { return kx::kWebSite; }
std::string Tail(const TkxInfo& info) { return "&i=" + std::to_string(info.InstallNumber()); }
// The build's version, which the links carry.
const std::string kV = kx::kVersion;
}  // namespace

TEST(InfoLinks, FirstStartHomePageAndDownloadPage) {
  ProjectScope s;
  TkxInfo info(kx::App->ExeName);
  EXPECT_EQ(info.LinkTarget("", "", ""), Site() + "?p=lumipix&v=" + kV + "&c=r1" + Tail(info));
  EXPECT_EQ(info.LinkTarget("download", "", ""),
            Site() + "/en/lumipix/download.htm?p=lumipix&v=" + kV + "&c=r1" + Tail(info));
  EXPECT_EQ(info.InstallNumber(), kx::TkxFileUtils::FileDate(kx::ExcludeTrailingPathDelimiter(s.Dir.Path()), true));
}

TEST(InfoLinks, ActionsNoticesAndErrorReports) {
  ProjectScope s;
  TkxInfo info(kx::App->ExeName);
  EXPECT_EQ(info.LinkTarget("", "ins", "x=1"),
            Site() + "/net/?a=ins&p=lumipix&v=" + kV + "&c=r1" + Tail(info) + "&x=1");
  EXPECT_EQ(info.LinkTarget("", "err&e=\"a b\",c", ""),
            Site() + "/net/?a=err&e=a b,c&p=lumipix&v=" + kV + "&c=r1" + Tail(info));
}

TEST(InfoLinks, SupportMailTakesOnlyTheFirstAmpersand) {
  ProjectScope s;
  kx::Project->Title = "Lumi & Pix & Co";
  TkxInfo info(kx::App->ExeName);
  EXPECT_EQ(info.LinkTarget("supports", "", ""),
            "mailto:support@lumipix.example?subject=Support required for Lumi And Pix & Co " + kV + " - " +
                std::to_string(info.InstallNumber()));
}

TEST(InfoLinks, HelpFilePrefersChmElsePdfEvenWhenMissing) {
  ProjectScope s;
  std::string exe = kx::App->ExeName;
  TkxInfo info(exe);
  EXPECT_EQ(info.LinkTarget("h", "", ""), exe + ".pdf");
  kxtest::WriteFile(exe + ".pdf", "%PDF");
  EXPECT_EQ(info.LinkTarget("h", "", ""), exe + ".pdf");
  kxtest::WriteFile(exe + ".chm", "ITSF");
  EXPECT_EQ(info.LinkTarget("h", "", ""), exe + ".chm");
}

TEST(InfoLinks, UnreadableFolderTimeGivesMinusOne) {
  ProjectScope s;
  TkxInfo info(s.Dir / "missing/batchpng");
  EXPECT_EQ(info.InstallNumber(), -1);
  EXPECT_EQ(info.LinkTarget("", "", "").substr(info.LinkTarget("", "", "").size() - 5), "&i=-1");
}

TEST(InfoCounters, SetOrAddWriteOnlyOnChangeSurviveRestart) {
  ProjectScope s;
  std::string exe = kx::App->ExeName;
  {
    TkxInfo info(exe);
    EXPECT_EQ(info.StoredValue("R"), "1");
    info.Count("C", 0, 1);
    info.Count("A", 0, 5);
    info.Count("W", 16, 1);
    EXPECT_EQ(info.CounterText(), "r1c1a5w16");
    std::remove(info.StoreFile().c_str());
    info.Count("W", 16, 1);  // the same value: nothing is written
    EXPECT_FALSE(kx::FileExists(info.StoreFile()));
    info.Count("A", 0, 0);
    EXPECT_FALSE(kx::FileExists(info.StoreFile()));
    info.Count("A", 0, 2);
    EXPECT_EQ(kxtest::ReadFile(info.StoreFile()), "R=1\r\nC=1\r\nA=7\r\nW=16\r\n");
  }
  TkxInfo again(exe);
  EXPECT_EQ(again.StoredValue("R"), "2");
  EXPECT_EQ(again.CounterText(), "r2c1a7w16");
}

TEST(InfoCounters, ConcurrentCountsAreNotLost) {
  ProjectScope s;
  TkxInfo info(kx::App->ExeName);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) info.Count("S", 0, 1);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(info.StoredValue("S"), "200");
}

TEST(InfoCounters, StoreInAnUnwritableFolderFailsSilently) {
  ProjectScope s;
  TkxInfo info("/proc/batchpng");  // never writable
  info.Count("C", 0, 1);
  EXPECT_EQ(info.StoredValue("C"), "1");
}

TEST(InfoShell, OpenLinkAndErrorHandlerGoThroughXdgOpen) {
  ProjectScope s;
  std::string bin = s.Dir / "fakebin/";
  std::string record = s.Dir / "opened.txt";
  kxtest::WriteFile(bin + "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record + "'\n");
  chmod((bin + "xdg-open").c_str(), 0755);
  std::string oldPath = std::getenv("PATH");
  setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
  TkxInfo info(kx::App->ExeName);
  info.HandleError("Bad thing; happened");
  setenv("PATH", oldPath.c_str(), 1);
  int64_t until = kx::GetTickCount() + 10000;
  while (kxtest::ReadFile(record).empty() && kx::GetTickCount() < until) kx::Sleep(10);
  EXPECT_EQ(kxtest::ReadFile(record),
            Site() + "/net/?a=err&e=Bad thing; happened&p=lumipix&v=" + kV + "&c=r1e1" + Tail(info) + "\n");
  EXPECT_EQ(info.StoredValue("E"), "1");
}
