#include "engine/match.h"

#include <gtest/gtest.h>

#include "platform/regexp.h"

using kx::MaskToRegex;

TEST(MaskToRegex, ConvertsEveryMetaCharacter) {
  EXPECT_EQ(MaskToRegex("*.doc?"), ".*\\.doc.?$");
  EXPECT_EQ(MaskToRegex("*.*"), ".*\\..*$");
  EXPECT_EQ(MaskToRegex("a+b(1).doc"), "a\\+b\\(1\\)\\.doc$");
  EXPECT_EQ(MaskToRegex(""), "$");
  EXPECT_EQ(MaskToRegex("^$[]{}"), "\\^\\$\\[\\]\\{\\}$");
  EXPECT_EQ(MaskToRegex("a|b\\c"), "a|b\\c$");  // left with their regular-expression meaning
}

TEST(Matcher, MasksMatchAtTheEndIgnoringCase) {
  kx::TkxMatch m;
  std::string doc = MaskToRegex("*.doc?");
  EXPECT_TRUE(m.Matches("/Docs/A.DOCX", doc));
  EXPECT_TRUE(m.Matches("/Docs/a.doc", doc));
  EXPECT_TRUE(m.Matches("/Docs/c.docm", doc));
  EXPECT_FALSE(m.Matches("/Docs/a.doc.bak", doc));
  EXPECT_TRUE(m.Matches("/Data/x.doc", MaskToRegex("a*.doc")));  // anchored at the end only
  EXPECT_FALSE(m.Matches("/Dtt/x.doc", MaskToRegex("a*.doc")));
  EXPECT_TRUE(m.Matches("anything", MaskToRegex("")));
  EXPECT_FALSE(m.Matches("/docs/README", MaskToRegex("*.*")));
  EXPECT_TRUE(m.Matches("/d.x/README", MaskToRegex("*.*")));
}

TEST(Matcher, InvalidPatternAcceptsAndBaseAcceptsAll) {
  kx::TkxMatch m;
  EXPECT_TRUE(m.Matches("/a.doc", "(["));
  kx::TkxMatchBase base;
  EXPECT_TRUE(base.Matches("whatever", "^nothing$"));
}

TEST(RegexService, IsMatchOptionsAndReplaceFirst) {
  EXPECT_TRUE(kx::Regex::IsMatch("abc", kx::roIgnoreCase, "xABCx"));
  EXPECT_FALSE(kx::Regex::IsMatch("abc", 0, "xABCx"));
  EXPECT_EQ(kx::Regex::Replace("^file:/*", "file:///home/a", ""), "home/a");
  EXPECT_EQ(kx::Regex::Replace("a", "banana", "o"), "bonana");
  EXPECT_EQ(kx::Regex::Replace("^FILE:", "file:x", ""), "file:x");  // letter case matters
  EXPECT_THROW(kx::Regex::IsMatch("([", 0, "x"), kx::RegexError);
}
