#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "testutil.h"

TEST(Paths, FolderNameAndExtensionParts) {
  EXPECT_EQ(kx::ExtractFilePath("/a/b.c/d.doc"), "/a/b.c/");
  EXPECT_EQ(kx::ExtractFileName("/a/b.c/d.doc"), "d.doc");
  EXPECT_EQ(kx::ExtractFileExt("/a/b.c/d"), "");
  EXPECT_EQ(kx::ExtractFileExt("/a/b.c/d.tar.gz"), ".gz");
  EXPECT_EQ(kx::ExtractFileName("C:x.doc"), "C:x.doc");  // ':' is an ordinary character
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
