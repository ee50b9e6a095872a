// The offices' folders and sockets on disk, without an office.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "office/privatedir.h"
#include "office/process.h"
#include "platform/fd.h"
#include "testutil.h"

using namespace kx;

namespace {

// Sets (or with nullopt unsets) an environment variable for the life of a scope.
class EnvScope {
 public:
  EnvScope(const char* name, std::optional<std::string> value) : FName(name) {
    if (const char* v = std::getenv(name)) FOld = v;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~EnvScope() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

std::string NoSlash(const std::string& p) { return p.substr(0, p.size() - 1); }

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// A process id that ran a moment ago and runs no more.
pid_t EndedPid() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

void MakeSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
  close(fd);
}

}  // namespace

TEST(PrivateDir, RootIsTheRuntimeFolderOnlyWhenItIsPrivateElseTmpdirElseTmp) {
  kxtest::TempDir runtime, tmp;
  EnvScope x("XDG_RUNTIME_DIR", NoSlash(runtime.Path()));
  EnvScope t("TMPDIR", NoSlash(tmp.Path()));
  chmod(runtime.Path().c_str(), 0700);
  EXPECT_EQ(office::PrivateRoot(), NoSlash(runtime.Path()));
  chmod(runtime.Path().c_str(), 0755);  // others may look in: not private
  EXPECT_EQ(office::PrivateRoot(), NoSlash(tmp.Path()));
  chmod(runtime.Path().c_str(), 0700);
  if (geteuid() == 0) {  // another user's runtime folder is not ours
    ASSERT_EQ(chown(runtime.Path().c_str(), 65534, 65534), 0);
    EXPECT_EQ(office::PrivateRoot(), NoSlash(tmp.Path()));
  }
  {
    EnvScope none("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(office::PrivateRoot(), NoSlash(tmp.Path()));
    EnvScope missing("TMPDIR", tmp / "not-there");
    EXPECT_EQ(office::PrivateRoot(), "/tmp");
    EnvScope relative("TMPDIR", "relative/dir");
    EXPECT_EQ(office::PrivateRoot(), "/tmp");
    EnvScope empty("TMPDIR", std::nullopt);
    EXPECT_EQ(office::PrivateRoot(), "/tmp");
  }
}

TEST(PrivateDir, FoldersAreFreshPrivateAndRemovedWithoutFollowingLinks) {
  kxtest::TempDir root, victim;
  EnvScope x("XDG_RUNTIME_DIR", std::nullopt);
  EnvScope t("TMPDIR", NoSlash(root.Path()));
  kxtest::WriteFile(victim / "keep.txt", "victim");
  // The names of before, planted ahead: never taken.
  for (int n = 1; n <= 3; ++n)
    ASSERT_EQ(symlink(victim.Path().c_str(),
                      (root / ("lumipix-office-" + std::to_string(getpid()) + "-" + std::to_string(n))).c_str()),
              0);
  mode_t old = umask(0);
  std::string first;
  {
    office::TkxPrivateDir a, b;
    umask(old);
    first = a.Path();
    EXPECT_NE(a.Path(), b.Path());
    EXPECT_EQ(ModeOf(a.Path()), S_IFDIR | 0700);
    EXPECT_EQ(std::filesystem::path(a.Path()).parent_path(), std::filesystem::path(NoSlash(root.Path())));
    a.MakeDir("work");
    EXPECT_EQ(ModeOf(a.Path() + "/work"), S_IFDIR | 0700);
    a.WriteFile("settings.xml", "<x/>");
    EXPECT_EQ(ModeOf(a.Path() + "/settings.xml"), S_IFREG | 0600);
    EXPECT_EQ(kxtest::ReadFile(a.Path() + "/settings.xml"), "<x/>");
    // An existing name, or a link put in its place, is never written through.
    EXPECT_THROW(a.WriteFile("settings.xml", "again"), office::EOfficeError);
    ASSERT_EQ(symlink((victim / "keep.txt").c_str(), (a.Path() + "/link.xml").c_str()), 0);
    EXPECT_THROW(a.WriteFile("link.xml", "through"), office::EOfficeError);
    EXPECT_THROW(a.MakeDir("work"), office::EOfficeError);
    ASSERT_EQ(symlink(victim.Path().c_str(), (a.Path() + "/work/into-victim").c_str()), 0);
  }
  EXPECT_NE(access(first.c_str(), F_OK), 0);
  EXPECT_EQ(kxtest::ReadFile(victim / "keep.txt"), "victim");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.Path()), {}), 3);  // the planted links only
}

TEST(PrivateDir, PipeNamesCannotBeGuessed) {
  std::string a = office::NewPipeName(), b = office::NewPipeName();
  std::string prefix = "lumipix-" + std::to_string(getpid()) + "-";
  EXPECT_EQ(a.rfind(prefix, 0), 0u);
  EXPECT_EQ(a.size(), prefix.size() + 32);
  EXPECT_NE(a, b);
}

// Sets a file's modification time back, as time does for what an ended program left.
void Age(const std::string& path, int seconds) {
  timespec times[2] = {{time(nullptr) - seconds, 0}, {time(nullptr) - seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST(PrivateDir, SweepRemovesWhatEndedProgramsLeftAndNothingElse) {
  kxtest::TempDir root, victim;
  EnvScope x("XDG_RUNTIME_DIR", std::nullopt);
  EnvScope t("TMPDIR", NoSlash(root.Path()));
  kxtest::WriteFile(victim / "keep.txt", "victim");
  std::string ended = std::to_string(EndedPid());
  std::string stale = root / ("lumipix-office-" + ended + "-AbC123");
  kxtest::WriteFile(stale + "/profile/user/registrymodifications.xcu", "x");
  std::string link = root / ("lumipix-office-" + ended + "-LiNk12");
  ASSERT_EQ(symlink(victim.Path().c_str(), link.c_str()), 0);
  std::string running = root / ("lumipix-office-" + std::to_string(getppid()) + "-RuN123");
  kxtest::MakeDir(running);
  std::string foreign = root / ("lumipix-office-" + ended + "-OtHer1");
  kxtest::MakeDir(foreign);
  // A program in a container that shares the folder: its id runs nowhere here, but it
  // holds its folder; a folder being made this moment, not yet held; and one that a
  // killed program left half made an hour ago.
  std::string held = root / ("lumipix-office-" + ended + "-HeLd12");
  kxtest::MakeDir(held);
  UniqueFd hold(open(held.c_str(), O_RDONLY | O_DIRECTORY));
  ASSERT_EQ(flock(hold.Get(), LOCK_EX), 0);
  std::string making = root / "lumipix-office-new-YoUng1", half = root / "lumipix-office-new-OlDer1";
  kxtest::MakeDir(making);
  kxtest::MakeDir(half);
  bool asRoot = geteuid() == 0;
  if (asRoot) {
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
  }
  // The sockets of the ended program's office, which its folder lists (its pipe, and
  // its profile's pipe), go with the folder however young; a pipe whose folder went
  // without it goes once it is old; the pipe of an office starting in a container stays.
  std::vector<std::string> sockets =
      office::OfficeSockets("lumipix-" + ended + "-00ff", office::ProfileUrl(stale + "/profile"));
  kxtest::WriteFile(stale + "/sockets", sockets[0] + "\n" + sockets[1] + "\n");
  std::string orphan = office::OfficeSockets("lumipix-" + ended + "-22dd", "file:///x")[0];
  std::string live = office::OfficeSockets("lumipix-" + std::to_string(getppid()) + "-00ff", "file:///x")[0];
  std::string starting = office::OfficeSockets("lumipix-" + ended + "-11ee", "file:///x")[0];
  for (const std::string& s : {sockets[0], sockets[1], orphan, live, starting}) MakeSocket(s);
  for (const std::string& s : {orphan, live}) Age(s, 3600);
  Age(half, 3600);

  office::SweepStaleOffices();
  EXPECT_NE(access(stale.c_str(), F_OK), 0) << stale;
  EXPECT_TRUE(S_ISLNK(ModeOf(link))) << "a link is never followed nor removed";
  EXPECT_EQ(kxtest::ReadFile(victim / "keep.txt"), "victim");
  EXPECT_NE(ModeOf(running), 0u) << "its program still runs";
  EXPECT_NE(ModeOf(held), 0u) << "its program holds it";
  EXPECT_NE(ModeOf(making), 0u) << "it is being made";
  EXPECT_NE(access(half.c_str(), F_OK), 0) << half;
  if (asRoot) {
    EXPECT_NE(ModeOf(foreign), 0u) << "another user's folder";
  }
  for (const std::string& s : {sockets[0], sockets[1], orphan}) EXPECT_NE(access(s.c_str(), F_OK), 0) << s;
  EXPECT_TRUE(S_ISSOCK(ModeOf(live)));
  EXPECT_TRUE(S_ISSOCK(ModeOf(starting))) << "a young pipe may be an office's that is starting";

  // At exit a program removes the folders it made, never one that only carries its
  // process id (a container's program may have the same).
  std::string namesake = root / ("lumipix-office-" + std::to_string(getpid()) + "-NaMe12");
  kxtest::MakeDir(namesake);
  std::string mine;
  {
    office::TkxPrivateDir dir;
    mine = dir.Path();
    // The program ends while this office is starting: the folder is still there.
    office::SweepOwnOffices();
    EXPECT_NE(access(mine.c_str(), F_OK), 0) << mine;
  }
  EXPECT_NE(ModeOf(namesake), 0u) << "another program's folder with our process id";
  for (const std::string& s : {live, starting}) unlink(s.c_str());
  unlink(link.c_str());
}
