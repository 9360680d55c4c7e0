#include "soak/checks.h"

#include <gtest/gtest.h>

#include "platform/fake_env.h"

namespace tw {
namespace {

constexpr char kHeader[] = "\"#\",\"TIME\",\"TEMP\"\r\n";
constexpr char kAnnualHeader[] = "\"#\",\"DATE\",\"AVG TEMP\"\r\n";

int64_t Day(int y, int m, int d) { return DaysFromCivil(y, m, d); }

class ChecksTest : public ::testing::Test {
 protected:
  void Daily(const std::string& stamp, const std::string& body) {
    files_.Put("/APCUPSTempLog_" + stamp + ".csv", body);
  }
  MemFileSystem files_;
};

TEST_F(ChecksTest, DayFilesNeedTheirHeaderAndNoPointTwice) {
  struct Case {
    const char* body;
    bool passed;
    const char* detail_part;
  } cases[] = {
      {"\"#\",\"TIME\",\"TEMP\"\r\n0,00:00,25\r\n1,00:05,26\r\n", true, "1 daily files, 2 rows"},
      {"0,00:00,25\r\n1,00:05,26\r\n", false, "1 files without the day header: 2028-03-01"},
      {"\"#\",\"TIME\",\"TEMP\"\r\n0,00:00,25\r\n0,00:05,26\r\n", false,
       "1 duplicate points: 2028-03-01 point 0"},
      {"\"#\",\"TIME\",\"TEMP\"\r\n0,00:00,25\r\n\"#\",\"TIME\",\"TEMP\"\r\n", false,
       "files with lines that are no rows"},
  };
  for (const Case& c : cases) {
    MemFileSystem files;
    files.Put("/APCUPSTempLog_20280301.csv", c.body);
    const CheckResult r = CheckDayFiles(files, ReadDailyFiles(files));
    EXPECT_EQ(r.passed, c.passed) << c.body;
    EXPECT_NE(r.detail.find(c.detail_part), std::string::npos) << r.detail;
  }
}

TEST_F(ChecksTest, WeekdayFilesAreCheckedToo) {
  Daily("20280301", std::string(kHeader) + "0,00:00,25\r\n");
  files_.Put("/APCUPSTempLog_Wed.csv",
             std::string(kHeader) + "0,00:00,25\r\n5,00:25,25\r\n5,00:25,25\r\n");
  const CheckResult r = CheckDayFiles(files_, ReadDailyFiles(files_));
  EXPECT_FALSE(r.passed);
  EXPECT_NE(r.detail.find("Wed point 5"), std::string::npos) << r.detail;
}

TEST_F(ChecksTest, LostSamplesAreNamedByDateAndTime) {
  Daily("20280301", std::string(kHeader) + "0,00:00,25\r\n2,00:10,25\r\n");
  const DailyFiles daily = ReadDailyFiles(files_);
  const int64_t base = Day(2028, 3, 1) * 288;
  EXPECT_TRUE(CheckNoLostSamples(daily, {base, base + 2}).passed);
  const CheckResult r = CheckNoLostSamples(daily, {base, base + 1, base + 2, base + 288});
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.detail, "2 of 4 points not recorded: 2028-03-01 00:05; 2028-03-02 00:00");
}

TEST_F(ChecksTest, ZeroReadingsAreFailedQueries) {
  Daily("20280301", std::string(kHeader) + "0,00:00,25\r\n1,00:05,0\r\n");
  const CheckResult r = CheckNoZeroReadings(ReadDailyFiles(files_));
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(r.detail, "1 rows at 0 degrees: 2028-03-01 00:05");
}

TEST_F(ChecksTest, AnnualRowsOncePerDayWithTheMeanRoundedOnce) {
  // 26.04996 would be written 26.0 when rounded once, 26.1 when rounded twice.
  Daily("20281230", std::string(kHeader) + "0,00:00,26\r\n1,00:05,26.09992\r\n");
  Daily("20281231", std::string(kHeader) + "0,00:00,27\r\n");
  Daily("20290101", std::string(kHeader) + "0,00:00,27\r\n");  // the last day: no row yet
  struct Case {
    const char* y2028;
    const char* y2029;
    bool passed;
    const char* detail_part;
  } cases[] = {
      {"365,30/12,26.0\r\n", "366,31/12,27.0\r\n", true, "2 days"},
      {"365,30/12,26.1\r\n", "366,31/12,27.0\r\n", false,
       "1 wrong averages: 2028-12-30 written 26.1"},
      {"365,30/12,26.0\r\n", "", false, "1 days without an annual row: 2028-12-31"},
      {"365,30/12,26.0\r\n365,30/12,26.0\r\n", "366,31/12,27.0\r\n", false,
       "1 days with more than one annual row: 2028-12-30 x2"},
      {"365,30/12,26.0\r\n", "366,31/12,27.0\r\n2,2/1,27.0\r\n", false,
       "annual rows for days without samples: 2029-01-02"},
  };
  for (const Case& c : cases) {
    files_.Put("/APCUPSTempLog_2028.csv", std::string(kAnnualHeader) + c.y2028);
    files_.Put("/APCUPSTempLog_2029.csv", std::string(kAnnualHeader) + c.y2029);
    const CheckResult r = CheckAnnualRows(files_, ReadDailyFiles(files_));
    EXPECT_EQ(r.passed, c.passed) << c.y2028 << c.y2029;
    EXPECT_NE(r.detail.find(c.detail_part), std::string::npos) << r.detail;
  }
}

TEST_F(ChecksTest, ActivityLogsWithinTheirWindow) {
  Daily("20280301", std::string(kHeader) + "0,00:00,25\r\n");
  Daily("20280302", std::string(kHeader) + "0,00:00,25\r\n");
  files_.Put("/APC-20280302.CSV", "x\r\n");
  const DailyFiles daily = ReadDailyFiles(files_);
  CheckResult r = CheckActivityLogs(files_, daily, Day(2028, 3, 2), 1);
  EXPECT_TRUE(r.passed) << r.detail;
  files_.Put("/APC-20280301.CSV", "x\r\n");  // a day too old for a window of one day
  files_.Put("/APC-notes.CSV", "x\r\n");
  r = CheckActivityLogs(files_, daily, Day(2028, 3, 2), 1);
  EXPECT_FALSE(r.passed);
  EXPECT_NE(r.detail.find("2 logs outside the window"), std::string::npos) << r.detail;
  r = CheckActivityLogs(files_, daily, Day(2028, 3, 3), 366);
  EXPECT_FALSE(r.passed);  // the undated one
  files_.RemoveFile("/APC-notes.CSV");
  files_.RemoveFile("/APC-20280301.CSV");
  r = CheckActivityLogs(files_, daily, Day(2028, 3, 2), 366);
  EXPECT_EQ(r.detail, "1 days with samples but no log: 2028-03-01");
}

std::string Report(const std::string& function, const std::string& message) {
  return "<xml>\r\n<Exception>\r\n<Function>" + function + ":100</Function>\r\n<e.Message>" +
         message + "</e.Message>\r\n</Exception>\r\n</xml>\r\n";
}

TEST_F(ChecksTest, ExceptionReportsOfOneKindAtMostHourly) {
  files_.Put("/E!RAZIVED-20280301100000000.XML", Report("SNMPSend", "Host not found"));
  files_.Put("/E!RAZIVED-20280301105959000.XML", Report("SNMPSend", "Host not found"));
  files_.Put("/E!RAZIVED-20280301103000000.XML", Report("SNMPSend", "Timed out"));
  files_.Put("/E!RAZIVED-20280301120000000.XML", Report("SNMPSend", "Host not found"));
  const int64_t last = Day(2028, 3, 1);
  CheckResult r = CheckExceptionReports(files_, last, 366, {});
  EXPECT_FALSE(r.passed);
  EXPECT_NE(r.detail.find("1 reports within the hour of the same one: E!RAZIVED-20280301105959000"),
            std::string::npos)
      << r.detail;
  // A service start in between: the new process may report it once more.
  const int64_t restart = last * 86400000 + 10 * 3600000 + 30 * 60000;
  EXPECT_TRUE(CheckExceptionReports(files_, last, 366, {restart}).passed);
  r = CheckExceptionReports(files_, Day(2029, 3, 5), 366, {restart});
  EXPECT_NE(r.detail.find("4 reports outside the window"), std::string::npos) << r.detail;
}

}  // namespace
}  // namespace tw
