#include "toolbelt/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/test_settings.h"

namespace tw {
namespace {

TEST(FloatToStrTest, GeneralForm) {
  struct Case {
    double value;
    const char* english;
    const char* german;
  } cases[] = {
      {27.5, "27.5", "27,5"},
      {0, "0", "0"},
      {-0.0, "0", "0"},
      {-3.25, "-3.25", "-3,25"},
      {0.1 + 0.2, "0.3", "0,3"},
      {1.0 / 3, "0.333333333333333", "0,333333333333333"},
      {100, "100", "100"},
      {230, "230", "230"},
      {49.9999999999999, "49.9999999999999", "49,9999999999999"},
      {0.0001, "0.0001", "0,0001"},
      {0.00001, "1E-5", "1E-5"},
      {1e20, "1E20", "1E20"},
      {123456789012345678.0, "1.23456789012346E17", "1,23456789012346E17"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN", "NAN"},
      {-std::numeric_limits<double>::infinity(), "-INF", "-INF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FloatToStr(c.value, EnglishSettings()), c.english) << c.value;
    EXPECT_EQ(FloatToStr(c.value, GermanSettings()), c.german) << c.value;
  }
}

TEST(FormatGroupedTest, ThousandsFormats) {
  struct Case {
    double value;
    int decimals;  // "#,##0", "#,##0.0", "#,##0.00"
    const char* english;
    const char* german;
  } cases[] = {
      {1234567.891, 0, "1,234,568", "1.234.568"},
      {1234567.891, 1, "1,234,567.9", "1.234.567,9"},
      {1234567.891, 2, "1,234,567.89", "1.234.567,89"},
      {8589934592.0, 0, "8,589,934,592", "8.589.934.592"},
      {999.95, 1, "1,000.0", "1.000,0"},
      {12, 2, "12.00", "12,00"},
      {0, 0, "0", "0"},
      {2.5, 0, "3", "3"},  // half away from zero
      {0.125, 2, "0.13", "0,13"},
      {-0.4, 0, "0", "0"},  // no negative zero
      {-1234.5, 0, "-1,235", "-1.235"},
      {99.99, 2, "99.99", "99,99"},
      // One rounding, from the exact value of the double: no carry from a digit beyond the
      // deciding one.
      {26.04996, 1, "26.0", "26,0"},
      {12.344996, 2, "12.34", "12,34"},
      {0.0499999, 1, "0.0", "0,0"},
      {26.05, 1, "26.1", "26,1"},  // the double lies just above 26.05
      {1.005, 2, "1.00", "1,00"},  // the double lies just below 1.005
      {2.675, 2, "2.67", "2,67"},  // likewise
      {1234.4999999999, 0, "1,234", "1.234"},
      {5e-324, 2, "0.00", "0,00"},  // the smallest double: the longest exact expansion
      {1e21, 0, "1,000,000,000,000,000,000,000", "1.000.000.000.000.000.000.000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatGrouped(c.value, c.decimals, EnglishSettings()), c.english) << c.value;
    EXPECT_EQ(FormatGrouped(c.value, c.decimals, GermanSettings()), c.german) << c.value;
  }
}

TEST(ZeroPaddedTest, EventCodes) {
  EXPECT_EQ(ZeroPadded(5003, 5), "05003");
  EXPECT_EQ(ZeroPadded(71001, 5), "71001");
  EXPECT_EQ(ZeroPadded(123456, 5), "123456");
  EXPECT_EQ(ZeroPadded(-5, 5), "-00005");
  EXPECT_EQ(ZeroPadded(0, 5), "00000");
  EXPECT_EQ(ZeroPadded(std::numeric_limits<int64_t>::min(), 5), "-9223372036854775808");
}

}  // namespace
}  // namespace tw
