#include "platform/paths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <random>

#include "platform/safepath.h"
#include "platform/text.h"
#include "testutil.h"

using kxtest::WriteFile;

TEST(Paths, FolderNameAndExtensionParts) {
  EXPECT_EQ(kx::ExtractFilePath("/a/b.c/d.doc"), "/a/b.c/");
  EXPECT_EQ(kx::ExtractFileName("/a/b.c/d.doc"), "d.doc");
  EXPECT_EQ(kx::ExtractFileExt("/a/b.c/d"), "");
  EXPECT_EQ(kx::ExtractFileExt("/a/b.c/d.tar.gz"), ".gz");
  EXPECT_EQ(kx::ExtractFileName("C:x.doc"), "C:x.doc");              // ':' is an ordinary character
  EXPECT_EQ(kx::ChangeFileExt("/a/b.c/d", ".png"), "/a/b.c/d.png");  // appended
  EXPECT_EQ(kx::ChangeFileExt("/a/report.docx", ".png"), "/a/report.png");
  EXPECT_EQ(kx::ChangeFileExt("/bin/batchpng", ".batch-lumipix"), "/bin/batchpng.batch-lumipix");
  EXPECT_EQ(kx::IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(kx::IncludeTrailingPathDelimiter("/a/"), "/a/");
  EXPECT_EQ(kx::ExcludeTrailingPathDelimiter("/a/"), "/a");
  EXPECT_EQ(kx::ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(Paths, ExeNameFromArgvZeroWithoutResolvingLinks) {
  kxtest::TempDir d;
  EXPECT_EQ(kx::ResolveExeName("/opt/x/batchemf"), "/opt/x/batchemf");
  EXPECT_EQ(kx::ResolveExeName("bin/batchpng"), kx::CurrentDir() + "/bin/batchpng");
  kxtest::WriteFile(d / "tool", "#!/bin/sh\n");
  chmod((d / "tool").c_str(), 0755);
  std::string old = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", ("/nonexistent:" + d.Path()).c_str(), 1);
  std::string found = kx::ResolveExeName("tool");
  setenv("PATH", old.c_str(), 1);
  EXPECT_EQ(found, d / "tool");
  EXPECT_FALSE(kx::ResolveExeName("").empty());  // falls back to the running image
}

TEST(Paths, FileAddressesBecomePathsBeforeAnythingIsMade) {
  EXPECT_EQ(kx::FileAddressToPath("file:///home/ann/out/"), "/home/ann/out/");
  EXPECT_EQ(kx::FileAddressToPath("file:/home/ann/*.doc?"), "/home/ann/*.doc?");
  EXPECT_EQ(kx::FileAddressToPath("file://host/share/a.doc"), "/host/share/a.doc");
  EXPECT_EQ(kx::FileAddressToPath("file:"), "");
  EXPECT_EQ(kx::FileAddressToPath("file:///"), "");
  EXPECT_EQ(kx::FileAddressToPath("out/file:x"), "out/file:x");  // only a leading "file:"
  EXPECT_EQ(kx::FileAddressToPath("File:///x"), "File:///x");
  // Percent escapes are the bytes they stand for; a '%' that starts none stays.
  EXPECT_EQ(kx::FileAddressToPath("file:///home/ann/My%20Docs/caf%C3%A9%2a%zz%4.doc"),
            "/home/ann/My Docs/caf\xc3\xa9*%zz%4.doc");
}

// Names that are not UTF-8: shown reversibly, handed on as UTF-16 without loss.
TEST(Paths, NamesThatAreNotUtf8) {
  const std::string latin1 = "/in/caf\xe9.doc";
  EXPECT_FALSE(kx::IsValidUtf8(latin1));
  EXPECT_TRUE(kx::IsValidUtf8("/in/caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x84.doc"));  // é € and a page emoji
  for (const char* bad : {"\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\x80", "\xff"})
    EXPECT_FALSE(kx::IsValidUtf8(bad)) << kx::DisplayPath(bad);
  // Shown: invalid bytes, controls and the backslash escaped; valid text untouched.
  EXPECT_EQ(kx::DisplayPath(latin1), "/in/caf\\xE9.doc");
  EXPECT_EQ(kx::DisplayPath("a\xe2\x82"
                            "b"),
            "a\\xE2\\x82b");  // each byte of a cut sequence
  EXPECT_EQ(kx::DisplayPath("/in/caf\xc3\xa9.doc"), "/in/caf\xc3\xa9.doc");
  EXPECT_EQ(kx::DisplayPath("evil\nFailure => forged\r.doc"), "evil\\x0AFailure => forged\\x0D.doc");
  EXPECT_EQ(kx::DisplayPath("back\\slash\x7f \xc2\x85 \xe2\x80\xa8.doc"),
            "back\\\\slash\\x7F \\xC2\\x85 \\xE2\\x80\\xA8.doc");
  EXPECT_EQ(kx::PathFromDisplay("caf\\xe9 \\q \\x4"), "caf\xe9 \\q \\x4");  // lower case read; others as they stand
  // Every byte string comes back exactly, and no shown form holds a line break.
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes;
    for (int n = int(random() % 12); n > 0; --n)
      bytes.push_back(char(random() % 4 ? random() % 256 : "\\x\n\xc3"[random() % 4]));
    std::string shown = kx::DisplayPath(bytes);
    EXPECT_EQ(kx::PathFromDisplay(shown), bytes) << shown;
    EXPECT_EQ(shown.find_first_of("\r\n"), std::string::npos) << shown;
    EXPECT_TRUE(kx::IsValidUtf8(shown)) << shown;
  }

  EXPECT_EQ(kx::PathToUtf16("/in/caf\xc3\xa9\xf0\x9f\x93\x84"), u"/in/caf\u00e9\U0001F4C4");
  EXPECT_EQ(kx::PathToUtf16(latin1), std::u16string(u"/in/caf") + char16_t(0xDCE9) + u".doc");
  // The escaped form maps back to exactly the bytes it came from.
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(char(b));
  std::string back;
  for (char16_t c : kx::PathToUtf16(all)) {
    if (c >= 0xDC80 && c <= 0xDCFF)
      back.push_back(char(c - 0xDC00));
    else
      back += kx::Utf16ToUtf8(std::u16string(1, c));
  }
  EXPECT_EQ(back, all);
}

// A link another account made in a folder every account may write is never followed
// to the files a run writes; one's own links, and links in private folders, are.
TEST(Paths, LinksAnotherAccountPlantedAreNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a link to another account needs root";
  kxtest::TempDir d;
  std::string shared = d / "shared", victim = d / "victim.txt";
  kxtest::MakeDir(shared);
  chmod(shared.c_str(), 01777);
  WriteFile(victim, "precious");
  auto link = [&](const std::string& name, const std::string& to, uid_t owner) {
    ASSERT_EQ(symlink(to.c_str(), name.c_str()), 0);
    ASSERT_EQ(lchown(name.c_str(), owner, owner), 0);
  };
  link(shared + "/planted.log", victim, 43211);
  link(shared + "/dir", d.Path(), 43211);
  link(shared + "/own.log", d / "own.log", geteuid());
  std::string problem;
  EXPECT_FALSE(kx::OpenForWriting(shared + "/planted.log", problem));
  EXPECT_NE(problem.find("another account, uid 43211"), std::string::npos) << problem;
  EXPECT_NE(kx::PlantedLinkOn(shared + "/dir/new/out/"), "");  // on the way to a folder too
  EXPECT_EQ(kxtest::ReadFile(victim), "precious");
  kx::UniqueFd own = kx::OpenForWriting(shared + "/own.log", problem);
  EXPECT_TRUE(own) << problem;
  std::string resolved;
  EXPECT_EQ(kx::PlantedLinkOn(shared + "/own.log", &resolved), "");
  EXPECT_EQ(resolved, d / "own.log");
  chmod(shared.c_str(), 0755);  // no longer a folder others may write
  EXPECT_EQ(kx::PlantedLinkOn(shared + "/planted.log"), "");
}
