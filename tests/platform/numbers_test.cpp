#include "platform/numbers.h"

#include <gtest/gtest.h>

using kx::ReadDigits;

TEST(ReadDigits, OnlyDigitsOfTheBaseUpToTheLimit) {
  EXPECT_EQ(ReadDigits("0"), 0u);
  EXPECT_EQ(ReadDigits("007"), 7u);
  EXPECT_EQ(ReadDigits("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(ReadDigits("1F", UINT64_MAX, 16), 31u);
  EXPECT_EQ(ReadDigits("ff", UINT64_MAX, 16), 255u);
  EXPECT_EQ(ReadDigits("1000000", 1000000), 1000000u);
  EXPECT_EQ(ReadDigits("1000001", 1000000), std::nullopt);
  // Signs, blanks, prefixes and anything after the digits belong to the caller's rules.
  for (const char* bad : {"", "-1", "+1", " 1", "1 ", "0x1F", "1F", "12a", "1.0", "18446744073709551616"})
    EXPECT_EQ(ReadDigits(bad), std::nullopt) << bad;
  EXPECT_EQ(ReadDigits("1G", UINT64_MAX, 16), std::nullopt);
}
