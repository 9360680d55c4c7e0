#include "toolbelt/number_text.h"

#include <gtest/gtest.h>

#include "tests/test_settings.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

struct FloatCase {
  const char* text;
  bool numeric;
  double value;
};

void ExpectFloats(FakeEnv& env, const std::vector<FloatCase>& cases) {
  for (const FloatCase& c : cases) {
    SCOPED_TRACE(std::string("text \"") + c.text + "\"");
    EXPECT_EQ(IsNumeric(env.ctx, c.text), c.numeric);
    EXPECT_DOUBLE_EQ(SafeStrToFloat(env.ctx, c.text), c.value);
  }
}

TEST(NumberTextTest, FloatsUnderPointSeparator) {
  FakeEnv env;
  env.regional.mutable_settings() = EnglishSettings();
  ExpectFloats(
      env,
      {
          {"30", true, 30},      {"27.5", true, 27.5}, {"  -0.25  ", true, -0.25},
          {"+1.5e2", true, 150}, {"1E-2", true, 0.01}, {".5", true, 0.5},
          {"5.", true, 5},       {".", true, 0},  // the form allows a lone separator; no number
          {"1E400", true, 0},                     // beyond the double range
          {"", false, 0},        {"abc", false, 0},    {"27,5", false, 0},
          {"1,000", false, 0},  // thousands separators are never accepted
          {"1.2.3", false, 0},   {"1e", false, 0},     {"-", false, 0},
          {"- 5", false, 0},     {"30\r\n", false, 0},  // line breaks are not blanks
          {"\t30", false, 0},    {"0x1F", false, 0},
      });
}

TEST(NumberTextTest, FloatsUnderCommaSeparator) {
  FakeEnv env;
  env.regional.mutable_settings() = GermanSettings();
  ExpectFloats(env, {
                        {"27,5", true, 27.5},
                        {"27.5", false, 0},  // an alarm level of 27.5 becomes 0 here
                        {"30", true, 30},
                        {"1.000", false, 0},
                        {"-1,5E1", true, -15},
                    });
}

TEST(NumberTextTest, IntegerRule) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case cases[] = {
      {"600", 600},
      {"0", 0},
      {"", -99},
      {"abc", -99},
      {"300 ", -99},  // a trailing blank makes it invalid
      {"  300", 300},
      {"30\r\n", -99},
      {"1.5", -99},
      {"+7", 7},
      {"-7", -7},
      {"$1F", 31},
      {"x1f", 31},
      {"X1F", 31},
      {"0x1F", 31},
      {"0X1f", 31},
      {"-$10", -16},
      {"$FFFFFFFF", -1},
      {"$100000000", -99},
      {"$", -99},
      {"0x", -99},
      {"-", -99},
      {"$G", -99},
      {"2147483647", 2147483647},
      {"2147483648", -99},
      {"-2147483648", INT32_MIN},
      {"-2147483649", -99},
      {"99999999999999999999", -99},
      {"007", 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StrToIntDef(c.text, -99), c.value) << "text \"" << c.text << "\"";
  }
}

}  // namespace
}  // namespace tw
