#include "sim/ups_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "platform/fake_env.h"

namespace tw {
namespace {

constexpr double kDay = 45000;  // midnight of a day; the fake clock's date is of no concern

double At(int hour, int minute = 0) { return kDay + (hour * 60 + minute) / 1440.0; }

UpsSimOptions Quiet() {
  UpsSimOptions o;
  o.noise = 0;
  o.mains_noise = 0;
  return o;
}

TEST(UpsModelTest, CurveIsWarmestAtThreeInTheAfternoon) {
  const UpsSimOptions o = Quiet();  // mean 26, swing 4
  struct Case {
    double hour;
    double want;
  };
  const Case cases[] = {
      {15, 30}, {3, 22}, {9, 26}, {21, 26}, {12, 26 + 4 * std::cos(3.14159265358979 / 4)},
      {39, 30},  // only the time of day counts: 15:00 of the next day
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(SimulatedUps::CurveAt(o, c.hour / 24), c.want, 1e-9) << c.hour;
  }
}

TEST(UpsModelTest, TemperatureFollowsTheClocksTimeOfDayInWholeDegrees) {
  FakeClock clock(At(15));
  SimulatedUps ups(Quiet(), clock);
  EXPECT_EQ(ups.NextTemperature(), 30u);
  clock.Advance(3 * 3600 * 1000);  // 18:00: 26 + 4 cos(45 degrees) = 28.83
  EXPECT_EQ(ups.NextTemperature(), 29u);
  clock.Advance(9 * 3600 * 1000);  // 03:00
  EXPECT_EQ(ups.NextTemperature(), 22u);
  clock.Advance(6 * 3600 * 1000);  // 09:00
  EXPECT_EQ(ups.NextTemperature(), 26u);
}

TEST(UpsModelTest, FasterDayFromAChosenHour) {
  FakeClock clock(At(9, 41));
  UpsSimOptions o = Quiet();
  o.start_hour = 14;
  o.speed = 3600;  // an hour a second
  SimulatedUps ups(o, clock);
  EXPECT_NEAR(ups.SimulatedNow(), At(14), 1e-9);
  clock.Advance(1000);
  EXPECT_NEAR(ups.SimulatedNow(), At(15), 1e-9);
  EXPECT_EQ(ups.NextTemperature(), 30u);
  clock.Advance(12000);  // 03:00 of the next simulated day
  EXPECT_EQ(ups.NextTemperature(), 22u);
}

TEST(UpsModelTest, NoiseStaysWithinItsBoundsAndFollowsTheSeed) {
  FakeClock clock(At(9));  // the curve is at 26 exactly
  UpsSimOptions o = Quiet();
  o.noise = 0.6;
  SimulatedUps a(o, clock), b(o, clock);
  o.seed = 2;
  SimulatedUps other_seed(o, clock);
  std::set<uint32_t> seen;
  bool differs = false;
  for (int i = 0; i < 1000; ++i) {
    const uint32_t t = a.NextTemperature();
    seen.insert(t);
    EXPECT_EQ(b.NextTemperature(), t) << i;
    differs = differs || other_seed.NextTemperature() != t;
  }
  EXPECT_EQ(seen, (std::set<uint32_t>{25, 26, 27}));
  EXPECT_TRUE(differs);
}

TEST(UpsModelTest, NoTemperatureBelowZero) {
  FakeClock clock(At(3));
  UpsSimOptions o = Quiet();
  o.mean_temp = -10;
  SimulatedUps ups(o, clock);
  EXPECT_EQ(ups.NextTemperature(), 0u);
}

TEST(UpsModelTest, ScriptsGiveOneValuePerQueryAndKeepTheLast) {
  FakeClock clock(At(12));
  UpsSimOptions o = Quiet();
  o.temps = {25, 29, 31};
  o.volts = {230, 0};
  SimulatedUps ups(o, clock);
  EXPECT_EQ(ups.NextTemperature(), 25u);
  EXPECT_EQ(ups.NextVoltage(), 230u);  // each object has its own place in its script
  EXPECT_EQ(ups.NextTemperature(), 29u);
  EXPECT_EQ(ups.NextTemperature(), 31u);
  EXPECT_EQ(ups.NextTemperature(), 31u);
  EXPECT_EQ(ups.NextVoltage(), 0u);
  clock.Advance(3600 * 1000);  // time does not move a script
  EXPECT_EQ(ups.NextVoltage(), 0u);
  EXPECT_EQ(ups.NextTemperature(), 31u);
}

TEST(UpsModelTest, MainsFailsAtTheEndOfEveryPeriod) {
  FakeClock clock(At(12));
  UpsSimOptions o = Quiet();
  o.outage_every_s = 60;
  o.outage_for_s = 15;
  SimulatedUps ups(o, clock);
  struct Step {
    uint64_t at_s;
    uint32_t volts;
  };
  const Step steps[] = {{0, 230}, {44, 230}, {45, 0}, {59, 0}, {60, 230}, {104, 230}, {105, 0}};
  uint64_t now_s = 0;
  for (const Step& s : steps) {
    clock.Advance((s.at_s - now_s) * 1000);
    now_s = s.at_s;
    EXPECT_EQ(ups.NextVoltage(), s.volts) << "at " << s.at_s << " s";
  }
}

TEST(UpsModelTest, MainsNoiseAndNoOutages) {
  FakeClock clock(At(12));
  UpsSimOptions o;
  o.mains = 230;
  o.mains_noise = 2;
  o.outage_every_s = 0;
  SimulatedUps ups(o, clock);
  std::set<uint32_t> seen;
  for (int i = 0; i < 500; ++i) {
    seen.insert(ups.NextVoltage());
    clock.Advance(7919);
  }
  EXPECT_EQ(seen, (std::set<uint32_t>{228, 229, 230, 231, 232}));
}

TEST(UpsModelTest, RunningTimeSurvivesTheTickCountWrap) {
  FakeClock clock(At(12));
  clock.set_tick(0xFFFFF000u);  // 4096 ms before the wrap
  UpsSimOptions o = Quiet();
  o.outage_every_s = 20;
  o.outage_for_s = 5;
  SimulatedUps ups(o, clock);
  clock.Advance(10000);
  EXPECT_FALSE(ups.MainsFailed());
  clock.Advance(6000);  // 16 s running
  EXPECT_TRUE(ups.MainsFailed());
  clock.Advance(5000);  // 21 s
  EXPECT_FALSE(ups.MainsFailed());
}

TEST(UpsModelTest, ValueLists) {
  struct Case {
    const char* text;
    bool ok;
    std::vector<uint32_t> values;
  };
  const Case cases[] = {
      {"25,29,31", true, {25, 29, 31}},
      {"0", true, {0}},
      {"4294967295", true, {4294967295u}},
      {"4294967296", false, {}},
      {"", false, {}},
      {"25,,31", false, {}},
      {"25,", false, {}},
      {",25", false, {}},
      {"-1", false, {}},
      {"+1", false, {}},
      {"29.5", false, {}},
      {"25, 29", false, {}},
      {"x", false, {}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> values = {7};
    EXPECT_EQ(ParseValueList(c.text, &values), c.ok) << c.text;
    // A refused list leaves the values as they were.
    EXPECT_EQ(values, c.ok ? c.values : std::vector<uint32_t>{7}) << c.text;
  }
}

}  // namespace
}  // namespace tw
