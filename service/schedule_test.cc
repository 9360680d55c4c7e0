// The cycle's schedule against the wall clock and the framework's requests: due times on the
// monotonic clock, waits that end on a request, keep-alive pings and the exit code.
#include "service/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <set>
#include <string>

#include "service/cycle_fixture.h"

namespace tw {
namespace {

// The framework's request queue with the fake wake-up event, recording its keep-alive pings
// and status reports on the fake clock's monotonic time.
class RecordingQueue : public ControlQueue, public StatusSink {
 public:
  RecordingQueue(FakeClock* clock, FakeWakeEvent* requests)
      : ControlQueue(this, requests), clock_(clock) {}
  void KeepAlive() override { pings.push_back(clock_->MonotonicMs()); }
  void Report(ServiceState state) override { reports.push_back({state, clock_->MonotonicMs()}); }

  struct StatusReport {
    ServiceState state;
    uint64_t at_ms;
  };
  std::vector<uint64_t> pings;
  std::vector<StatusReport> reports;

 private:
  FakeClock* clock_;
};

class ScheduleTest : public CycleTest {
 protected:
  // Runs the cycle until the monotonic clock reaches `stop_ms`, where a stop arrives; a
  // request already due on the event (raise_at_ms) before then comes first.
  void RunUntil(uint64_t stop_ms) {
    env_.clock.on_wait = [this, stop_ms](uint32_t) {
      if (requests_.raise_at_ms == UINT64_MAX && !stopped_) {
        requests_.raise_at_ms = stop_ms;
        stop_next_ = true;
      }
    };
    requests_.at_raise_time = [this] {
      if (stop_next_ && !stopped_) {
        stopped_ = true;
        queue_.Post(ControlCode::kStop);
      } else if (on_request) {
        on_request();
      }
    };
    MonitoringCycle cycle(env_.ctx, queue_);
    cycle.Run();
    trace_ = cycle.trace();
  }
  // Start lines of the temperature passes in the debug trace file.
  size_t Passes() const {
    size_t n = 0;
    for (const auto& w : env_.files.writes) {
      n += w.path == "/opt/tempwarden/D!Tempwarden.TXT" && !w.append;
    }
    return n;
  }
  size_t LogCount(const std::string& text) const {
    size_t n = 0;
    const std::string log = env_.files.Get("/opt/tempwarden/APC-20230315.CSV") +
                            env_.files.Get("/opt/tempwarden/APC-20230314.CSV") +
                            env_.files.Get("/opt/tempwarden/APC-20230316.CSV");
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

  FakeWakeEvent requests_;
  RecordingQueue queue_{&env_.clock, &requests_};
  bool stopped_ = false;
  bool stop_next_ = false;
  std::function<void()> on_request;  // posts the request a raise before the stop stands for
};

TEST_F(ScheduleTest, StepsOfTheWallClockNeitherStallNorSkipPasses) {
  struct Case {
    const char* name;
    int64_t step_s;      // wall clock step at 600 s of monotonic time
    const char* logged;  // the clock step entry, "" for none
    size_t passes;
  } cases[] = {
      {"back an hour", -3600, "[Msg=Clock step][Seconds=-3600]", 12},
      {"forward an hour", 3600, "[Msg=Clock step][Seconds=3600]", 12},
      // Lands on the five-minute point of the sample before, one day later.
      {"forward a day less five minutes", 86100, "[Msg=Clock step][Seconds=86100]", 12},
      {"back a day", -86400, "[Msg=Clock step][Seconds=-86400]", 12},
      // The pass at 601 s finds itself at 12:12:01; the next one comes early in the next
      // point, at 12:15:01 (781 s), and the passes keep that place.
      {"forward two minutes", 120, "", 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv fresh;
    std::swap(env_.files, fresh.files);
    queries.clear();
    env_.clock.Set(start_);
    const uint64_t base = env_.clock.MonotonicMs();
    Config({});
    FakeWakeEvent requests;
    RecordingQueue queue(&env_.clock, &requests);
    requests.raise_at_ms = base + 3600000;
    requests.at_raise_time = [&] { queue.Post(ControlCode::kStop); };
    bool stepped = false;
    env_.clock.on_wait = [&](uint32_t) {
      if (!stepped && env_.clock.MonotonicMs() - base >= 600000) {
        stepped = true;
        env_.clock.StepWall(c.step_s * 1000);
      }
    };
    MonitoringCycle cycle(env_.ctx, queue);
    cycle.Run();
    EXPECT_EQ(Passes(), c.passes);  // at 1, 301, ... 3301 s when the step kept the points
    EXPECT_EQ(Count(true), static_cast<int>(1 + c.passes));  // every one took its sample
    EXPECT_EQ(Count(false), 1 + 120);                        // voltage passes every 30 s
    EXPECT_EQ(LogCount("[Msg=Clock step]"), c.logged[0] ? 1u : 0u);
    if (c.logged[0]) {
      EXPECT_EQ(LogCount(c.logged), 1u);
    }
  }
}

// A point that the day's file already holds is not sampled again: neither after a restart
// within the point nor in the hour that a wall clock set back repeats.
TEST_F(ScheduleTest, NoPointIsWrittenTwice) {
  struct Case {
    const char* name;
    int runs;
    uint64_t run_ms;  // each run's length on the monotonic clock
    int64_t step_s;   // wall clock step at 3700 s, 0 for none
  } cases[] = {
      {"restart within the point", 2, 60000, 0},
      {"wall clock back an hour after an hour", 1, 7200000, -3600},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv fresh;
    std::swap(env_.files, fresh.files);
    queries.clear();
    env_.clock.Set(start_);
    Config({});
    for (int run = 0; run < c.runs; ++run) {
      const uint64_t base = env_.clock.MonotonicMs();
      FakeWakeEvent requests;
      RecordingQueue queue(&env_.clock, &requests);
      requests.raise_at_ms = base + c.run_ms;
      requests.at_raise_time = [&] { queue.Post(ControlCode::kStop); };
      bool stepped = c.step_s == 0;
      env_.clock.on_wait = [&](uint32_t) {
        if (!stepped && env_.clock.MonotonicMs() - base >= 3700000) {
          stepped = true;
          env_.clock.StepWall(c.step_s * 1000);
        }
      };
      MonitoringCycle cycle(env_.ctx, queue);
      cycle.Run();
    }
    std::set<std::string> points;
    const std::string daily = env_.files.Get("/opt/tempwarden/APCUPSTempLog_20230315.csv");
    for (size_t at = 0; at < daily.size();) {
      const size_t end = daily.find("\r\n", at);
      const std::string line = daily.substr(at, end - at);
      at = end == std::string::npos ? daily.size() : end + 2;
      if (line.empty() || line[0] < '0' || line[0] > '9') continue;
      EXPECT_TRUE(points.insert(line.substr(0, line.find(','))).second) << line;
    }
    EXPECT_FALSE(points.empty());
  }
}

TEST_F(ScheduleTest, TheLoopSleepsUntilTheNextDueTimeAndRequestsWakeIt) {
  Config({});
  // An interrogation arrives 45.5 s after the start, in the middle of a wait.
  requests_.raise_at_ms = env_.clock.MonotonicMs() + 45500;
  on_request = [&] { queue_.Post(ControlCode::kInterrogate); };
  const uint64_t base = env_.clock.MonotonicMs();
  RunUntil(base + 3600000);
  // About one wait per voltage pass (every 30 s) and one more for the request: the loop no
  // longer wakes every second.
  EXPECT_LE(env_.clock.waits.size(), 125u);
  std::vector<uint64_t> report_times;
  for (const auto& r : queue_.reports) report_times.push_back(r.at_ms - base);
  // The interrogation is answered at once, not at the next pass (61 s).
  EXPECT_NE(std::find(report_times.begin(), report_times.end(), 45500u), report_times.end());
  EXPECT_EQ(Count(true), 1 + 12);
}

TEST_F(ScheduleTest, AStopEndsEveryWaitAtOnce) {
  struct Case {
    const char* name;
    const char* voltage_file;  // "0": the start-up wait of ten minutes
    uint64_t stop_at_ms;       // after the start
    int temperature_queries;
  } cases[] = {
      {"during the start-up wait", "0", 90000, 0},
      {"between two passes", "230", 100000, 1 + 1},
      {"during a long wait for the temperature pass", "230", 250500, 1 + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv fresh;
    std::swap(env_.files, fresh.files);
    queries.clear();
    env_.clock.on_wait = nullptr;
    env_.clock.Set(start_);  // on a point: the passes come at 1 and 301 s
    Config({{"VoltageSleep", "300"}});
    env_.files.Put("/opt/tempwarden/UPS-Input-Voltage.txt", c.voltage_file);
    FakeWakeEvent requests;
    RecordingQueue queue(&env_.clock, &requests);
    const uint64_t base = env_.clock.MonotonicMs();
    requests.raise_at_ms = base + c.stop_at_ms;
    requests.at_raise_time = [&] { queue.Post(ControlCode::kStop); };
    MonitoringCycle cycle(env_.ctx, queue);
    cycle.Run();
    EXPECT_EQ(env_.clock.MonotonicMs() - base, c.stop_at_ms);
    EXPECT_EQ(Count(true), c.temperature_queries);
    EXPECT_EQ(queue.exit_code(), 0u);
  }
}

TEST_F(ScheduleTest, KeepAliveAtEveryPassAndTwiceAMinuteInLongWaits) {
  Config({{"TempSleep", "600"}, {"VoltageSleep", "600"}});
  env_.files.Put("/opt/tempwarden/UPS-Input-Voltage.txt", "0");  // ten minutes' start-up wait
  const uint64_t base = env_.clock.MonotonicMs();
  RunUntil(base + 3 * 3600000);
  ASSERT_GT(queue_.pings.size(), 2u);
  uint64_t last = base;
  for (uint64_t t : queue_.pings) {
    EXPECT_LE(t - last, 30000u) << "at " << (t - base);
    last = t;
  }
  EXPECT_LE(queue_.pings.size(), 3u * 3600 / 30 + 20);  // no busier than needed
}

TEST_F(ScheduleTest, AFailureOfTheCycleSetsTheExitCode) {
  // An exhausted resource is what reaches the cycle's own handler (an answer that is no number
  // is no reading and no longer does).
  struct Case {
    bool exhausted;
    uint32_t exit_code;
  } cases[] = {{false, 0}, {true, kExitCycleFailed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exhausted);
    FakeWakeEvent requests;
    RecordingQueue queue(&env_.clock, &requests);
    Config({});
    voltage = "abc";
    env_.clock.on_wait = [&](uint32_t) {
      if (c.exhausted) throw std::bad_alloc();
      queue.Post(ControlCode::kStop);
    };
    MonitoringCycle cycle(env_.ctx, queue);
    cycle.Run();
    EXPECT_EQ(queue.exit_code(), c.exit_code);
  }
}

// Where the next temperature pass falls, as a function of the one just due: the wall clock
// places the due time in its slot of the day.
TEST(NextTempDueTest, PassesFallEarlyInTheirSlot) {
  struct Case {
    const char* name;
    int32_t interval_s;
    double due_s;   // wall time of the due pass, seconds after midnight
    double late_s;  // how late it runs
    double next_s;  // wall time of the next due pass, seconds after midnight
  } cases[] = {
      {"on time", 300, 12 * 3600 + 301, 0, 12 * 3600 + 601},
      {"four minutes late: the next one stays", 300, 12 * 3600 + 301, 240, 12 * 3600 + 601},
      {"a little early by the wall clock", 300, 12 * 3600 + 300.9, 0, 12 * 3600 + 601},
      {"a little late by the wall clock", 300, 12 * 3600 + 301.2, 0, 12 * 3600 + 601},
      {"the first pass, mid-point", 300, 12 * 3600 + 151, 0, 12 * 3600 + 301},
      {"the first pass, at the end of a point", 300, 12 * 3600 + 299, 0, 12 * 3600 + 301},
      {"the first pass, at the start of a point", 300, 12 * 3600 + 1, 0, 12 * 3600 + 301},
      {"late across midnight: due again at once", 300, 86400 - 299, 355, 86400 + 1},
      {"a minute", 60, 12 * 3600 + 301, 0, 12 * 3600 + 361},
      {"half a minute", 30, 12 * 3600 + 1, 10, 12 * 3600 + 31},
      {"ten minutes from an odd point", 600, 12 * 3600 + 301, 0, 12 * 3600 + 601},
      {"ten minutes", 600, 12 * 3600 + 601, 0, 12 * 3600 + 1201},
      {"a day", 86400, 12 * 3600 + 1, 0, 86400 + 1},
      // Intervals that do not fit the points keep the phase of the start.
      {"seven minutes", 420, 12 * 3600 + 151, 30, 12 * 3600 + 571},
      {"seven and a half minutes", 450, 12 * 3600 + 151, 0, 12 * 3600 + 601},
      {"twenty seconds, shorter than a slot may be", 20, 12 * 3600 + 151, 0, 12 * 3600 + 171},
      {"0: every loop pass", 0, 12 * 3600 + 151, 3, 12 * 3600 + 151},
      {"fourteen minutes, no divisor of a day", 840, 12 * 3600 + 151, 0, 12 * 3600 + 991},
  };
  const TDateTime midnight = 45000;
  const int64_t due_ms = 7000000;  // monotonic, arbitrary
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t late_ms = static_cast<int64_t>(c.late_s * 1000);
    const TDateTime now = midnight + (c.due_s + c.late_s) / 86400.0;
    const int64_t next = NextTempDueMs(due_ms, due_ms + late_ms, now, c.interval_s);
    EXPECT_EQ(next - due_ms, std::llround((c.next_s - c.due_s) * 1000));
  }
}

// A pass that runs up to almost five minutes late (a card that answers slowly, a mail, a busy
// machine) still samples its point, wherever in a point the service started.
TEST_F(ScheduleTest, EveryPointIsSampledWhenAPassRunsLate) {
  struct Case {
    const char* name;
    double start_s;  // after 12:00:00
    int64_t stall_s;
  } cases[] = {
      {"start on a point, stall 4 min", 0, 240},
      {"start mid-point, stall 4 min", 200, 240},
      {"start at the end of a point, stall 4 min 55 s", 298, 295},
      {"start mid-point, stall 1 min", 130, 60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv fresh;
    std::swap(env_.files, fresh.files);
    queries.clear();
    env_.clock.Set(start_ + c.start_s / 86400.0);
    const uint64_t base = env_.clock.MonotonicMs();
    Config({{"PhoneHomeServer", "localhost/ordo/ordoisapi.dll/UPSPhoneHome"}});
    FakeWakeEvent requests;
    RecordingQueue queue(&env_.clock, &requests);
    requests.raise_at_ms = base + 2 * 3600000;
    requests.at_raise_time = [&] { queue.Post(ControlCode::kStop); };
    // Every third phone-home report, sent at the start of a temperature pass, takes that
    // long (a name that resolves slowly, a busy machine): the pass samples that much later.
    int stalls = 0, reports = 0;
    env_.network.on_send = [&](const FakeNetwork::Datagram& d) {
      if (d.to_ipv4 != "255.255.255.255" || d.payload.find("PhoneHome:") == std::string::npos) {
        return;
      }
      if (++reports % 3 == 0) {
        ++stalls;
        env_.clock.Advance(c.stall_s * 1000);
      }
    };
    MonitoringCycle cycle(env_.ctx, queue);
    cycle.Run();
    EXPECT_GT(stalls, 5);
    // One row for every point from the start's to the last one begun, none twice.
    std::set<int> points;
    const std::string daily = env_.files.Get("/opt/tempwarden/APCUPSTempLog_20230315.csv");
    for (size_t at = daily.find("\r\n") + 2; at < daily.size();) {
      const size_t end = daily.find("\r\n", at);
      EXPECT_TRUE(points.insert(std::stoi(daily.substr(at, end - at))).second);
      at = end + 2;
    }
    // The stop comes two hours after the start; the last pass before it is due 1 s into
    // its point.
    const int first = 144 + static_cast<int>(c.start_s) / 300;
    const int last = 144 + static_cast<int>((c.start_s + 2 * 3600 - 1.5) / 300);
    EXPECT_EQ(points.size(), static_cast<size_t>(last - first + 1));
    EXPECT_EQ(*points.begin(), first);
    EXPECT_EQ(*points.rbegin(), last);
    env_.network.on_send = nullptr;
  }
}

}  // namespace
}  // namespace tw
