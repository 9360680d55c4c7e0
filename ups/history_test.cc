#include "ups/history.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/test_settings.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"
#include "ups/chart.h"

namespace tw {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kDir[] = "/opt/tempwarden/";
constexpr char kHeader[] = "\"#\",\"TIME\",\"TEMP\"\r\n";

class HistoryTest : public ::testing::Test {
 protected:
  HistoryTest() { env_.regional.mutable_settings() = EnglishSettings(); }

  std::string File(const std::string& name) const { return env_.files.Get(kDir + name); }
  bool Has(const std::string& name) const { return env_.files.Has(kDir + name); }

  // One sample of the running service at the given local time.
  int32_t SampleAt(int y, int m, int d, int h, int n, int s, double temp) {
    env_.clock.Set(EncodeDateTimeOrThrow(y, m, d, h, n, s, 0));
    return RecordTemperature(env_.ctx, temp, chart_, nullptr);
  }

  // Names of the exception reports written so far.
  std::vector<std::string> Reports() const {
    std::vector<std::string> names;
    for (const auto& f : env_.files.files()) {
      if (f.first.find("/E!RAZIVED-") != std::string::npos) names.push_back(f.first);
    }
    return names;
  }

  FakeEnv env_;
  tGoogleChart chart_{"", "", "", 1.0, 45000.5, 300};
};

TEST_F(HistoryTest, MidnightAndNewYearRollOver) {
  // The Tuesday file still holds the rows of the Tuesday a week earlier.
  const std::string last_tuesday = std::string(kHeader) + "0,00:00,20\r\n";
  env_.files.Put(std::string(kDir) + "APCUPSTempLog_Tue.csv", last_tuesday);

  // Started at 23:45 on 31 December 2024 (a Tuesday): the first sample of the date starts the
  // daily file with its header and the Tuesday file afresh.
  EXPECT_EQ(SampleAt(2024, 12, 31, 23, 45, 10, 27), 285);
  EXPECT_EQ(SampleAt(2024, 12, 31, 23, 50, 10, 27.5), 286);
  EXPECT_EQ(SampleAt(2024, 12, 31, 23, 55, 10, 28), 287);
  EXPECT_FALSE(Has("APCUPSTempLog_2024.csv"));
  EXPECT_EQ(SampleAt(2025, 1, 1, 0, 0, 10, 26), 0);
  EXPECT_EQ(SampleAt(2025, 1, 1, 0, 5, 10, 25), 1);

  const std::string old_rows = "285,23:45,27\r\n286,23:50,27.5\r\n287,23:55,28\r\n";
  const std::string old_day = kHeader + old_rows;
  EXPECT_EQ(File("APCUPSTempLog_20241231.csv"), old_day);
  EXPECT_EQ(File("APCUPSTempLog_Tue.csv"), old_day);
  const std::string new_day = std::string(kHeader) + "0,00:00,26\r\n1,00:05,25\r\n";
  EXPECT_EQ(File("APCUPSTempLog_20250101.csv"), new_day);
  EXPECT_EQ(File("APCUPSTempLog_Wed.csv"), new_day);
  EXPECT_EQ(File("APCUPSTempLog_Today.csv"), old_rows + "0,00:00,26\r\n1,00:05,25\r\n");
  // The last day of 2024 opens the annual file of 2025, as day 366 of a leap year.
  EXPECT_EQ(File("APCUPSTempLog_2025.csv"),
            "\"#\",\"DATE\",\"AVG TEMP\"\r\n"
            "366,31/12,27.5\r\n");
  EXPECT_FALSE(Has("APCUPSTempLog_2024.csv"));
  const std::string t = "01/01/2025 00:00:10 Function=APC.AppendToAnnualFile";
  EXPECT_EQ(File("AppendToAnnualFile.TXT"),
            t + " Version=1.0.0.1 LogRec.Trace=100 sDailyFile=APCUPSTempLog_20241231.csv\r\n" + t +
                " Trace=300 sYear=2024\r\n" + t +
                " Trace=400 sDailyFile=APCUPSTempLog_20241231.csv\r\n" + t +
                " Trace=600 rInput=82.5\r\n" + t + " Trace=600 Year=2024\r\n" + t +
                " Trace=900 IntToStr(DateUtils.DayOfTheYear(Date))=366"
                " Outputfile=APCUPSTempLog_2025.csv\r\n");
  EXPECT_EQ(File("UPS-Temp.txt"), "25");
  for (const char* page :
       {"APCUPSTempLog_2025.html", "APCUPSTempLog_20250101.html", "APCUPSTempLog_Today.html",
        "APCUPSTempLog_Wed.html", "APCUPSTempLog_20241231.html", "APCUPSTempLog_Tue.html"}) {
    EXPECT_THAT(File(page), HasSubstr("</html>\r\n")) << page;
  }
  EXPECT_THAT(File("APCUPSTempLog_2025.html"), HasSubstr("          ['31/12',27.5],\r\n"));
  EXPECT_THAT(Reports(), IsEmpty());
}

TEST_F(HistoryTest, RestartInTheFirstFiveMinutesKeepsTheDayStarted) {
  SampleAt(2024, 12, 31, 23, 55, 10, 28);
  SampleAt(2025, 1, 1, 0, 0, 10, 26);
  // The service restarts: its first sample falls into point 0 again.
  EXPECT_EQ(SampleAt(2025, 1, 1, 0, 3, 0, 24), 0);
  EXPECT_EQ(SampleAt(2025, 1, 1, 0, 8, 0, 25), 1);

  // No second annual row, and the 00:00 row stays.
  const std::string new_day = std::string(kHeader) + "0,00:00,26\r\n0,00:05,24\r\n1,00:10,25\r\n";
  EXPECT_EQ(File("APCUPSTempLog_20250101.csv"), new_day);
  EXPECT_EQ(File("APCUPSTempLog_Wed.csv"), new_day);
  EXPECT_EQ(File("APCUPSTempLog_2025.csv"),
            "\"#\",\"DATE\",\"AVG TEMP\"\r\n"
            "366,31/12,28.0\r\n");
  EXPECT_EQ(File("APCUPSTempLog_Today.csv"),
            "287,23:55,28\r\n0,00:00,26\r\n0,00:05,24\r\n1,00:10,25\r\n");
}

TEST_F(HistoryTest, FirstSampleOfADateRollsTheDayOverAtAnyPoint) {
  SampleAt(2025, 1, 1, 0, 0, 10, 26);
  SampleAt(2025, 1, 1, 23, 55, 0, 23);
  // A long temperature period: the next sample of the service falls into point 2.
  EXPECT_EQ(SampleAt(2025, 1, 2, 0, 10, 0, 22), 2);

  EXPECT_EQ(File("APCUPSTempLog_2025.csv"), "\"#\",\"DATE\",\"AVG TEMP\"\r\n1,1/1,24.5\r\n");
  EXPECT_EQ(File("APCUPSTempLog_20250102.csv"), std::string(kHeader) + "2,00:10,22\r\n");
  EXPECT_EQ(File("APCUPSTempLog_Thu.csv"), std::string(kHeader) + "2,00:10,22\r\n");
  // The Today page is drawn from the dated file, not from the Today file.
  const std::string today_page = File("APCUPSTempLog_Today.html");
  EXPECT_THAT(today_page, HasSubstr("          ['00:10',22],\r\n"));
  EXPECT_THAT(today_page, Not(HasSubstr("['23:55',23]")));
  EXPECT_EQ(File("APCUPSTempLog_Today.html"), File("APCUPSTempLog_20250102.html"));
}

TEST_F(HistoryTest, FailedWriteDoesNotStopTheOtherWrites) {
  env_.files.read_only.insert(std::string(kDir) + "APCUPSTempLog_Today.csv");
  env_.files.read_only.insert(std::string(kDir) + "UPS-Temp.txt");
  EXPECT_EQ(SampleAt(2025, 3, 14, 13, 7, 40, 27), 157);
  EXPECT_EQ(File("APCUPSTempLog_20250314.csv"), std::string(kHeader) + "157,13:10,27\r\n");
  EXPECT_EQ(File("APCUPSTempLog_Fri.csv"), std::string(kHeader) + "157,13:10,27\r\n");
  EXPECT_FALSE(Has("APCUPSTempLog_Today.csv"));
  EXPECT_TRUE(Has("APCUPSTempLog_Today.html"));
  EXPECT_THAT(Reports(), IsEmpty());
}

TEST_F(HistoryTest, CommaDecimalRowsAndAverage) {
  env_.regional.mutable_settings() = GermanSettings();
  SampleAt(2025, 2, 13, 13, 7, 40, 27.5);
  EXPECT_EQ(File("UPS-Temp.txt"), "27,5");
  SampleAt(2025, 2, 13, 13, 12, 40, 26);
  EXPECT_EQ(File("APCUPSTempLog_20250213.csv"),
            std::string(kHeader) + "157,13:10,27,5\r\n158,13:15,26\r\n");
  SampleAt(2025, 2, 14, 0, 1, 0, 25);
  // 27.5 and 26 average to 26.75, written with the regional mark.
  EXPECT_EQ(File("APCUPSTempLog_2025.csv"), "\"#\",\"DATE\",\"AVG TEMP\"\r\n44,13/2,26,8\r\n");
}

struct AverageCase {
  const char* name;
  std::string daily;  // content of the daily file of 13 February 2025
  const char* row;    // annual row expected, "" for none
};

void PrintTo(const AverageCase& c, std::ostream* os) { *os << c.name; }

class AnnualAverageTest : public HistoryTest, public ::testing::WithParamInterface<AverageCase> {};

std::string FullDay(const char* temp) {
  std::string text = kHeader;
  for (int p = 0; p < 288; ++p) text += std::to_string(p) + ",00:00," + temp + "\r\n";
  return text;
}

TEST_P(AnnualAverageTest, CountsOnlyNumericValues) {
  env_.files.Put(std::string(kDir) + "APCUPSTempLog_20250213.csv", GetParam().daily);
  env_.clock.Set(EncodeDateTimeOrThrow(2025, 2, 14, 0, 0, 5, 0));
  AppendToAnnualFile(env_.ctx, env_.clock.Now() - 1);
  EXPECT_EQ(File("APCUPSTempLog_2025.csv"),
            std::string("\"#\",\"DATE\",\"AVG TEMP\"\r\n") + GetParam().row);
  EXPECT_THAT(Reports(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AnnualAverageTest,
    ::testing::Values(
        AverageCase{"FullDayNotDilutedByHeader", FullDay("27"), "44,13/2,27.0\r\n"},
        AverageCase{"InputLinesSkipped", std::string(kHeader) + "\"INPUT\",1,230\r\n0,00:00,20\r\n",
                    "44,13/2,20.0\r\n"},
        AverageCase{"GarbageAndBlankLinesSkipped",
                    "0,00:00,20\r\n\r\nnonsense\r\n1,00:05,\r\n2,00:10,21\n3,00:15,x\r\n",
                    "44,13/2,20.5\r\n"},
        AverageCase{"RoundsToOneDecimal", "0,00:00,20\r\n1,00:05,20.25\r\n2,00:10,20.25\r\n",
                    "44,13/2,20.2\r\n"}),
    [](const ::testing::TestParamInfo<AverageCase>& info) { return info.param.name; });

TEST_F(HistoryTest, MissingDailyFileLeavesOnlyTheDiagnostics) {
  env_.clock.Set(EncodeDateTimeOrThrow(2025, 2, 14, 0, 0, 5, 0));
  AppendToAnnualFile(env_.ctx, env_.clock.Now() - 1);
  const std::string t = "14/02/2025 00:00:05 Function=APC.AppendToAnnualFile";
  EXPECT_EQ(File("AppendToAnnualFile.TXT"),
            t + " Version=1.0.0.1 LogRec.Trace=100 sDailyFile=APCUPSTempLog_20250213.csv\r\n" + t +
                " Trace=100 APCUPSTempLog_20250213.csv doesnt exist.\r\n");
  EXPECT_FALSE(Has("APCUPSTempLog_2025.csv"));
  EXPECT_THAT(Reports(), IsEmpty());
}

TEST_F(HistoryTest, DailyFileWithoutSamplesIsReportedWithoutRow) {
  env_.files.Put(std::string(kDir) + "APCUPSTempLog_20250213.csv", kHeader);
  env_.clock.Set(EncodeDateTimeOrThrow(2025, 2, 14, 0, 0, 5, 0));
  AppendToAnnualFile(env_.ctx, env_.clock.Now() - 1);
  EXPECT_EQ(File("APCUPSTempLog_2025.csv"), "\"#\",\"DATE\",\"AVG TEMP\"\r\n");
  ASSERT_EQ(Reports().size(), 1u);
  const std::string report = env_.files.Get(Reports()[0]);
  EXPECT_THAT(report, HasSubstr("APC.AppendToAnnualFile"));
  EXPECT_THAT(report, HasSubstr("EInvalidOp"));
  EXPECT_THAT(File("AppendToAnnualFile.TXT"), HasSubstr(" Trace=600 rInput=0\r\n"));
}

TEST_F(HistoryTest, SumBeyondTheDoubleRangeIsReportedWithoutRow) {
  env_.files.Put(std::string(kDir) + "APCUPSTempLog_20250213.csv",
                 "0,00:00,1e308\r\n1,00:05,1e308\r\n");
  env_.clock.Set(EncodeDateTimeOrThrow(2025, 2, 14, 0, 0, 5, 0));
  AppendToAnnualFile(env_.ctx, env_.clock.Now() - 1);
  EXPECT_EQ(File("APCUPSTempLog_2025.csv"), "\"#\",\"DATE\",\"AVG TEMP\"\r\n");
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_THAT(env_.files.Get(Reports()[0]), HasSubstr("EOverflow"));
}

TEST_F(HistoryTest, UnreadableDailyFileIsReportedAndTheRollOverGoesOn) {
  env_.files.AddDirectory(std::string(kDir) + "APCUPSTempLog_20250213.csv");
  EXPECT_EQ(SampleAt(2025, 2, 14, 0, 0, 5, 25), 0);
  EXPECT_FALSE(Has("APCUPSTempLog_2025.csv"));
  ASSERT_EQ(Reports().size(), 1u);
  const std::string report = env_.files.Get(Reports()[0]);
  EXPECT_THAT(report, HasSubstr("APC.AppendToAnnualFile"));
  EXPECT_THAT(report, HasSubstr("EInOutError"));
  EXPECT_EQ(File("APCUPSTempLog_20250214.csv"), std::string(kHeader) + "0,00:00,25\r\n");
  EXPECT_EQ(File("APCUPSTempLog_Fri.csv"), std::string(kHeader) + "0,00:00,25\r\n");
}

// A spreadsheet holds the weekday file for an hour: the samples of that hour are kept and
// arrive with the first one after, while the other files go on as usual.
TEST_F(HistoryTest, SamplesOfAHeldFileArriveWhenItIsFree) {
  const std::string weekday = std::string(kDir) + "APCUPSTempLog_Fri.csv";
  // The day's first sample starts the weekday file with its header.
  std::string expected = kHeader;
  for (int n = 0; n < 14; ++n) {  // 13:00 to 14:05
    const bool held = n >= 1 && n <= 12;
    if (held) {
      env_.files.read_only.insert(weekday);
    } else {
      env_.files.read_only.erase(weekday);
    }
    env_.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 13 + n / 12, (n % 12) * 5, 10, 0));
    RecordTemperature(env_.ctx, 20 + n, chart_, nullptr);
    const int32_t point = 156 + n;
    expected += std::to_string(point) + "," +
                FormatDateTime("hh:nn", env_.clock.Now(), env_.ctx.fmt()) + "," +
                std::to_string(20 + n) + "\r\n";
    if (held) {
      EXPECT_EQ(File("APCUPSTempLog_Fri.csv"), std::string(kHeader) + "156,13:00,20\r\n") << n;
    }
  }
  EXPECT_EQ(File("APCUPSTempLog_Fri.csv"), expected);
  EXPECT_EQ(File("APCUPSTempLog_20250314.csv"), expected);
  EXPECT_THAT(File("APC-20250314.CSV"), HasSubstr("[File=APCUPSTempLog_Fri.csv][Kept=1]"));
  EXPECT_THAT(Reports(), IsEmpty());
}

// The day pages are drawn from what the dated file holds after the sample, kept rows that
// arrived with it included, and from a fresh reading where the file was held or the day began;
// the same whether the sample reads the file itself or takes it from the check for the point.
TEST_F(HistoryTest, DayPagesShowWhatTheDatedFileHolds) {
  const std::string dated = "APCUPSTempLog_20250314.csv";
  for (int n = 0; n < 6; ++n) {  // the dated file held at the second and third sample
    if (n == 1) env_.files.read_only.insert(kDir + dated);
    if (n == 3) env_.files.read_only.erase(kDir + dated);
    env_.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 13, n * 5, 10, 0));
    // Half the samples take up the file as the check for the point read it.
    tKnownDayFile read;
    ASSERT_FALSE(PointRecorded(env_.ctx, env_.clock.Now(), &read));
    RecordTemperature(env_.ctx, 20 + n, chart_, nullptr, n % 2 == 1 ? &read : nullptr);
    tGoogleChart chart = chart_;
    SetDayChart(env_.ctx, chart);
    const std::string expected = GoogleChartTemp(env_.ctx, dated, chart);
    EXPECT_THAT(expected, HasSubstr("['13:00',20]")) << n;
    EXPECT_EQ(File("APCUPSTempLog_Today.html"), expected) << n;
    EXPECT_EQ(File("APCUPSTempLog_20250314.html"), expected) << n;
  }
  EXPECT_THAT(File("APCUPSTempLog_Today.html"), HasSubstr("['13:05',21],\r\n"));
  std::string expected = kHeader;
  for (int n = 0; n < 6; ++n)
    expected += std::to_string(156 + n) + ",13:" + (n < 2 ? "0" : "") + std::to_string(n * 5) +
                "," + std::to_string(20 + n) + "\r\n";
  EXPECT_EQ(File("APCUPSTempLog_20250314.csv"), expected);
}

}  // namespace
}  // namespace tw
