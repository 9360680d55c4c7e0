// What the cycle tells the service manager: a keep-alive at every loop pass and the latest
// reading as status line.
#include <gtest/gtest.h>

#include "service/cycle.h"
#include "service/cycle_fixture.h"

namespace tw {
namespace {

// Records the keep-alives and status lines, and stops after a given number of loop passes.
class RecordingControl : public ServiceControl {
 public:
  bool Terminated() const override { return passes >= stop_after; }
  void ProcessRequests() override { ++passes; }
  void KeepAlive() override { keep_alive_at_pass.push_back(passes); }
  void SetStatusText(const std::string& text) override { status.push_back(text); }

  int stop_after = 0;
  int passes = 0;
  std::vector<int> keep_alive_at_pass;
  std::vector<std::string> status;
};

TEST_F(CycleTest, EveryLoopPassKeepsTheServiceAliveAndReadingsBecomeItsStatus) {
  Config({{"TempSleep", "300"}, {"VoltageSleep", "30"}});
  temperature = "27";
  RecordingControl control;
  control.stop_after = 65;
  MonitoringCycle cycle(env_.ctx, control);
  cycle.Run();
  std::vector<int> expected;
  // Every pass that goes on; the 65th finds the stop and ends the cycle.
  for (int pass = 1; pass <= 64; ++pass) expected.push_back(pass);
  EXPECT_EQ(control.keep_alive_at_pass, expected);
  // The loop sleeps from one due pass to the next, so every loop pass after the first runs at
  // least a voltage pass, and each pass's reading becomes the status line.
  ASSERT_GE(control.status.size(), 65u);
  // The reading comes with its time.
  const std::string first = "[UPSTemp=27][UPSInputVoltage=230][UPSState=OnLine][At=";
  EXPECT_EQ(control.status.front().substr(0, first.size()), first) << control.status.front();

  voltage = "0";
  control.stop_after = 100;
  MonitoringCycle on_battery(env_.ctx, control);
  on_battery.Run();
  ASSERT_FALSE(control.status.empty());
  const std::string last = "[UPSTemp=27][UPSInputVoltage=0][UPSState=On_Battery][At=";
  EXPECT_EQ(control.status.back().substr(0, last.size()), last) << control.status.back();
}

}  // namespace
}  // namespace tw
