#include "toolbelt/text_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "tests/test_settings.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

class TextTimeTest : public ::testing::Test {
 protected:
  FakeEnv env_;
  Context& ctx_ = env_.ctx;
};

TEST_F(TextTimeTest, Between) {
  struct Case {
    const char* text;
    const char* start;
    const char* end;
    const char* result;
  } cases[] = {
      {"<A>1</A>", "<A>", "</A>", "1"},
      {"head<A>x</A>", "", "<A>", "head"},             // empty start: from the beginning
      {"<A>to the end", "<A>", "</A>", "to the end"},  // missing end: the rest
      {"<B>1</B>", "<A>", "</B>", ""},                 // missing start: empty
      {"</A><A>v", "<A>", "</A>", "v"},                // end only before the start
      {"<A>1</A><A>2</A>", "<A>", "</A>", "1"},        // first pair wins
      {"<a>1</a>", "<A>", "</A>", ""},                 // case-sensitive
      {"<A></A>", "<A>", "</A>", ""},
      {"", "", "", ""},
      {"<A>\r\n30\r\n</A>", "<A>", "</A>", "\r\n30\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Between(ctx_, c.text, c.start, c.end), c.result) << c.text;
  }
}

TEST_F(TextTimeTest, BooleanTStr) {
  EXPECT_EQ(BooleanTStr(ctx_, false, "True", "False"), "False");
  EXPECT_EQ(BooleanTStr(ctx_, true, "TRUE", "FALSE"), "TRUE");
}

TEST_F(TextTimeTest, FormattedTime) {
  env_.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 14, 3, 7, 123));
  EXPECT_EQ(FormattedTime(ctx_, -1), "14:03:07.123");
  EXPECT_EQ(FormattedTime(ctx_, 0.5), "12:00:00.000");
  EXPECT_EQ(FormattedTime(ctx_, 45000.75), "18:00:00.000");  // the date part is ignored
}

TEST_F(TextTimeTest, StringOfStringUnderBothSettings) {
  const TDateTime with_time = EncodeDateTimeOrThrow(2025, 3, 14, 14, 3, 7, 0);
  const TDateTime midnight = EncodeDate(2025, 3, 14);
  const TDateTime only_ms = midnight + 5 / 86400000.0;
  env_.regional.mutable_settings() = EnglishSettings();
  EXPECT_EQ(StringOfString(ctx_, 0), "");
  EXPECT_EQ(StringOfString(ctx_, with_time), "14/03/2025 14:03:07");
  EXPECT_EQ(StringOfString(ctx_, midnight), "14/03/2025");
  EXPECT_EQ(StringOfString(ctx_, only_ms), "14/03/2025");  // milliseconds do not count
  env_.regional.mutable_settings() = GermanSettings();
  EXPECT_EQ(StringOfString(ctx_, with_time), "14.03.2025 14:03:07");
  env_.regional.mutable_settings() = FormatSettings::English();
  EXPECT_EQ(StringOfString(ctx_, with_time), "3/14/2025 2:03:07 PM");
}

TEST_F(TextTimeTest, DateTimeToStrShowsDayZeroAndMilliseconds) {
  env_.regional.mutable_settings() = EnglishSettings();
  EXPECT_EQ(DateTimeToStr(ctx_, 0), "30/12/1899");
  EXPECT_EQ(DateTimeToStr(ctx_, EncodeDate(2025, 3, 14)), "14/03/2025");
  EXPECT_EQ(DateTimeToStr(ctx_, EncodeDateTimeOrThrow(2025, 3, 14, 0, 0, 0, 5)),
            "14/03/2025 00:00:00");
  EXPECT_EQ(DateTimeToStr(ctx_, std::nan("")), "");
}

TEST_F(TextTimeTest, DateTimeToRFC822) {
  const TDateTime when = EncodeDateTimeOrThrow(2024, 2, 5, 13, 4, 5, 0);
  struct Case {
    int32_t zone;
    const char* text;
  } cases[] = {
      {0, "Mon, 5 Feb 2024 13:04:05 +0000"},
      {-30, "Mon, 5 Feb 2024 13:04:05 -0030"},
      {-500, "Mon, 5 Feb 2024 13:04:05 -0500"},
      {1030, "Mon, 5 Feb 2024 13:04:05 +1030"},
      {123456, "Mon, 5 Feb 2024 13:04:05 +123456"},
      {std::numeric_limits<int32_t>::min(), "Mon, 5 Feb 2024 13:04:05 -2147483648"},
  };
  FormatSettings german = GermanSettings();
  german.time_separator = '.';
  for (const FormatSettings& settings : {EnglishSettings(), german}) {
    env_.regional.mutable_settings() = settings;
    for (const auto& c : cases) EXPECT_EQ(DateTimeToRFC822(ctx_, c.zone, when), c.text);
  }
  // The English names are used inside this text only.
  EXPECT_EQ(FormatDateTime("ddd", when, ctx_.fmt()), "Mo");
}

TEST_F(TextTimeTest, YearAtTheLastMinute) {
  EXPECT_EQ(Year(ctx_, EncodeDateTimeOrThrow(2023, 12, 31, 23, 59, 0, 0)), 2023);
}

TEST_F(TextTimeTest, BadDateTimesGiveEmptyResultsWithoutEscaping) {
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e15, -1e15}) {
    EXPECT_EQ(FormattedTime(ctx_, bad), "");
    EXPECT_EQ(StringOfString(ctx_, bad), "");
    EXPECT_EQ(DateTimeToRFC822(ctx_, 0, bad), "");
    EXPECT_EQ(Year(ctx_, bad), 0);
    EXPECT_EQ(LocalTimeToGMT(ctx_, bad), 0);
  }
}

// The real clock's conversion, under a zone with daylight saving set for the test.
class LocalTimeToGmtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    had_tz_ = old != nullptr;
    if (had_tz_) old_tz_ = old;
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // central Europe, without tzdata
    tzset();
    clock_ = NewSystemClock();
    env_.ctx.env.clock = clock_.get();
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", old_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  FakeEnv env_;
  std::unique_ptr<Clock> clock_;
  bool had_tz_ = false;
  std::string old_tz_;
};

TEST_F(LocalTimeToGmtTest, SummerAndWinterAnHourApart) {
  const TDateTime summer = EncodeDateTimeOrThrow(2024, 7, 1, 12, 0, 0, 250);
  const TDateTime winter = EncodeDateTimeOrThrow(2024, 1, 15, 12, 0, 0, 0);
  const double summer_offset_h = (summer - LocalTimeToGMT(env_.ctx, summer)) * 24;
  const double winter_offset_h = (winter - LocalTimeToGMT(env_.ctx, winter)) * 24;
  EXPECT_NEAR(summer_offset_h, 2.0, 1e-6);
  EXPECT_NEAR(winter_offset_h, 1.0, 1e-6);
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", LocalTimeToGMT(env_.ctx, summer), EnglishSettings()),
            "10:00:00.250");  // milliseconds carry over
}

}  // namespace
}  // namespace tw
