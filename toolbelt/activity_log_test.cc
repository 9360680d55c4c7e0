#include "toolbelt/activity_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>

#include "tests/temp_dir.h"
#include "tests/unprivileged.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr char kDir[] = "/opt/tempwarden/";

std::string Path(const std::string& name) { return kDir + name; }

tLogRec Entry(int32_t code, const std::string& msg) {
  tLogRec rec;
  rec.Code = code;
  rec.Msg = msg;
  return rec;
}

// The lines of a log file without their CR LF; fails the test on a bare LF.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  while (from < text.size()) {
    const size_t end = text.find("\r\n", from);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated line: " << text.substr(from);
      break;
    }
    lines.push_back(text.substr(from, end - from));
    from = end + 2;
  }
  return lines;
}

// The code field (the fourth) of every line.
std::vector<std::string> Codes(const std::string& text) {
  std::vector<std::string> codes;
  for (const std::string& line : Lines(text)) {
    static const std::regex kFields(R"(^[^,]*,"[^"]*","[^"]*",([^,]*),".*"$)");
    std::smatch m;
    if (std::regex_match(line, m, kFields)) codes.push_back(m[1]);
  }
  return codes;
}

class ActivityLogTest : public ::testing::Test {
 protected:
  ActivityLogTest() { SetNow(EncodeDateTimeOrThrow(2025, 3, 14, 14, 3, 7, 123)); }

  // Moves the clock without a day change being pending.
  void SetNow(TDateTime now) {
    env_.clock.Set(now);
    ctx_.settings.Log.LastDay = static_cast<int64_t>(now);
  }

  std::string Log(const char* date = "20250314") const {
    return env_.files.Get(Path(std::string("APC-") + date + ".CSV"));
  }

  size_t ReportCount() const {
    size_t n = 0;
    for (const auto& f : env_.files.files()) n += f.first.find("/E!") != std::string::npos;
    return n;
  }

  FakeEnv env_;
  Context& ctx_ = env_.ctx;
};

TEST_F(ActivityLogTest, FiveFieldLine) {
  std::string name;
  LogEntry(ctx_, Entry(50100, "[Function=TVOZIvazure.ServiceStart]"), name);
  EXPECT_EQ(name, "APC-20250314.CSV");
  EXPECT_EQ(Log(),
            "14:03:07.123,\"[14:03:07.123]\",\"RAZ-IVED  \",50100,"
            "\"[Function=TVOZIvazure.ServiceStart]\"\r\n");
  // Appended, never replaced.
  LogEntry(ctx_, Entry(50200, "second"), name);
  EXPECT_EQ(Lines(Log()).size(), 2u);
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(ActivityLogTest, TagCodeAndMessageFields) {
  struct Case {
    const char* tag;
    int32_t code;
    const char* msg;
    const char* fields_3_to_5;
  } cases[] = {
      {"RAZ-IVED", 5003, "plain", "\"RAZ-IVED  \",05003,\"plain\""},
      {"TWELVE-CHARS", 50100, "x", "\"TWELVE-CHA\",50100,\"x\""},
      {"", 40000, "x", "\"          \",40000,\"x\""},
      {"RAZ-IVED", -5, "x", "\"RAZ-IVED  \",-00005,\"x\""},
      {"RAZ-IVED", 123456, "x", "\"RAZ-IVED  \",123456,\"x\""},
      {"RAZ-IVED", 50200, "[Msg=\"quoted\" and \"\"]",
       "\"RAZ-IVED  \",50200,\"[Msg='quoted' and '']\""},
      {"RAZ-IVED", 50200, "two\r\nlines", "\"RAZ-IVED  \",50200,\"two\r\nlines\""},
  };
  for (const auto& c : cases) {
    FakeEnv env;
    env.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 9, 8, 7, 6));
    env.ctx.settings.Log.LastDay = static_cast<int64_t>(env.clock.Now());
    env.ctx.settings.Log.Tag = c.tag;
    std::string name;
    LogEntry(env.ctx, Entry(c.code, c.msg), name);
    EXPECT_EQ(env.files.Get(Path("APC-20250314.CSV")),
              std::string("09:08:07.006,\"[09:08:07.006]\",") + c.fields_3_to_5 + "\r\n")
        << c.msg;
  }
}

TEST_F(ActivityLogTest, LevelFilter) {
  struct Case {
    int32_t debug_level;
    std::vector<int32_t> codes;
    std::vector<std::string> written;
  } cases[] = {
      {5, {30000, 40000, 50100, 50700, 66065, 69990, 70000}, {"30000", "40000", "50100", "50700"}},
      {7, {5003, 79999, 80000, 99999}, {"05003", "79999"}},
      {0, {5003, -5, 10000}, {"05003", "-00005"}},
      {-1, {5003, 0, 30000}, {}},
  };
  for (const auto& c : cases) {
    FakeEnv env;
    env.ctx.settings.Log.DebugLevel = c.debug_level;
    for (int32_t code : c.codes) {
      std::string name = "previous";
      LogEntry(env.ctx, Entry(code, "m"), name);
      // The name is handed out only with an entry that passes the filter.
      const bool passed = name != "previous";
      EXPECT_EQ(
          passed,
          name == "APC-" + FormatDateTime("yyyymmdd", env.clock.Now(), env.ctx.fmt()) + ".CSV");
    }
    const std::string file =
        "APC-" + FormatDateTime("yyyymmdd", env.clock.Now(), env.ctx.fmt()) + ".CSV";
    EXPECT_EQ(Codes(env.files.Get(Path(file))), c.written) << "DebugLevel " << c.debug_level;
  }
}

TEST_F(ActivityLogTest, FirstEntryAfterMidnightPurgesThenWritesNewDayLine) {
  SetNow(EncodeDateTimeOrThrow(2025, 3, 14, 23, 59, 59, 900));
  const std::vector<std::string> before = {
      "APC-20240314.CSV",  // 366 days before 15 March 2025: out of the window
      "APC-20240315.CSV",  // 365 days before: the oldest kept
      "APC-20250314.CSV",    "apc-notes.csv",  "APC-notes.CSV", "APC-20240101.CSV.bak",
      "Report-20200101.xls", "Report-old.XLS", "notes.txt"};
  for (const auto& name : before) env_.files.Put(Path(name), "old\r\n");

  std::string name;
  LogEntry(ctx_, Entry(50200, "before midnight"), name);
  EXPECT_EQ(env_.files.files().size(), before.size());  // same day: nothing purged

  env_.clock.Set(EncodeDateTimeOrThrow(2025, 3, 15, 0, 0, 0, 50));
  LogEntry(ctx_, Entry(50300, "after midnight"), name);
  EXPECT_EQ(name, "APC-20250315.CSV");
  EXPECT_EQ(ctx_.settings.Log.LastDay, static_cast<int64_t>(env_.clock.Now()));

  std::vector<std::string> left;
  for (const auto& f : env_.files.files()) left.push_back(f.first.substr(sizeof kDir - 1));
  // Dated logs outside the window go, whatever their case; undated names of the family and
  // report spreadsheets are not the service's files and stay.
  EXPECT_THAT(left, UnorderedElementsAre("APC-20240315.CSV", "APC-20250314.CSV", "APC-20250315.CSV",
                                         "apc-notes.csv", "APC-notes.CSV", "APC-20240101.CSV.bak",
                                         "Report-20200101.xls", "Report-old.XLS", "notes.txt"));
  EXPECT_THAT(Lines(Log("20250315")),
              ElementsAre("00:00:00.050,\"[00:00:00.050]\",\"RAZ-IVED  \",69990,"
                          "\"[Function=toolbelt.LogEntry][Note=New day][Version=1.0.0.1]"
                          "[MemoryLoad=42%][AvailPhysical=50%][TotalPhysical=8,589,934,592bytes]\"",
                          "00:00:00.050,\"[00:00:00.050]\",\"RAZ-IVED  \",50300,"
                          "\"after midnight\""));

  // Later entries of the same day neither purge nor repeat the New-day line.
  env_.files.Put(Path("APC-later.csv"), "x");
  env_.clock.Advance(3600 * 1000);
  LogEntry(ctx_, Entry(50400, "later"), name);
  EXPECT_TRUE(env_.files.Has(Path("APC-later.csv")));
  EXPECT_THAT(Codes(Log("20250315")), ElementsAre("69990", "50300", "50400"));
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(ActivityLogTest, FilteredEntryStillTurnsTheDay) {
  ctx_.settings.Log.DebugLevel = 5;
  env_.files.Put(Path("APC-20200101.csv"), "x");
  env_.clock.Advance(12 * 3600 * 1000);  // past midnight
  std::string name = "previous";
  LogEntry(ctx_, Entry(70000, "dropped"), name);
  EXPECT_EQ(name, "previous");
  EXPECT_FALSE(env_.files.Has(Path("APC-20200101.csv")));
  EXPECT_EQ(ctx_.settings.Log.LastDay, static_cast<int64_t>(env_.clock.Now()));
  // The New-day entry is level 6, above DebugLevel 5: no file at all.
  EXPECT_TRUE(env_.files.writes.empty());
}

TEST_F(ActivityLogTest, PurgeDaysZeroNeverTurnsTheDay) {
  ctx_.settings.Log.PurgeDays = 0;
  const int64_t last_day = ctx_.settings.Log.LastDay;
  env_.files.Put(Path("APC-notes.csv"), "x");
  env_.clock.Advance(2 * 86400 * 1000);
  std::string name;
  LogEntry(ctx_, Entry(50200, "m"), name);
  EXPECT_TRUE(env_.files.Has(Path("APC-notes.csv")));
  EXPECT_EQ(ctx_.settings.Log.LastDay, last_day);
  EXPECT_THAT(Codes(Log("20250316")), ElementsAre("50200"));
}

TEST_F(ActivityLogTest, PurgeWindow) {
  struct Case {
    int32_t days;
    int32_t count;
    std::vector<std::string> left;
  } cases[] = {
      {-1,
       0,
       {"APC-20250313.CSV", "APC-20250314.CSV", "APC-20251399.csv", "APC-x.csv", "Report-1.xls"}},
      {0, 2, {"APC-20251399.csv", "APC-x.csv", "Report-1.xls"}},
      {1, 1, {"APC-20250314.CSV", "APC-20251399.csv", "APC-x.csv", "Report-1.xls"}},
      {2,
       0,
       {"APC-20250313.CSV", "APC-20250314.CSV", "APC-20251399.csv", "APC-x.csv", "Report-1.xls"}},
  };
  for (const auto& c : cases) {
    FakeEnv env;
    env.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 10, 0, 0, 0));
    // "APC-20251399.csv" carries no date (month 13): like "APC-x.csv", never the log's.
    for (const char* name : {"APC-20250313.CSV", "APC-20250314.CSV", "APC-20251399.csv",
                             "APC-x.csv", "Report-1.xls"}) {
      env.files.Put(Path(name), "x");
    }
    tRC rc;
    rc.Count = 99;
    PurgeYYYYMMDDFiles(env.ctx, "APC-", "csv", c.days, rc);
    EXPECT_EQ(rc.Code, 0);
    EXPECT_EQ(rc.Msg, "");
    EXPECT_EQ(rc.Count, c.count) << "days " << c.days;
    std::vector<std::string> left;
    for (const auto& f : env.files.files()) left.push_back(f.first.substr(sizeof kDir - 1));
    EXPECT_EQ(left, c.left) << "days " << c.days;
  }
}

// A year's window over a year's logs: the first day outside it goes, every day inside stays.
TEST_F(ActivityLogTest, PurgeWindowOfAYearOverAYearOfLogs) {
  FakeEnv env;
  const TDateTime today = EncodeDateTimeOrThrow(2025, 3, 14, 10, 0, 0, 0);
  env.clock.Set(today);
  for (int i = 0; i <= 367; ++i) {
    env.files.Put(Path("APC-" + FormatDateTime("yyyymmdd", today - i, env.ctx.fmt()) + ".CSV"),
                  "x");
  }
  tRC rc;
  PurgeYYYYMMDDFiles(env.ctx, "APC-", "csv", 366, rc);
  EXPECT_EQ(rc.Count, 2);
  EXPECT_EQ(env.files.files().size(), 366u);
  EXPECT_EQ(env.files.files().begin()->first, Path("APC-20240314.CSV"));
  EXPECT_EQ(env.files.files().rbegin()->first, Path("APC-20250314.CSV"));
}

// A log that cannot be written tells the system log (the journal, the event log) once an
// hour, with how many entries were lost since it last told.
TEST_F(ActivityLogTest, UnwritableLogIsToldToTheSystemLogOnceAnHour) {
  struct Step {
    uint32_t after_ms;
    bool writable;
    int32_t code;
    const char* told;  // the new system-log message, or nullptr
  } steps[] = {
      {0, false, 50200,
       "VOZIvazure: The activity log \"/opt/tempwarden/APC-20250314.CSV\" cannot be written "
       "(read-only or full?); 1 entries lost since the last notice, the latest: "
       "14:03:07.123,\"[14:03:07.123]\",\"RAZ-IVED  \",50200,\"m\""},
      {30000, false, 50300, nullptr},
      {30000, true, 50400, nullptr},  // written: nothing to tell
      {kOneHourMs - 61000, false, 30000, nullptr},
      {61000, false, 50500,
       "VOZIvazure: The activity log \"/opt/tempwarden/APC-20250314.CSV\" cannot be written "
       "(read-only or full?); 3 entries lost since the last notice, the latest: "
       "15:04:07.123,\"[15:04:07.123]\",\"RAZ-IVED  \",50500,\"m\""},
      {1000, false, 70000, nullptr},  // filtered by the level: not lost
  };
  ctx_.settings.Log.DebugLevel = 6;
  size_t told = 0;
  for (const auto& step : steps) {
    env_.clock.Advance(step.after_ms);
    env_.files.fail_all_writes = !step.writable;
    std::string name;
    LogEntry(ctx_, Entry(step.code, "m"), name);
    if (step.told != nullptr) {
      ++told;
      ASSERT_EQ(env_.system_log.messages.size(), told) << step.code;
      EXPECT_EQ(env_.system_log.messages.back(), step.told);
    }
    EXPECT_EQ(env_.system_log.messages.size(), told) << step.code;
  }
  EXPECT_THAT(Codes(Log()), ElementsAre("50400"));
  EXPECT_EQ(ReportCount(), 0u);
}

TEST_F(ActivityLogTest, BusyLockTimesOutAfterThreeSeconds) {
  ctx_.settings.Log.Busy = true;
  std::string name;
  LogEntry(ctx_, Entry(50200, "lost"), name);
  EXPECT_EQ(env_.clock.slept_ms(), 3000u);  // 30 naps of 100 ms on the injected clock
  EXPECT_TRUE(env_.files.writes.empty());
  EXPECT_EQ(ReportCount(), 0u);
  EXPECT_TRUE(ctx_.settings.Log.Busy);  // not this entry's lock to clear
}

// A clock on which the other writer lets go of the lock after a number of naps.
class ReleasingClock : public FakeClock {
 public:
  ReleasingClock(TDateTime now, bool* busy, int naps) : FakeClock(now), busy_(busy), naps_(naps) {}
  void Sleep(uint32_t milliseconds) override {
    FakeClock::Sleep(milliseconds);
    if (--naps_ == 0) *busy_ = false;
  }

 private:
  bool* busy_;
  int naps_;
};

TEST_F(ActivityLogTest, BusyLockReleasedWithinTheWait) {
  ReleasingClock clock(env_.clock.Now(), &ctx_.settings.Log.Busy, 5);
  ctx_.env.clock = &clock;
  ctx_.settings.Log.Busy = true;
  std::string name;
  LogEntry(ctx_, Entry(50200, "late"), name);
  EXPECT_EQ(clock.slept_ms(), 500u);
  // Field 1 is the time of the call, field 2 the time of writing.
  EXPECT_EQ(Log(), "14:03:07.123,\"[14:03:07.623]\",\"RAZ-IVED  \",50200,\"late\"\r\n");
  EXPECT_FALSE(ctx_.settings.Log.Busy);
}

TEST_F(ActivityLogTest, EmptyPrefixUsesTheExecutablePath) {
  ctx_.settings.Log.FilePrefix.clear();
  std::string name;
  LogEntry(ctx_, Entry(50200, "m"), name);
  EXPECT_EQ(name, "/opt/tempwarden/tempwarden-20250314.CSV");
  EXPECT_EQ(ctx_.settings.Log.FilePrefix, "/opt/tempwarden/tempwarden");
  EXPECT_THAT(Codes(env_.files.Get(name)), ElementsAre("50200"));
}

TEST_F(ActivityLogTest, UnwritableFileLosesTheEntrySilently) {
  env_.files.fail_all_writes = true;
  std::string name;
  LogEntry(ctx_, Entry(50200, "m"), name);
  EXPECT_EQ(name, "APC-20250314.CSV");
  EXPECT_FALSE(ctx_.settings.Log.Busy);
  EXPECT_TRUE(env_.network.sent.empty());  // no report announced
}

// A clock whose first answer is no date-time at all.
class NanOnceClock : public FakeClock {
 public:
  using FakeClock::FakeClock;
  double Now() override {
    if (first_) {
      first_ = false;
      return std::numeric_limits<double>::quiet_NaN();
    }
    return FakeClock::Now();
  }

 private:
  bool first_ = true;
};

TEST_F(ActivityLogTest, FailureIsReportedWithItsStage) {
  struct Case {
    int32_t purge_days;
    const char* function_line;
  } cases[] = {
      {366, "<Function>toolbelt.LogEntry:100</Function>"},  // the day change fails
      {0, "<Function>toolbelt.LogEntry:120</Function>"},    // the file name fails
  };
  for (const auto& c : cases) {
    FakeEnv env;
    NanOnceClock clock(EncodeDateTimeOrThrow(2025, 3, 14, 14, 3, 7, 123));
    env.ctx.env.clock = &clock;
    env.ctx.settings.Log.PurgeDays = c.purge_days;
    std::string name = "previous";
    LogEntry(env.ctx, Entry(50200, "m"), name);
    EXPECT_EQ(name, "previous");
    EXPECT_FALSE(env.ctx.settings.Log.Busy);
    ASSERT_EQ(env.files.writes.size(), 1u);
    EXPECT_TRUE(std::regex_match(env.files.writes[0].path,
                                 std::regex("/opt/tempwarden/E!RAZIVED-[0-9]{17}\\.XML")))
        << env.files.writes[0].path;
    EXPECT_NE(env.files.writes[0].data.find(c.function_line), std::string::npos);
    ASSERT_EQ(env.network.sent.size(), 1u);
    EXPECT_EQ(env.network.sent[0].payload.substr(0, 3), "<0>");
    EXPECT_NE(env.network.sent[0].payload.find("(ID=05003)"), std::string::npos);
  }
}

// The same day change on the real file system: the log and the purge work in the working
// directory, and the family is matched whatever the letter case.
TEST(ActivityLogRealFilesTest, DayChangeInTheWorkingDirectory) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::filesystem::path previous = std::filesystem::current_path();
  FakeEnv env;
  std::unique_ptr<FileSystem> files = NewSystemFileSystem();
  env.ctx.env.files = files.get();
  ASSERT_TRUE(files->SetWorkingDirectory(dir.path()));
  for (const char* name : {"APC-20200101.CSV", "apc-20250314.csv", "Apc-Notes.Csv", "keep.txt"}) {
    std::ofstream(dir.path() + name) << "x";
  }
  env.clock.Set(EncodeDateTimeOrThrow(2025, 3, 15, 0, 0, 1, 0));
  env.ctx.settings.Log.LastDay = static_cast<int64_t>(EncodeDate(2025, 3, 14));
  std::string name;
  LogEntry(env.ctx, Entry(50200, "m"), name);
  std::filesystem::current_path(previous);

  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    left.push_back(e.path().filename().string());
  }
  EXPECT_THAT(left, UnorderedElementsAre("apc-20250314.csv", "Apc-Notes.Csv", "keep.txt",
                                         "APC-20250315.CSV"));
  std::ifstream in(dir.path() + "APC-20250315.CSV", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_THAT(Codes(text), ElementsAre("69990", "50200"));
}

// A read-only working directory: the log cannot be created, and the system log hears of it
// once, with the entries lost.
TEST(ActivityLogRealFilesTest, ReadOnlyDirectoryIsToldToTheSystemLog) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  const bool told = RunUnprivileged([&] {
    FakeEnv env;
    env.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 10, 0, 0, 0));
    env.ctx.settings.Log.LastDay = static_cast<int64_t>(env.clock.Now());
    std::unique_ptr<FileSystem> files = NewSystemFileSystem();
    env.ctx.env.files = files.get();
    env.ctx.settings.ExePath = dir.path();
    if (!files->SetWorkingDirectory(dir.path())) return false;
    std::string name;
    for (int i = 0; i < 3; ++i) {
      LogEntry(env.ctx, Entry(50200, "pass"), name);
      env.clock.Advance(30000);
    }
    return env.system_log.messages.size() == 1 &&
           env.system_log.messages[0].find(dir.path() + "APC-20250314.CSV\" cannot be written") !=
               std::string::npos &&
           !std::filesystem::exists(dir.path() + "APC-20250314.CSV");
  });
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_TRUE(told);
}

}  // namespace
}  // namespace tw
