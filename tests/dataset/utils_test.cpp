#include "dataset/utils.h"

#include <optional>

#include "support/format_test.h"

namespace clipra {
namespace {

TEST(ParseNumbers, AcceptCommaOrPointAndRefuseMalformedText) {
  const struct {
    const char* text;
    double want;  // 3 is the default for malformed text
  } floats[] = {{"  12,5 ", 12.5}, {"12.5", 12.5}, {"-4e2", -400}, {"\t.25", 0.25},
                {"1.234,5", 3},    {"", 3},        {"   ", 3},     {"12a", 3},
                {"1e", 3},         {"-", 3},       {"1e99999", 3}, {"nan", 3}};
  for (const auto& c : floats)
    EXPECT_DOUBLE_EQ(c.want, static_cast<double>(ParseFloatDef(c.text, 3))) << c.text;
  const std::pair<const char*, std::optional<int32_t>> ints[] = {
      {" 42 ", 42}, {"-2147483648", INT32_MIN},     {"2147483648", {}}, {"12a", {}}, {"", {}},
      {"1.0", {}},  {"99999999999999999999999", {}}};
  for (const auto& [text, want] : ints) {
    int32_t v = 0;
    EXPECT_EQ(want, ParseInt32(text, v) ? std::optional<int32_t>(v) : std::nullopt) << text;
  }
}

TEST(Utils, TrimsAndShortensPathsAndSwapsExtensionsAfterTheLastSlash) {
  EXPECT_EQ("a b", StrTrim(" \t a b\t "));
  EXPECT_EQ("", StrTrim("  \t"));
  EXPECT_EQ("x ", StrTrimLeft("\tx "));
  EXPECT_EQ(255u, StrTrimLeft(std::string(300, 'a')).size());
  // File name of 9 characters, maximum 15: 2 folder characters, ".../", the name.
  EXPECT_EQ("/d.../image.ers", ShortenPath("/data/maps/image.ers", 15));
  EXPECT_EQ("/data/maps/image.ers", ShortenPath("/data/maps/image.ers", 0));
  EXPECT_EQ("/data/maps/image.ers", ShortenPath("/data/maps/image.ers", 20));
  EXPECT_EQ(".../averylo", ShortenPath("/x/averylongname.ers", 11));
  EXPECT_EQ(".ers", ExtractFileExt("/a.b/c.ers"));
  EXPECT_EQ("", ExtractFileExt("/a.b/c"));
  EXPECT_EQ("/a.b/c", ChangeFileExt("/a.b/c.ers", ""));
  EXPECT_EQ("/a.b/c.ers", ChangeFileExt("/a.b/c", ".ers"));
  EXPECT_EQ(0x04030201u, SwapLong(0x01020304u));
  EXPECT_EQ(std::string("\x3F\xF8", 2) + std::string(6, '\0'),
            Ordered<double>({SwapDouble(1.5)}, false));
  EXPECT_TRUE(BitIsSet(0x81, 8));  // bit numbers count modulo 8
  EXPECT_EQ((std::vector<int>{145, 17}),
            (std::vector<int>{SetBit(129, 4, true), SetBit(145, 7, false)}));
}

TEST(Utils, RoundsTiesToEvenAndFormatsNumbers) {
  EXPECT_EQ(
      (std::vector<long double>{2, 4, -2}),
      (std::vector<long double>{RoundHalfEven(2.5L), RoundHalfEven(3.5L), RoundHalfEven(-2.5L)}));
  int64_t v = 0;
  EXPECT_FALSE(RoundToInt64(1e30L, v));
  EXPECT_EQ("4521.123", FormatFixed(4521.12345, 10, 3));
  EXPECT_EQ("123457.000", FormatFixed(123456.789, 6, 3));
  EXPECT_EQ("0,500", FormatFixed(0.5, 6, 3, ','));
  EXPECT_EQ("0.000", FormatFixed(-0.0001, 10, 3));
  EXPECT_EQ("1.23457E+12", FormatFixed(1234567890123.0, 6, 3));
  // Messages and sheet names: exponents without plus sign or leading zeros.
  EXPECT_EQ("1E20 -1.5E-7", FormatGeneral(1e20) + " " + FormatGeneral(-1.5e-7));
}

}  // namespace
}  // namespace clipra
