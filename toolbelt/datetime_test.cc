#include "toolbelt/datetime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/test_settings.h"
#include "toolbelt/failure.h"

namespace tw {
namespace {

// Monday 5 February 2024, 13:04:05.007.
const TDateTime kSample = EncodeDateTimeOrThrow(2024, 2, 5, 13, 4, 5, 7);

TEST(FormatDateTimeTest, PatternsUnderEnglishAndGermanSettings) {
  struct Case {
    const char* pattern;
    const char* english;
    const char* german;
  } cases[] = {
      {"yyyymmdd", "20240205", "20240205"},
      {"yyyy", "2024", "2024"},
      {"ddd", "Mon", "Mo"},
      {"dddd", "Monday", "Montag"},
      {"d", "5", "5"},
      {"mmm", "Feb", "Feb"},
      {"dd/mm/yy", "05/02/24", "05.02.24"},
      {"hh:nn", "13:04", "13:04"},
      {"hh:nn:ss", "13:04:05", "13:04:05"},
      {"YYYY-MM-DD HH:NN:SS.ZZZ", "2024-02-05 13:04:05.007", "2024-02-05 13:04:05.007"},
      {"yyyymmddhhnnsszzz", "20240205130405007", "20240205130405007"},
      {"HH:NN:SS.ZZZ", "13:04:05.007", "13:04:05.007"},
      {"hh:nn:ss.zzz", "13:04:05.007", "13:04:05.007"},
      {"ddd, d mmm yyyy hh:nn:ss ", "Mon, 5 Feb 2024 13:04:05 ", "Mo, 5 Feb 2024 13:04:05 "},
      {"ddddd", "05/02/2024", "05.02.2024"},
      {"c", "05/02/2024 13:04:05", "05.02.2024 13:04:05"},
      {"h:mm ampm", "1:04 PM", "1:04 PM"},      // m right after the hour is the minute
      {"'day' d\"/\"m", "day 5/2", "day 5/2"},  // quoted text is copied as is
      {"z", "7", "7"},
      {"yy", "24", "24"},
  };
  const FormatSettings english = EnglishSettings();
  const FormatSettings german = GermanSettings();
  for (const auto& c : cases) {
    EXPECT_EQ(FormatDateTime(c.pattern, kSample, english), c.english) << c.pattern;
    EXPECT_EQ(FormatDateTime(c.pattern, kSample, german), c.german) << c.pattern;
  }
}

TEST(FormatDateTimeTest, TimeSeparatorComesFromTheSettings) {
  FormatSettings finnish = EnglishSettings();
  finnish.time_separator = '.';
  EXPECT_EQ(FormatDateTime("hh:nn:ss.zzz", kSample, finnish), "13.04.05.007");
  EXPECT_EQ(FormatDateTime("hh:nn:ss", 0.5, finnish), "12.00.00");
}

TEST(FormatDateTimeTest, MonthNamesAndMidnight) {
  const TDateTime march = EncodeDate(2024, 3, 1);
  EXPECT_EQ(FormatDateTime("mmm", march, GermanSettings()), "Mär");
  EXPECT_EQ(FormatDateTime("c", march, EnglishSettings()), "01/03/2024");  // no time at midnight
  EXPECT_EQ(FormatDateTime("h:nn AMPM", march, FormatSettings::English()), "12:00 AM");
}

TEST(FormatDateTimeTest, InvalidValuesRaiseConvertError) {
  for (double bad : {std::nan(""), 1e12, -1e12, HUGE_VAL}) {
    try {
      FormatDateTime("yyyy", bad, EnglishSettings());
      ADD_FAILURE() << bad;
    } catch (const Fault& f) {
      EXPECT_EQ(f.class_name(), "EConvertError");
    }
  }
}

TEST(FormatDateTimeTest, SelfReferringLocaleFormatsStop) {
  FormatSettings odd = EnglishSettings();
  odd.short_date_format = "ddddd c";  // names itself
  EXPECT_NO_THROW(FormatDateTime("ddddd", kSample, odd));
}

}  // namespace
}  // namespace tw
