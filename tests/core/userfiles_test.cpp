// Housekeeping files of a program whose folder is not its own to write.
#include "core/userfiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/project.h"
#include "platform/files.h"
#include "testutil.h"
#include "ui/info.h"

namespace {

// Sets an environment variable for the test's lifetime.
struct EnvScope {
  std::string Name;
  std::string Old;
  bool Had;
  EnvScope(const char* name, const char* value) : Name(name) {
    const char* old = std::getenv(name);
    Had = old != nullptr;
    if (old) Old = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvScope() {
    if (Had)
      setenv(Name.c_str(), Old.c_str(), 1);
    else
      unsetenv(Name.c_str());
  }
};

}  // namespace

TEST(UserFiles, SystemFoldersSendTheFilesToTheUsersConfigFolder) {
  kxtest::TempDir d;
  EnvScope xdg("XDG_CONFIG_HOME", (d / "cfg").c_str());
  EXPECT_EQ(kx::UserConfigFolder(), d / "cfg/lumipix/");
  EXPECT_EQ(kx::HousekeepingFile("/usr/lib/lumipix/batchpng.ini"), d / "cfg/lumipix/batchpng.ini");
  kxtest::MakeDir(d / "app");
  EXPECT_EQ(kx::HousekeepingFile(d / "app/batchpng.ini"), d / "app/batchpng.ini");
  EXPECT_EQ(kx::HousekeepingFile(d / "gone/batchpng.ini"), d / "gone/batchpng.ini");
  if (geteuid() != 0) {
    chmod((d / "app").c_str(), 0555);
    EXPECT_EQ(kx::HousekeepingFile(d / "app/batchpng.ini"), d / "cfg/lumipix/batchpng.ini");
    chmod((d / "app").c_str(), 0755);
  }
  {
    EnvScope relative("XDG_CONFIG_HOME", "relative/cfg");
    EnvScope home("HOME", (d / "home").c_str());
    EXPECT_EQ(kx::UserConfigFolder(), d / "home/.config/lumipix/");
  }
  {
    EnvScope none("XDG_CONFIG_HOME", nullptr);
    EnvScope home("HOME", nullptr);
    EXPECT_EQ(kx::HousekeepingFile("/usr/lib/lumipix/batchpng.log"), "/usr/lib/lumipix/batchpng.log");
  }
}

TEST(UserFiles, ProjectAndCountersOfASystemInstallLiveInTheUsersFolder) {
  kxtest::TempDir d;
  EnvScope xdg("XDG_CONFIG_HOME", (d / "cfg").c_str());
  const std::string exe = "/usr/lib/lumipix/batchemf";
  {
    kx::TkxProject p(exe);
    p.ProjectExt = ".batch-lumimet";
    EXPECT_EQ(p.DefaultProjectFile(), d / "cfg/lumipix/batchemf.batch-lumimet");
    EXPECT_EQ(p.RecentListFile(), d / "cfg/lumipix/batchemf.log");
    p.FileName = p.DefaultProjectFile();
    p.SetOption("Source", "/docs/*.doc?");
    p.StoreSettings(true);  // creates the user's folder
    EXPECT_EQ(kxtest::ReadFile(p.FileName), "Source=/docs/*.doc?\r\n");
  }
  EXPECT_EQ(kxtest::ReadFile(d / "cfg/lumipix/batchemf.log"), d / "cfg/lumipix/batchemf.batch-lumimet\r\n");
  {
    kx::TkxInfo info(exe);
    info.Count("C", 0, 1);
  }
  kx::TkxInfo again(exe);
  EXPECT_EQ(again.StoreFile(), d / "cfg/lumipix/batchemf.ini");
  EXPECT_EQ(again.StoredValue("R"), "2");
  EXPECT_EQ(again.StoredValue("C"), "1");
}
