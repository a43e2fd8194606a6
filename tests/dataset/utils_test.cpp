#include "dataset/utils.h"

#include <gtest/gtest.h>

namespace clipra {
namespace {

TEST(ParseFloatDef, AcceptsCommaOrPointWhateverTheLocale) {
  EXPECT_DOUBLE_EQ(12.5, static_cast<double>(ParseFloatDef("  12,5 ", 0)));
  EXPECT_DOUBLE_EQ(12.5, static_cast<double>(ParseFloatDef("12.5", 0)));
  EXPECT_DOUBLE_EQ(-400, static_cast<double>(ParseFloatDef("-4e2", 0)));
  EXPECT_DOUBLE_EQ(0.25, static_cast<double>(ParseFloatDef("\t.25", 1)));
}

TEST(ParseFloatDef, MalformedTextGivesTheDefault) {
  EXPECT_EQ(7, ParseFloatDef("1.234,5", 7));
  EXPECT_EQ(3, ParseFloatDef("", 3));
  EXPECT_EQ(3, ParseFloatDef("   ", 3));
  EXPECT_EQ(3, ParseFloatDef("12a", 3));
  EXPECT_EQ(3, ParseFloatDef("1e", 3));
  EXPECT_EQ(3, ParseFloatDef("-", 3));
  EXPECT_EQ(3, ParseFloatDef("1e99999", 3));
  EXPECT_EQ(3, ParseFloatDef("nan", 3));
}

TEST(ParseInt32, AcceptsOnlyWholeNumbersInRange) {
  int32_t v = 0;
  EXPECT_TRUE(ParseInt32(" 42 ", v));
  EXPECT_EQ(42, v);
  EXPECT_TRUE(ParseInt32("-2147483648", v));
  EXPECT_EQ(INT32_MIN, v);
  EXPECT_FALSE(ParseInt32("2147483648", v));
  EXPECT_FALSE(ParseInt32("12a", v));
  EXPECT_FALSE(ParseInt32("", v));
  EXPECT_FALSE(ParseInt32("1.0", v));
  EXPECT_FALSE(ParseInt32("99999999999999999999999", v));
}

TEST(Trim, StripsBlanksAndTabsAndCapsTheLeftTrim) {
  EXPECT_EQ("a b", StrTrim(" \t a b\t "));
  EXPECT_EQ("", StrTrim("  \t"));
  EXPECT_EQ("x ", StrTrimLeft("\tx "));
  EXPECT_EQ(255u, StrTrimLeft(std::string(300, 'a')).size());
}

TEST(Bytes, SwapsAndBits) {
  EXPECT_EQ(0x04030201u, SwapLong(0x01020304u));
  EXPECT_EQ(1.5, SwapDouble(SwapDouble(1.5)));
  EXPECT_TRUE(BitIsSet(0x81, 7));
  EXPECT_TRUE(BitIsSet(0x81, 8));  // bit number mod 8
  EXPECT_EQ(145, SetBit(129, 4, true));
  EXPECT_EQ(17, SetBit(145, 7, false));
}

TEST(ShortenPath, KeepsTheStartOfTheFolderAndTheWholeName) {
  // File name of 9 characters, maximum 15: 2 folder characters, ".../", the name.
  EXPECT_EQ("/d.../image.ers", ShortenPath("/data/maps/image.ers", 15));
  EXPECT_EQ("/data/maps/image.ers", ShortenPath("/data/maps/image.ers", 0));
  EXPECT_EQ("/data/maps/image.ers", ShortenPath("/data/maps/image.ers", 20));
  EXPECT_EQ(".../averylo", ShortenPath("/x/averylongname.ers", 11));
}

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour) {
  EXPECT_EQ(2, RoundHalfEven(2.5L));
  EXPECT_EQ(4, RoundHalfEven(3.5L));
  EXPECT_EQ(-2, RoundHalfEven(-2.5L));
  int64_t v = 0;
  EXPECT_FALSE(RoundToInt64(1e30L, v));
}

TEST(FormatFixed, RoundsToSignificantDigitsThenFixesDecimals) {
  EXPECT_EQ("0.500", FormatFixed(0.5, 6, 3));
  EXPECT_EQ("4521.123", FormatFixed(4521.12345, 10, 3));
  EXPECT_EQ("123457.000", FormatFixed(123456.789, 6, 3));
  EXPECT_EQ("0,500", FormatFixed(0.5, 6, 3, ','));
  EXPECT_EQ("-12.000", FormatFixed(-12, 10, 3));
  EXPECT_EQ("0.000", FormatFixed(-0.0001, 10, 3));
  EXPECT_EQ("1.23457E+12", FormatFixed(1234567890123.0, 6, 3));
}

TEST(Paths, ExtensionsFollowTheLastSlash) {
  EXPECT_EQ(".ers", ExtractFileExt("/a.b/c.ers"));
  EXPECT_EQ("", ExtractFileExt("/a.b/c"));
  EXPECT_EQ("/a.b/c.tfw", ChangeFileExt("/a.b/c.tif", ".tfw"));
  EXPECT_EQ("/a.b/c", ChangeFileExt("/a.b/c.ers", ""));
  EXPECT_EQ("/a.b/c.ers", ChangeFileExt("/a.b/c", ".ers"));
}

}  // namespace
}  // namespace clipra
