// Tests of Value's exact text forms at the edges of each type's range, and equality.
#include "jet/read/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using jet::Value;

TEST(ValueTest, CurrencyIsExactToFourDecimals) {
  EXPECT_EQ(Value::Currency(std::numeric_limits<int64_t>::min()).ToText(), "-922337203685477.5808");
  EXPECT_EQ(Value::Currency(std::numeric_limits<int64_t>::max()).ToText(), "922337203685477.5807");
  EXPECT_EQ(Value::Currency(0).ToText(), "0.0000");
  EXPECT_EQ(Value::Currency(-1).ToText(), "-0.0001");
  EXPECT_EQ(Value::Currency(123400).ToText(), "12.3400");
  EXPECT_EQ(Value::Currency(-10000).ToText(), "-1.0000");
}

jet::Numeric MakeNumeric(bool negative, uint64_t high, uint64_t low, uint8_t scale) {
  jet::Numeric n;
  n.negative = negative;
  n.high = high;
  n.low = low;
  n.precision = 38;
  n.scale = scale;
  return n;
}

TEST(ValueTest, NumericUsesAll128BitsAndTheScale) {
  // 10^38 - 1, the largest 38-digit value: 0x4B3B4CA85A86C47A098A223FFFFFFFFF.
  const uint64_t high = 0x4B3B4CA85A86C47AULL, low = 0x098A223FFFFFFFFFULL;
  EXPECT_EQ(Value::NumericValue(MakeNumeric(false, high, low, 0)).ToText(),
            "99999999999999999999999999999999999999");
  EXPECT_EQ(Value::NumericValue(MakeNumeric(true, high, low, 10)).ToText(),
            "-9999999999999999999999999999.9999999999");
  EXPECT_EQ(Value::NumericValue(MakeNumeric(false, high, low, 38)).ToText(),
            "0.99999999999999999999999999999999999999");
  // Full 128-bit magnitude (beyond 38 digits, still printed exactly).
  EXPECT_EQ(Value::NumericValue(MakeNumeric(false, ~0ULL, ~0ULL, 0)).ToText(),
            "340282366920938463463374607431768211455");
  EXPECT_EQ(Value::NumericValue(MakeNumeric(true, 0, 5, 3)).ToText(), "-0.005");
  EXPECT_EQ(Value::NumericValue(MakeNumeric(false, 0, 0, 2)).ToText(), "0.00");
  EXPECT_EQ(Value::NumericValue(MakeNumeric(true, 0, 0, 2)).ToText(), "0.00");  // -0
  EXPECT_EQ(Value::NumericValue(MakeNumeric(false, 1, 0, 0)).ToText(), "18446744073709551616");
}

TEST(ValueTest, DatesFromTheDayCount) {
  EXPECT_EQ(Value::DateTime(0).ToText(), "1899-12-30 00:00:00");
  EXPECT_EQ(Value::DateTime(2).ToText(), "1900-01-01 00:00:00");
  EXPECT_EQ(Value::DateTime(60).ToText(), "1900-02-28 00:00:00");  // 1900 is no leap year
  EXPECT_EQ(Value::DateTime(61).ToText(), "1900-03-01 00:00:00");
  EXPECT_EQ(Value::DateTime(36526.5).ToText(), "2000-01-01 12:00:00");
  EXPECT_EQ(Value::DateTime(36585).ToText(), "2000-02-29 00:00:00");
  // The range Access accepts: 100-01-01 .. 9999-12-31 23:59:59.
  EXPECT_EQ(Value::DateTime(-657434).ToText(), "0100-01-01 00:00:00");
  EXPECT_EQ(Value::DateTime(2958465 + 86399.0 / 86400).ToText(), "9999-12-31 23:59:59");
}

TEST(ValueTest, NegativeDatesCountTimeForwardFromTheDay) {
  // -1.25: the day before the epoch, a quarter of a day into it.
  EXPECT_EQ(Value::DateTime(-1.25).ToText(), "1899-12-29 06:00:00");
  EXPECT_EQ(Value::DateTime(-0.5).ToText(), "1899-12-30 12:00:00");
  EXPECT_EQ(Value::DateTime(-657434.75).ToText(), "0100-01-01 18:00:00");
  // Rounding to a whole second that reaches midnight carries to the next day.
  EXPECT_EQ(Value::DateTime(1 - 0.1 / 86400).ToText(), "1899-12-31 00:00:00");
  EXPECT_EQ(Value::DateTime(-1.9999999999).ToText(), "1899-12-30 00:00:00");
  // 12:00:01 is not exactly representable; rounding must not give 12:00:00.
  EXPECT_EQ(Value::DateTime(36526 + 43201.0 / 86400).ToText(), "2000-01-01 12:00:01");
}

TEST(ValueTest, DatesNoCalendarCanShowKeepTheirNumber) {
  EXPECT_EQ(Value::DateTime(1e300).ToText(), "1e+300");
  EXPECT_EQ(Value::DateTime(-1e7).ToText(), "-1e+07");
  EXPECT_EQ(Value::DateTime(std::nan("")).ToText(), "nan");
}

TEST(ValueTest, FloatsPrintTheShortestRoundTrip) {
  EXPECT_EQ(Value::Double(0.1).ToText(), "0.1");
  EXPECT_EQ(Value::Single(0.1f).ToText(), "0.1");  // not 0.10000000149011612
  EXPECT_EQ(Value::Double(1.0 / 3).ToText(), "0.3333333333333333");
  EXPECT_EQ(Value::Double(-0.0).ToText(), "-0");
  EXPECT_EQ(Value::Double(1e21).ToText(), "1e+21");
  EXPECT_EQ(Value::Single(std::numeric_limits<float>::max()).ToText(), "3.4028235e+38");
  EXPECT_EQ(Value::Double(5e-324).ToText(), "5e-324");
}

TEST(ValueTest, OtherTypes) {
  EXPECT_EQ(Value::Boolean(true).ToText(), "1");
  EXPECT_EQ(Value::Boolean(false).ToText(), "0");
  EXPECT_EQ(Value::Byte(255).ToText(), "255");
  EXPECT_EQ(Value::Integer(-32768).ToText(), "-32768");
  EXPECT_EQ(Value::Long(std::numeric_limits<int32_t>::min()).ToText(), "-2147483648");
  EXPECT_EQ(Value::BigInt(std::numeric_limits<int64_t>::min()).ToText(), "-9223372036854775808");
  EXPECT_EQ(Value::Complex(7).ToText(), "7");
  EXPECT_EQ(Value::Text("t\xC3\xA9xt").ToText(), "t\xC3\xA9xt");
  EXPECT_EQ(Value::Binary({0x00, 0xAB, 0x0F}).ToText(), "00ab0f");
  EXPECT_EQ(Value::Null().ToText(), "");
  // Windows layout: the first three fields are little-endian.
  const std::array<uint8_t, 16> guid = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                                        0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(Value::Guid(guid).ToText(), "{12345678-9ABC-DEF0-0123-456789ABCDEF}");
}

TEST(ValueTest, EqualityIsByTypeAndExactPayload) {
  EXPECT_EQ(Value::Long(5), Value::Long(5));
  EXPECT_FALSE(Value::Long(5) == Value::Integer(5));
  EXPECT_FALSE(Value::Currency(5) == Value::Currency(6));
  EXPECT_EQ(Value::Null(), Value());
  EXPECT_FALSE(Value::Null() == Value::Text(""));
  EXPECT_EQ(Value::Double(std::nan("")), Value::Double(std::nan("")));
  EXPECT_FALSE(Value::Double(0.0) == Value::Double(-0.0));
  EXPECT_FALSE(Value::DateTime(1.0) == Value::Double(1.0));
  EXPECT_FALSE(Value::NumericValue(MakeNumeric(false, 0, 1, 2)) ==
               Value::NumericValue(MakeNumeric(false, 0, 1, 3)));
  EXPECT_EQ(Value::Binary({1, 2}), Value::Binary({1, 2}));
  EXPECT_FALSE(Value::Binary({1, 2}) == Value::Binary({1, 2, 3}));
  // A single keeps its exact value when widened.
  EXPECT_EQ(Value::Single(0.1f).real(), static_cast<double>(0.1f));
}

}  // namespace
