#include "ups/temp_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/test_settings.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/number_text.h"

namespace tw {
namespace {

using ::testing::ElementsAre;

TDateTime At(int h, int n, int s, int ms = 0) {
  return EncodeDateTimeOrThrow(2025, 3, 14, h, n, s, ms);
}

TEST(TempLogTest, PointTruncatesWhileTimeRounds) {
  struct Case {
    TDateTime when;
    double temp;
    bool german;
    const char* row;
  } cases[] = {
      {At(13, 6, 10), 27, false, "157,13:05,27\r\n"},
      {At(13, 7, 40), 27, false, "157,13:10,27\r\n"},
      {At(23, 58, 0), 27, false, "287,00:00,27\r\n"},
      {At(0, 0, 0), 26.5, false, "0,00:00,26.5\r\n"},
      {At(0, 4, 59, 999), 0, false, "0,00:05,0\r\n"},
      {At(0, 5, 0), -3.25, false, "1,00:05,-3.25\r\n"},
      {At(13, 7, 40), 27.5, true, "157,13:10,27,5\r\n"},
  };
  for (const Case& c : cases) {
    const FormatSettings fmt = c.german ? GermanSettings() : EnglishSettings();
    EXPECT_EQ(SampleRow(fmt, TempLogPoint(c.when), c.when, c.temp), c.row);
  }
}

TEST(TempLogTest, EveryFiveMinuteMarkStartsItsPoint) {
  for (int point = 0; point < kPointsPerDay; ++point) {
    const int minutes = point * 5;
    ASSERT_EQ(TempLogPoint(At(minutes / 60, minutes % 60, 0)), point);
    ASSERT_EQ(TempLogPoint(At(minutes / 60, minutes % 60 + 4, 59, 999)), point);
  }
  EXPECT_EQ(TempLogPoint(std::nan("")), -1);
}

TEST(TempLogTest, FileNamesFollowTheRegionalDayNames) {
  const TDateTime friday = At(9, 0, 0);
  EXPECT_EQ(TempLogFileName(EnglishSettings(), TempLog::kDated, friday, ".csv"),
            "APCUPSTempLog_20250314.csv");
  EXPECT_EQ(TempLogFileName(EnglishSettings(), TempLog::kWeekday, friday, ".html"),
            "APCUPSTempLog_Fri.html");
  EXPECT_EQ(TempLogFileName(GermanSettings(), TempLog::kWeekday, friday, ".csv"),
            "APCUPSTempLog_Fr.csv");
  EXPECT_EQ(TempLogFileName(EnglishSettings(), TempLog::kToday, friday, ".csv"),
            "APCUPSTempLog_Today.csv");
  EXPECT_EQ(TempLogFileName(EnglishSettings(), TempLog::kAnnual, friday, ".csv"),
            "APCUPSTempLog_2025.csv");
}

TEST(TempLogTest, RowValueIsEverythingAfterTheSecondComma) {
  struct Case {
    const char* row;
    bool ok;
    const char* label;
    const char* value;
  } cases[] = {
      {"157,13:10,27", true, "13:10", "27"},
      {"157,13:10,27,5", true, "13:10", "27,5"},
      {"45,14/2,26.9", true, "14/2", "26.9"},
      {"\"#\",\"TIME\",\"TEMP\"", true, "\"TIME\"", "\"TEMP\""},
      {"157,13:10,", true, "13:10", ""},
      {"157,13:10", false, "", ""},
      {"", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string label, value;
    EXPECT_EQ(SplitRow(c.row, &label, &value), c.ok) << c.row;
    if (c.ok) {
      EXPECT_EQ(label, c.label);
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST(TempLogTest, LinesEndAtCrLfLfOrCr) {
  std::vector<std::string> lines;
  ForEachLine("a\r\nb\nc\rd\r\n\r\ne", [&](const std::string& l) { lines.push_back(l); });
  EXPECT_THAT(lines, ElementsAre("a", "b", "c", "d", "", "e"));
  lines.clear();
  ForEachLine("", [&](const std::string& l) { lines.push_back(l); });
  EXPECT_TRUE(lines.empty());
}

TEST(ReadNumberTest, RegionalFormOnly) {
  FakeEnv env;
  struct Case {
    bool german;
    const char* text;
    bool ok;
    double value;
  } cases[] = {
      {false, "27", true, 27},    {false, " 27.5 ", true, 27.5}, {false, "-0", true, 0},
      {false, "2.7e1", true, 27}, {false, "27,5", false, 0},     {false, "\"TEMP\"", false, 0},
      {false, "", false, 0},      {false, ".", false, 0},        {false, "1,234.5", false, 0},
      {false, "1e999", false, 0}, {false, "27\r", false, 0},     {true, "27,5", true, 27.5},
      {true, "27.5", false, 0},
  };
  for (const Case& c : cases) {
    env.regional.mutable_settings() = c.german ? GermanSettings() : EnglishSettings();
    double value = -1;
    EXPECT_EQ(TryStrToFloat(env.ctx, c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
      EXPECT_FALSE(std::signbit(value)) << c.text;
    }
    EXPECT_EQ(SafeStrToFloat(env.ctx, c.text), c.ok ? c.value : 0) << c.text;
  }
}

}  // namespace
}  // namespace tw
