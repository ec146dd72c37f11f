#include "util/Numbers.h"

#include <gtest/gtest.h>

#include "util/Errors.h"

namespace quelmar {
namespace {

TEST(Numbers, RoundIsTiesToEven) {
  EXPECT_EQ(Round(2.5L), 2);
  EXPECT_EQ(Round(3.5L), 4);
  EXPECT_EQ(Round(-0.5L), 0);
  EXPECT_EQ(Round(-1.5L), -2);
  EXPECT_EQ(RoundToInt32(2147483647.4L), INT32_MAX);
  EXPECT_THROW(RoundToInt32(2147483647.5L), RangeError);
  EXPECT_THROW(RoundToInt32(std::numeric_limits<Real>::quiet_NaN()), RangeError);
  EXPECT_THROW(CheckedMul(65536, 32768), RangeError);
  EXPECT_EQ(CheckedMul(-65536, 32768), INT32_MIN);
}

// The one-step conversion rounds as Round does, and flags what no 64-bit integer holds.
TEST(Numbers, RoundToInt64MatchesRound) {
  const Real values[] = {0.5L,
                         1.5L,
                         2.5L,
                         -0.5L,
                         -2.5L,
                         -3.5L,
                         0.49L,
                         -0.51L,
                         1e15L + 0.5L,
                         -7.25L,
                         4503599627370497.5L,
                         0.0L,
                         -0.0L,
                         9.2e18L};
  for (const Real x : values) EXPECT_EQ(RoundToInt64(x), static_cast<int64_t>(Round(x))) << x;
  EXPECT_EQ(RoundToInt64(std::numeric_limits<Real>::quiet_NaN()), kRoundFailed);
  EXPECT_EQ(RoundToInt64(std::numeric_limits<Real>::infinity()), kRoundFailed);
  EXPECT_EQ(RoundToInt64(-std::numeric_limits<Real>::infinity()), kRoundFailed);
  EXPECT_EQ(RoundToInt64(1e19L), kRoundFailed);
  int32_t r = 7;
  EXPECT_TRUE(RoundFitsInt32(-2147483648.4L, r));
  EXPECT_EQ(r, INT32_MIN);
  EXPECT_FALSE(RoundFitsInt32(-2147483648.6L, r));
  EXPECT_FALSE(RoundFitsInt32(1e19L, r));
}

TEST(Numbers, RealTextRule) {
  const std::pair<const char*, int> errors[] = {
      {"", 1},    {"+", 2},     {"1,2,3", 2}, {"1e", 3}, {"1e+", 4}, {"1ex", 3},
      {"abc", 1}, {"1.2.3", 4}, {"  -", 4},   {"e5", 1}, {"1 ", 2},
  };
  for (const auto& [text, pos] : errors) {
    EXPECT_EQ(ParseReal(text).errorPosition, pos) << text;
  }
  const std::pair<const char*, Real> values[] = {
      {".", 0},      {"5.", 5},          {".5", 0.5L}, {"  -2.15", -2.15L},
      {"1e3", 1000}, {"+1.5E-1", 0.15L}, {"14", 14},
  };
  for (const auto& [text, value] : values) {
    const RealParse r = ParseReal(text);
    EXPECT_TRUE(r.ok()) << text;
    EXPECT_EQ(r.value, value) << text;
  }
}

TEST(Numbers, FormatsIgnoreTheLocale) {
  EXPECT_EQ(FormatG3(0), "0");
  EXPECT_EQ(FormatG3(14), "14");
  EXPECT_EQ(FormatG3(2.15L), "2.15");
  EXPECT_EQ(FormatG3(1234567), "1.23e+06");
  EXPECT_EQ(FormatFixed(11, 2), "11.00");
  EXPECT_EQ(FormatFixed(-0.5L, 3), "-0.500");
  EXPECT_EQ(FormatFixed(2.675L, 2), "2.67");
}

}  // namespace
}  // namespace quelmar
