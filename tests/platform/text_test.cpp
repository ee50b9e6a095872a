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
  std::string s =
      "Dok\xC3\xBC"
      "ment-\xE2\x82\xAC-\xF0\x9F\x98\x80.png";
  std::u16string w = kx::Utf8ToUtf16(s);
  EXPECT_EQ(w.size(), 17u);  // the emoji takes two code units
  EXPECT_EQ(kx::Utf16ToUtf8(w), s);
}

TEST(Text, Utf16SurrogatesPairUpAndStrayHalvesBecomeReplacementCharacters) {
  // U+1D400 and U+10348 outside the basic plane, as pairs.
  EXPECT_EQ(kx::Utf16ToUtf8(u"A\xD835\xDC00"
                            u"B\xD800\xDF48"),
            "A\xF0\x9D\x90\x80"
            "B\xF0\x90\x8D\x88");
  // A high half at the end, a low half alone, two halves the wrong way round.
  EXPECT_EQ(kx::Utf16ToUtf8(std::u16string(u"x\xD835")), "x\xEF\xBF\xBD");
  EXPECT_EQ(kx::Utf16ToUtf8(std::u16string(u"\xDC00y")), "\xEF\xBF\xBDy");
  EXPECT_EQ(kx::Utf16ToUtf8(std::u16string(u"\xDC00\xD835")), "\xEF\xBF\xBD\xEF\xBF\xBD");
  // Character by character: a pair moves on by two units.
  std::u16string s = u"\x05D0\xD83D\xDE00\xDE00";
  size_t i = 0;
  EXPECT_EQ(kx::NextUtf16(s, i), U'\x05D0');
  EXPECT_EQ(i, 1u);
  EXPECT_EQ(kx::NextUtf16(s, i), U'\x1F600');
  EXPECT_EQ(i, 3u);
  EXPECT_EQ(kx::NextUtf16(s, i), U'\xFFFD');
  EXPECT_EQ(i, 4u);
}

TEST(Choosers, FilterConversionForDialogs) {
  EXPECT_EQ(kx::ConvertFilter("Lumipix Project|*.batch-lumipix|Word Document (*.doc;*.docx)|*.doc;*.docx"),
            "Lumipix Project (*.batch-lumipix);;Word Document (*.doc *.docx)");
  EXPECT_EQ(kx::ConvertFilter("Log File|*.log|All (everything)|*"), "Log File (*.log);;All (everything) (*)");
  EXPECT_EQ(kx::ConvertFilter(""), "");
}
