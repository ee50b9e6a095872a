#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/hostid.h"
#include "platform/paths.h"
#include "testutil.h"

using kxtest::TempDir;
using kxtest::WriteFile;

static std::vector<std::string> List(const std::string& pattern, int attrs) {
  std::vector<std::string> names;
  kx::FindFiles(pattern, attrs, [&](const kx::TkxFileEntry& e) {
    names.push_back(e.Name);
    return true;
  });
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Wildcards, StarAnyRunQuestionOneOrNoneCaseIgnored) {
  EXPECT_TRUE(kx::WildcardMatch("*.doc?", "a.doc"));
  EXPECT_TRUE(kx::WildcardMatch("*.doc?", "B.DOCX"));
  EXPECT_FALSE(kx::WildcardMatch("*.doc?", "a.docxx"));
  EXPECT_TRUE(kx::WildcardMatch("a?c", "ac"));
  EXPECT_TRUE(kx::WildcardMatch("a?c", "abc"));
  EXPECT_FALSE(kx::WildcardMatch("a?c", "abbc"));
  EXPECT_TRUE(kx::WildcardMatch("*.*", "x.y"));
  EXPECT_TRUE(kx::WildcardMatch("*.*", "README"));  // a trailing ".*" also takes names without a dot
  EXPECT_TRUE(kx::WildcardMatch("a.*", "a"));
  EXPECT_FALSE(kx::WildcardMatch("a.*", "b"));
  EXPECT_FALSE(kx::WildcardMatch("", "x"));
  EXPECT_TRUE(kx::WildcardMatch("*a*b*c*d*e*f*", std::string(200, 'a') + "bcdef"));
  EXPECT_FALSE(kx::WildcardMatch("*a*b*c*d*e*z", std::string(60, 'a')));
}

TEST(Listing, AttributesHiddenFoldersAndSpecialFiles) {
  TempDir d;
  WriteFile(d / "a.doc", "x");
  WriteFile(d / ".hidden.doc", "x");
  WriteFile(d / "ro.doc", "x");
  chmod((d / "ro.doc").c_str(), 0444);
  kxtest::MakeDir(d / "sub.doc");
  ASSERT_EQ(mkfifo((d / "pipe.doc").c_str(), 0644), 0);
  ASSERT_EQ(symlink((d / "a.doc").c_str(), (d / "link.doc").c_str()), 0);
  ASSERT_EQ(symlink(d.Path().c_str(), (d / "loop.doc").c_str()), 0);
  ASSERT_EQ(symlink((d / "gone").c_str(), (d / "dangling.doc").c_str()), 0);

  EXPECT_EQ(List(d / "*.doc", kx::faArchive | kx::faReadOnly),
            (std::vector<std::string>{"a.doc", "link.doc", "ro.doc"}));
  EXPECT_EQ(List(d / "*.doc", kx::faArchive | kx::faHidden),
            (std::vector<std::string>{".hidden.doc", "a.doc", "link.doc", "ro.doc"}));
  // Folder listing: real folders only, never a link to one.
  EXPECT_EQ(List(d / "*.doc", kx::faDirectory), (std::vector<std::string>{"a.doc", "link.doc", "ro.doc", "sub.doc"}));
  int roAttr = 0;
  kx::FindFiles(d / "ro.doc", kx::faArchive, [&](const kx::TkxFileEntry& e) {
    roAttr = e.Attr;
    return true;
  });
  EXPECT_EQ(roAttr, kx::faArchive | kx::faReadOnly);
  EXPECT_TRUE(List(d / "missing/*", kx::faArchive).empty());
}

TEST(Listing, AFolderThatCannotBeListedSaysWhy) {
  TempDir d;
  WriteFile(d / "locked/a.doc", "x");
  WriteFile(d / "file.doc", "x");
  chmod((d / "locked").c_str(), 0);
  int calls = 0;
  auto count = [&](const kx::TkxFileEntry&) { return ++calls > 0; };
  {
    kxtest::FileModesHold hold;
    EXPECT_EQ(kx::FindFiles(d / "locked/*.doc", kx::faArchive, count), EACCES);
  }
  chmod((d / "locked").c_str(), 0755);
  EXPECT_EQ(kx::FindFiles(d / "missing/*.doc", kx::faArchive, count), ENOENT);
  EXPECT_EQ(kx::FindFiles(d / "file.doc/*.doc", kx::faArchive, count), ENOTDIR);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(kx::FindFiles(d / "locked/*.doc", kx::faArchive, count), 0);
  EXPECT_EQ(calls, 1);
}

TEST(FileOps, FoldersExistenceDeleteRename) {
  TempDir d;
  EXPECT_THROW(kx::ForceDirectories(""), std::runtime_error);
  kx::ForceDirectories(d / "x/y/z/");
  EXPECT_TRUE(kx::DirectoryExists(d / "x/y/z"));
  EXPECT_FALSE(kx::FileExists(d / "x/y/z"));
  WriteFile(d / "file", "1");
  EXPECT_THROW(kx::ForceDirectories(d / "file/sub"), std::runtime_error);
  EXPECT_TRUE(kx::RenameFile(d / "file", d / "file.done"));
  EXPECT_TRUE(kx::FileExists(d / "file.done"));
  EXPECT_TRUE(kx::DeleteFile(d / "file.done"));
  EXPECT_FALSE(kx::DeleteFile(d / "file.done"));
}

TEST(FileOps, RenameNeverReplacesAFile) {
  TempDir d;
  WriteFile(d / "a.doc", "document");
  WriteFile(d / "a.doc.bak", "the user's own backup");
  errno = 0;
  EXPECT_FALSE(kx::RenameFile(d / "a.doc", d / "a.doc.bak"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(kxtest::ReadFile(d / "a.doc"), "document");
  EXPECT_EQ(kxtest::ReadFile(d / "a.doc.bak"), "the user's own backup");
  EXPECT_FALSE(kx::RenameFile(d / "none", d / "x"));
  EXPECT_EQ(errno, ENOENT);
}

TEST(FileOps, IdentityChangesWithContentOrReplacement) {
  TempDir d;
  WriteFile(d / "a.doc", "one");
  kx::TkxFileId first, again, later;
  ASSERT_TRUE(kx::GetFileId(d / "a.doc", first));
  ASSERT_TRUE(kx::GetFileId(d / "a.doc", again));
  EXPECT_TRUE(first == again);
  WriteFile(d / "b.doc", "two");
  std::rename((d / "b.doc").c_str(), (d / "a.doc").c_str());  // saved by replacing: another file
  ASSERT_TRUE(kx::GetFileId(d / "a.doc", later));
  EXPECT_FALSE(first == later);
  EXPECT_FALSE(kx::GetFileId(d / "none", later));
}

TEST(TempFiles, NamedShortRecognisablyAndRemovedUnlessKept) {
  TempDir d;
  std::string path;
  {
    kx::TkxTempFile t(d.Path());
    path = t.Path();
    long owner = 0;
    std::string host;
    EXPECT_EQ(kx::ExtractFilePath(path), d.Path());
    EXPECT_TRUE(kx::IsTempFileName(kx::ExtractFileName(path), &host, &owner));
    EXPECT_EQ(owner, long(getpid()));
    EXPECT_EQ(host, kx::HostId());
    EXPECT_LT(kx::ExtractFileName(path).size(), 40u + kx::HostId().size());
    t.Write("partial");
    EXPECT_TRUE(kx::FileExists(path));
  }
  EXPECT_FALSE(kx::FileExists(path));
  {
    kx::TkxTempFile t(d.Path());
    t.Write("whole");
    t.Replace(d / "final");
  }
  EXPECT_EQ(kxtest::ReadFile(d / "final"), "whole");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.Path()), {}), 1);
  EXPECT_EQ(kxtest::FailureText([&] { kx::TkxTempFile t(d / "missing/", d / "missing/page-01.png"); }),
            "Cannot create file \"" + d / "missing/page-01.png" + "\". No such file or directory");
  std::string host;
  long pid = 0;
  EXPECT_TRUE(kx::IsTempFileName(".lumipix-12-abcdef.tmp", &host, &pid));  // an older version's: host unknown
  EXPECT_EQ(host, "");
  EXPECT_TRUE(kx::IsTempFileName(".lumipix-node-2.example~0a1b2c3d-12-abcdef.tmp", &host, &pid));
  EXPECT_EQ(host, "node-2.example~0a1b2c3d");
  EXPECT_EQ(pid, 12);
  for (const char* other : {".lumipix-12-abc.tmp", ".lumipix--abcdef.tmp", "x.lumipix-12-abcdef.tmp",
                            ".lumipix-12-abcdef.tmp.png", ".lumipix-1a-abcdef.tmp", ".lumipix-node-12-abcdef.tmp"})
    EXPECT_FALSE(kx::IsTempFileName(other)) << other;
}

namespace {
pid_t EndedPid() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);  // its process id now belongs to nobody
  return child;
}
void MakeOld(const std::string& path, int seconds) {
  timespec t[2] = {{time(nullptr) - seconds, 0}, {time(nullptr) - seconds, 0}};
  utimensat(AT_FDCWD, path.c_str(), t, 0);
}
}  // namespace

// A folder shared by machines: only what is proven gone is swept, never a fresh file
// of another host (its pid means nothing here), nor one of a process still running.
TEST(TempFiles, SweepRemovesOnlyWhatIsProvenGone) {
  TempDir d;
  std::string me = kx::HostId();
  pid_t ended = EndedPid();
  std::string dead = d / (".lumipix-" + me + "-" + std::to_string(ended) + "-abcdef.tmp");
  std::string mine = d / (".lumipix-" + me + "-" + std::to_string(getpid()) + "-abcdef.tmp");
  std::string running = d / (".lumipix-" + me + "-1-abcdef.tmp");
  std::string elsewhere = d / (".lumipix-node7~12345678-" + std::to_string(ended) + "-abcdef.tmp");
  std::string older = d / (".lumipix-" + std::to_string(ended) + "-abcdef.tmp");
  std::string abandoned = d / ".lumipix-node7~12345678-77-ghijkl.tmp";
  std::string page = d / "report-01.png";
  for (const std::string& f : {dead, mine, running, elsewhere, older, abandoned, page}) WriteFile(f, "x");
  MakeOld(abandoned, kx::kAbandonedSeconds + 60);
  MakeOld(elsewhere, kx::kAbandonedSeconds - 3600);
  EXPECT_EQ(kx::SweepTempFiles(d.Path()), 2);
  EXPECT_FALSE(kx::FileExists(dead) || kx::FileExists(abandoned));
  for (const std::string& f : {mine, running, elsewhere, older, page}) EXPECT_TRUE(kx::FileExists(f)) << f;
}

// Claims hold across processes: of many racing for one name exactly one gets it, a
// live claim is respected, one proven gone is cleared, and a release never removes
// another's claim.
TEST(Claims, OneHolderAcrossProcessesAndOnlyProvenGoneClaimsCleared) {
  TempDir d;
  const int racers = 12;
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < racers; ++i) {
    pid_t c = fork();
    if (c == 0) {
      char go;
      close(ready[1]);
      if (read(ready[0], &go, 1) != 0) _exit(3);  // all start when the pipe closes
      kx::TkxClaim claim;
      bool mine = claim.Take(d.Path(), "report-%.*d.png", "doc-" + std::to_string(i));
      usleep(200000);  // hold it while the others try
      _exit(mine ? 0 : 1);
    }
    children.push_back(c);
  }
  close(ready[0]);
  close(ready[1]);
  int winners = 0;
  for (pid_t c : children) {
    int status = 0;
    waitpid(c, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1);
    winners += WEXITSTATUS(status) == 0;
  }
  EXPECT_EQ(winners, 1);
  // The winner has ended without releasing: its claim is proven gone and taken over.
  std::string file = d / kx::ClaimFileName("report-%.*d.png");
  ASSERT_TRUE(kx::FileExists(file));
  kx::TkxClaim ours;
  EXPECT_TRUE(ours.Take(d.Path(), "report-%.*d.png", "a.doc"));
  kx::TkxClaimOwner owner;
  ASSERT_TRUE(kx::ReadClaim(file, owner));
  EXPECT_EQ(owner.Host, kx::HostId());
  EXPECT_EQ(owner.Pid, long(getpid()));
  EXPECT_EQ(owner.Source, "a.doc");
  // Held: another taker learns who holds it.
  kx::TkxClaim second;
  kx::TkxClaimOwner holder;
  EXPECT_FALSE(second.Take(d.Path(), "report-%.*d.png", "b.doc", &holder));
  EXPECT_EQ(holder.Source, "a.doc");
  EXPECT_EQ(holder.Pid, long(getpid()));
  ours.Release();
  EXPECT_FALSE(kx::FileExists(file));

  // Another host's claim: respected while fresh, whatever its pid; cleared after a day.
  std::string foreign =
      "lumipix-claim 1\nhost node7~12345678\npid 1\nsince 1\nname x-%.*d.png\nsource x.doc\ntoken t\n";
  std::string xfile = d / kx::ClaimFileName("x-%.*d.png");
  WriteFile(xfile, foreign);
  EXPECT_FALSE(second.Take(d.Path(), "x-%.*d.png", "y.doc", &holder));
  EXPECT_EQ(holder.Host, "node7~12345678");
  EXPECT_EQ(kx::SweepTempFiles(d.Path()), 0);
  MakeOld(xfile, kx::kAbandonedSeconds + 60);
  EXPECT_TRUE(second.Take(d.Path(), "x-%.*d.png", "y.doc"));
  // A release after someone else cleared and took the name leaves their claim alone.
  WriteFile(xfile, foreign);
  EXPECT_FALSE(second.StillOurs());
  second.Release();
  EXPECT_EQ(kxtest::ReadFile(xfile), foreign);
  // Nothing but the claims themselves is left: no temporary file of a claim.
  for (const auto& e : std::filesystem::directory_iterator(d.Path()))
    EXPECT_TRUE(kx::IsClaimFileName(e.path().filename().string())) << e.path();
}

TEST(AtomicWrite, WholeOrNotAtAllAndPermissionsKept) {
  TempDir d;
  WriteFile(d / "store.ini", "old");
  chmod((d / "store.ini").c_str(), 0600);
  kx::WriteFileAtomic(d / "store.ini", "new content");
  EXPECT_EQ(kxtest::ReadFile(d / "store.ini"), "new content");
  struct stat st {};
  stat((d / "store.ini").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_THROW(kx::WriteFileAtomic(d / "missing/x", "1"), std::runtime_error);
  mkdir((d / "dir").c_str(), 0755);
  EXPECT_THROW(kx::WriteFileAtomic(d / "dir", "1"), std::runtime_error);  // a folder is never replaced
  EXPECT_TRUE(kx::DirectoryExists(d / "dir"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.Path()), {}), 2);  // no temporary file left
}

TEST(AtomicWrite, FullDiskKeepsTheOldFile) {
  TempDir d;
  kxtest::SmallTmpfs fs(d / "small", "64k");
  if (!fs.Mounted()) GTEST_SKIP() << fs.Why;
  std::string file = d / "small/page-01.png";
  WriteFile(file, "the old page");
  fs.Fill("filler");
  std::string why = kxtest::FailureText([&] { kx::WriteFileAtomic(file, std::string(100000, 'n')); });
  EXPECT_NE(why.find("No space left on device"), std::string::npos) << why;
  EXPECT_NE(why.find(file), std::string::npos) << why;  // names the file, not a temporary one
  EXPECT_EQ(kxtest::ReadFile(file), "the old page");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d / "small"), {}), 2);
}

TEST(WholeFiles, ReadAllOrTheHeadAndWriteInPlace) {
  TempDir d;
  WriteFile(d / "a.txt", "0123456789");
  EXPECT_EQ(kx::ReadWholeFile(d / "a.txt"), "0123456789");
  EXPECT_EQ(kx::ReadWholeFile(d / "a.txt", 4), "0123");
  std::filesystem::create_symlink(d / "a.txt", d / "link.txt");
  kx::WriteWholeFile(d / "link.txt", "new");  // in place: the link stays a link to the same file
  EXPECT_TRUE(std::filesystem::is_symlink(d / "link.txt"));
  EXPECT_EQ(kxtest::ReadFile(d / "a.txt"), "new");
  kx::WriteWholeFile(d / "b.txt", "");
  EXPECT_TRUE(kx::FileExists(d / "b.txt"));
  // Failures say which file and why.
  EXPECT_EQ(kxtest::FailureText([&] { kx::ReadWholeFile(d / "none.txt"); }),
            "Cannot open file \"" + d / "none.txt" + "\". No such file or directory");
  EXPECT_EQ(kxtest::FailureText([&] { kx::ReadWholeFile(d.Path()); }),
            "Cannot read file \"" + d.Path() + "\". Is a directory");
  EXPECT_EQ(kxtest::FailureText([&] { kx::WriteWholeFile(d / "no/x.txt", "1"); }),
            "Cannot create file \"" + d / "no/x.txt" + "\". No such file or directory");
}

TEST(WholeFiles, ANewFileIsMadeOnlyWhereNothingIs) {
  TempDir d;
  ASSERT_EQ(kx::WriteNewFile(d / "new.xcu", "settings", 0600), 0);
  EXPECT_EQ(kxtest::ReadFile(d / "new.xcu"), "settings");
  struct stat st {};
  ASSERT_EQ(stat((d / "new.xcu").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);  // nobody else may read it
  // A file, or a link planted there (even one to nothing yet), is left as it was.
  EXPECT_EQ(kx::WriteNewFile(d / "new.xcu", "other", 0600), EEXIST);
  EXPECT_EQ(kxtest::ReadFile(d / "new.xcu"), "settings");
  std::filesystem::create_symlink(d / "elsewhere", d / "planted.xcu");
  EXPECT_EQ(kx::WriteNewFile(d / "planted.xcu", "x", 0600), EEXIST);
  EXPECT_FALSE(std::filesystem::exists(d / "elsewhere"));
  EXPECT_EQ(kx::WriteNewFile(d / "no/x.xcu", "x", 0600), ENOENT);
}

TEST(WholeFiles, AFullDiskIsSaidAsSuch) {
  TempDir d;
  kxtest::SmallTmpfs fs(d / "small", "64k");
  if (!fs.Mounted()) GTEST_SKIP() << fs.Why;
  fs.Fill("filler");
  std::string why = kxtest::FailureText([&] { kx::WriteWholeFile(d / "small/run.log", std::string(100000, 'n')); });
  EXPECT_EQ(why, "Cannot write file \"" + d / "small/run.log" + "\". No space left on device");
}

TEST(FileOps, TimesCopyAccessAndWrite) {
  TempDir d;
  WriteFile(d / "src", "1");
  WriteFile(d / "dst", "2");
  kx::TkxFileTimes t;
  ASSERT_TRUE(kx::GetFileTimes(d / "src", t));
  t.Write.tv_sec = 946684800;  // 2000-01-01
  t.Access.tv_sec = 946684800;
  ASSERT_TRUE(kx::SetFileTimes(d / "dst", t));
  struct stat st {};
  stat((d / "dst").c_str(), &st);
  EXPECT_EQ(st.st_mtim.tv_sec, 946684800);
  EXPECT_FALSE(kx::GetFileTimes(d / "none", t));
}

TEST(DosDateTime, PackingAndRange) {
  std::tm tm{};
  tm.tm_year = 2022 - 1900;
  tm.tm_mon = 5;  // June
  tm.tm_mday = 11;
  tm.tm_hour = 13;
  tm.tm_min = 45;
  tm.tm_sec = 31;
  uint32_t v = uint32_t(kx::DateTimeToDosDateTime(tm));
  EXPECT_EQ(v >> 16, uint32_t((42 << 9) | (6 << 5) | 11));
  EXPECT_EQ(v & 0xFFFF, uint32_t((13 << 11) | (45 << 5) | 15));
  tm.tm_year = 1979 - 1900;
  EXPECT_EQ(kx::DateTimeToDosDateTime(tm), -1);
  tm.tm_year = 2108 - 1900;
  EXPECT_EQ(kx::DateTimeToDosDateTime(tm), -1);
  EXPECT_EQ(kx::UnixToDosDateTime(0, true), -1);  // 1970
  EXPECT_EQ(uint32_t(kx::UnixToDosDateTime(315532800, true)), uint32_t((0 << 9 | 1 << 5 | 1) << 16));
}
