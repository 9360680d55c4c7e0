#include "ups/kept_rows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/files.h"

namespace tw {
namespace {

constexpr char kDir[] = "/opt/tempwarden/";
constexpr uint32_t kFiveMinutes = 5 * 60 * 1000;

class KeptRowsTest : public ::testing::Test {
 protected:
  KeptRowsTest() { env_.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 10, 0, 0, 0)); }

  void Lock(const std::string& name, bool locked) {
    if (locked) {
      env_.files.read_only.insert(kDir + name);
    } else {
      env_.files.read_only.erase(kDir + name);
    }
  }
  std::string File(const std::string& name) const { return env_.files.Get(kDir + name); }
  // The entries of code 40300 in today's activity log.
  size_t KeptNotices() const {
    const std::string log = File("APC-20250314.CSV");
    size_t n = 0;
    for (size_t at = log.find(",40300,"); at != std::string::npos;
         at = log.find(",40300,", at + 1)) {
      ++n;
    }
    return n;
  }

  FakeEnv env_;
};

// A file held by another program for a while: its rows are kept and arrive, in order, with
// the first write after the lock; a daily file of which no later row comes gets its rows
// when any row is written; the activity log hears once per file per hour.
TEST_F(KeptRowsTest, RowsOfAHeldFileArriveWithTheNextWrite) {
  struct Step {
    uint32_t after_ms;
    std::vector<std::string> locked;
    const char* file;
    const char* row;
    int32_t result;
    size_t notices;  // 40300 entries so far
  } steps[] = {
      {0, {}, "APCUPSTempLog_Fri.csv", "1\r\n", kWriteOk, 0},
      {kFiveMinutes, {"APCUPSTempLog_Fri.csv"}, "APCUPSTempLog_Fri.csv", "2\r\n", kWriteFailed, 1},
      {kFiveMinutes, {"APCUPSTempLog_Fri.csv"}, "APCUPSTempLog_Fri.csv", "3\r\n", kWriteFailed, 1},
      {kOneHourMs, {"APCUPSTempLog_Fri.csv"}, "APCUPSTempLog_Fri.csv", "4\r\n", kWriteFailed, 2},
      {kFiveMinutes, {}, "APCUPSTempLog_Fri.csv", "5\r\n", kWriteOk, 2},
      {kFiveMinutes,
       {"APCUPSTempLog_20250314.csv"},
       "APCUPSTempLog_20250314.csv",
       "a\r\n",
       kWriteFailed,
       3},
      // The next day's file: the held one of yesterday gets its row as soon as it is free.
      {kFiveMinutes,
       {"APCUPSTempLog_20250314.csv"},
       "APCUPSTempLog_20250315.csv",
       "b\r\n",
       kWriteOk,
       3},
      {kFiveMinutes, {}, "APCUPSTempLog_20250315.csv", "c\r\n", kWriteOk, 3},
  };
  for (const auto& s : steps) {
    env_.clock.Advance(s.after_ms);
    env_.files.read_only.clear();
    for (const auto& name : s.locked) Lock(name, true);
    EXPECT_EQ(AppendRowKeeping(env_.ctx, s.row, s.file), s.result) << s.row;
    EXPECT_EQ(KeptNotices(), s.notices) << s.row;
  }
  EXPECT_EQ(File("APCUPSTempLog_Fri.csv"), "1\r\n2\r\n3\r\n4\r\n5\r\n");
  EXPECT_EQ(File("APCUPSTempLog_20250314.csv"), "a\r\n");
  EXPECT_EQ(File("APCUPSTempLog_20250315.csv"), "b\r\nc\r\n");
  EXPECT_TRUE(env_.ctx.faults.kept_rows.empty());
  EXPECT_THAT(File("APC-20250314.CSV"),
              ::testing::HasSubstr(",40300,\"[Function=toolbelt.AppendRowKeeping][Note=File cannot "
                                   "be written, rows kept][File=APCUPSTempLog_Fri.csv][Kept=1]\""));
}

TEST_F(KeptRowsTest, AtMostOneDayOfRowsIsKept) {
  struct Case {
    const char* name;
    size_t rows;
    uint32_t every_ms;
    size_t arrive;  // rows written when the file is free again (the last one included)
  } cases[] = {
      {"a day of rows", kMaxKeptRows, kFiveMinutes - 1000, kMaxKeptRows + 1},
      {"more rows than a day holds", kMaxKeptRows + 12, 1000, kMaxKeptRows + 1},
      // Rows of hours 0 to 29, the last written at hour 30: those of hours 0 to 6 are a day
      // old or older.
      {"rows older than a day", 30, kOneHourMs, 23 + 1},
  };
  for (const auto& c : cases) {
    FakeEnv env;
    const std::string file = std::string(kDir) + "APCUPSTempLog_Today.csv";
    env.files.read_only.insert(file);
    for (size_t i = 0; i < c.rows; ++i) {
      AppendRowKeeping(env.ctx, std::to_string(i) + "\r\n", "APCUPSTempLog_Today.csv");
      env.clock.Advance(c.every_ms);
    }
    env.files.read_only.clear();
    ASSERT_EQ(AppendRowKeeping(env.ctx, "last\r\n", "APCUPSTempLog_Today.csv"), kWriteOk);
    const std::string text = env.files.Get(file);
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), c.arrive) << c.name;
    // The newest rows are the ones kept, in their order.
    EXPECT_THAT(text, ::testing::EndsWith(std::to_string(c.rows - 1) + "\r\nlast\r\n")) << c.name;
  }
}

}  // namespace
}  // namespace tw
