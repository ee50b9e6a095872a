#include "platform/text.h"

#include <gtest/gtest.h>

#include "platform/choosers.h"

TEST(Text, CaseFoldingAndReplacing) {
  EXPECT_TRUE(kx::SameText("Target", "tARGET"));
  EXPECT_FALSE(kx::SameText("Target", "Targe"));
  EXPECT_TRUE(kx::StartsText("file:", "FILE:x"));
  EXPECT_EQ(kx::ReplaceAll("a,b,,c", ",", ";"), "a;b;;c");
  EXPECT_EQ(kx::ReplaceAll("aaa", "aa", "a"), "aa");  // one pass, left to right
  EXPECT_EQ(kx::ReplaceFirst("A&B&C", "&", "And"), "AAndB&C");
}

TEST(Text, Utf16RoundTripIncludingSurrogates) {
  std::string s = "Dok\xC3\xBC" "ment-\xE2\x82\xAC-\xF0\x9F\x98\x80.png";
  std::u16string w = kx::Utf8ToUtf16(s);
  EXPECT_EQ(w.size(), 17u);  // the emoji takes two code units
  EXPECT_EQ(kx::Utf16ToUtf8(w), s);
}

TEST(Choosers, FilterConversionForDialogs) {
  EXPECT_EQ(kx::ConvertFilter("Lumipix Project|*.batch-lumipix|Word Document (*.doc;*.docx)|*.doc;*.docx"),
            "Lumipix Project (*.batch-lumipix);;Word Document (*.doc *.docx)");
  EXPECT_EQ(kx::ConvertFilter("Log File|*.log|All (everything)|*"), "Log File (*.log);;All (everything) (*)");
  EXPECT_EQ(kx::ConvertFilter(""), "");
}
