#include "core/strlist.h"

#include <gtest/gtest.h>

#include "testutil.h"

using kx::ReadBool;
using kx::ReadInt;
using kx::TkxStringList;

static TkxStringList Lines(const std::string& text) {
  TkxStringList l;
  l.SetText(text);
  return l;
}

TEST(SettingsList, KeysMatchIgnoringCaseFirstLineWinsValueKeepsEquals) {
  TkxStringList l = Lines("Source=/in/*.doc?\nA=b=c\n=x\nSubdir\nTarget=/one/\nTarget=/two/\n");
  EXPECT_EQ(l.GetValue("source"), "/in/*.doc?");
  EXPECT_EQ(l.GetValue("A"), "b=c");
  EXPECT_EQ(l.GetValue(""), "x");
  EXPECT_EQ(l.GetValue("Subdir"), "");  // a line without "=" holds no pair
  EXPECT_EQ(l.Count(), 6);
  EXPECT_EQ(l.GetValue("TARGET"), "/one/");
  EXPECT_EQ(l.GetValue("Missing"), "");
}

TEST(SettingsList, BlanksAroundKeysArePartOfTheKey) {
  TkxStringList l = Lines(" Subdir=True\nSubdir =True\n");
  EXPECT_EQ(l.GetValue("Subdir"), "");
  EXPECT_EQ(l.GetValue("Subdir "), "True");
}

TEST(SettingsList, SetValueReplacesInPlaceAppendsAndRemovesFirstOnly) {
  TkxStringList l = Lines("Target=/one/\nSource=s\nTarget=/two/\n");
  l.SetValue("target", "/new/");
  EXPECT_EQ(l[0], "target=/new/");  // the caller's form of the key
  EXPECT_EQ(l[2], "Target=/two/");
  l.SetValue("Target", "");
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l.GetValue("Target"), "/two/");  // the second line now answers
  l.SetValue("Daemon", "500");
  EXPECT_EQ(l[l.Count() - 1], "Daemon=500");
  l.SetValue("NotThere", "");
  EXPECT_EQ(l.Count(), 3);
}

TEST(SettingsList, LineSplittingRules) {
  EXPECT_EQ(Lines("a=1\r\n\r\nb=2").Count(), 3);
  TkxStringList l = Lines("a=1\r\n\r\nb=2");
  EXPECT_EQ(l[1], "");
  EXPECT_EQ(l[2], "b=2");  // a last line without a break counts
  TkxStringList m = Lines("a=1\nb=2\r");
  ASSERT_EQ(m.Count(), 2);
  EXPECT_EQ(m[1], "b=2");
  EXPECT_EQ(Lines("").Count(), 0);
  EXPECT_EQ(Lines("x\ry\n\nz").Count(), 4);  // CR alone and LF alone both break
  TkxStringList n = Lines(std::string("a=1\nb=2\0c=3\n", 12));
  EXPECT_EQ(n.Count(), 2);  // the text ends at its first NUL
  EXPECT_EQ(n.GetText(), "a=1\r\nb=2\r\n");
}

TEST(SettingsList, FileRoundTripWritesCrLfAndReplaces) {
  kxtest::TempDir d;
  TkxStringList l = Lines("Source=x\nno pair here\n");
  l.SaveToFile(d / "p.txt");
  EXPECT_EQ(kxtest::ReadFile(d / "p.txt"), "Source=x\r\nno pair here\r\n");
  TkxStringList r;
  r.LoadFromFile(d / "p.txt");
  EXPECT_EQ(r.Lines(), l.Lines());
  TkxStringList shorter = Lines("a=1");
  shorter.SaveToFile(d / "p.txt");
  EXPECT_EQ(kxtest::ReadFile(d / "p.txt"), "a=1\r\n");
  EXPECT_THROW(r.LoadFromFile(d / "missing.txt"), std::runtime_error);
  EXPECT_THROW(l.SaveToFile(d / "no/such/folder/p.txt"), std::runtime_error);
}

TEST(SettingsList, PlainLineUse) {
  TkxStringList l;
  l.Add("/a/Proj.batch-lumipix");
  l.Insert(0, "/b/x");
  EXPECT_EQ(l[0], "/b/x");
  EXPECT_EQ(l.IndexOf("/A/proj.BATCH-lumipix"), 1);
  EXPECT_EQ(l.IndexOf("/c"), -1);
  EXPECT_THROW(l.Insert(5, "x"), std::out_of_range);
}

TEST(ValueReadings, Boolean) {
  EXPECT_FALSE(ReadBool("0", true));
  EXPECT_FALSE(ReadBool("0.0", true));
  EXPECT_TRUE(ReadBool("2", false));
  EXPECT_TRUE(ReadBool("-1", false));
  EXPECT_TRUE(ReadBool("0.5", false));
  EXPECT_TRUE(ReadBool("TRUE", false));
  EXPECT_TRUE(ReadBool("true", false));
  EXPECT_FALSE(ReadBool("fAlSe", true));
  // What a person writes for a switch reads as meant.
  for (const char* yes : {"yes", "YES", "on", "On"}) EXPECT_TRUE(ReadBool(yes, false)) << yes;
  for (const char* no : {"no", "No", "off", "OFF"}) EXPECT_FALSE(ReadBool(no, true)) << no;
  for (const char* other : {"", "1x", "True ", ".", "yess", "nope"}) {
    EXPECT_TRUE(ReadBool(other, true)) << other;
    EXPECT_FALSE(ReadBool(other, false)) << other;
  }
}

TEST(ValueReadings, Integer) {
  EXPECT_EQ(ReadInt(" 42", 7), 42);
  EXPECT_EQ(ReadInt("$1F", 7), 31);
  EXPECT_EQ(ReadInt("0x1F", 7), 31);
  EXPECT_EQ(ReadInt("0X1f", 7), 31);
  EXPECT_EQ(ReadInt("x1F", 7), 31);
  EXPECT_EQ(ReadInt("-3", 7), -3);
  EXPECT_EQ(ReadInt("+5", 7), 5);
  EXPECT_EQ(ReadInt("-$10", 7), -16);
  EXPECT_EQ(ReadInt("2147483647", 7), 2147483647);
  EXPECT_EQ(ReadInt("-2147483648", 7), -2147483647 - 1);
  for (const char* bad :
       {"42 ", "4.0", "", " ", "2147483648", "-2147483649", "$", "0x", "12a", "$1G", "--1", "99999999999999999999"})
    EXPECT_EQ(ReadInt(bad, 7), 7) << bad;
}
