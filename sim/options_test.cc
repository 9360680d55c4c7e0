#include "sim/options.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

TEST(SimOptionsTest, Defaults) {
  SimCommandLine c;
  std::string error;
  ASSERT_TRUE(ParseSimCommandLine({}, &c, &error));
  EXPECT_EQ(c.address, "127.0.0.1");
  EXPECT_EQ(c.port, 161);
  EXPECT_EQ(c.community, "public");
  EXPECT_EQ(c.duration_s, 0u);
  EXPECT_FALSE(c.quiet);
  EXPECT_TRUE(c.ups.temps.empty());
  EXPECT_TRUE(c.ups.volts.empty());
  EXPECT_EQ(c.ups.outage_every_s, 3600u);
}

TEST(SimOptionsTest, EverySwitch) {
  SimCommandLine c;
  std::string error;
  ASSERT_TRUE(ParseSimCommandLine({"--listen",
                                   "10.1.2.3:1161",
                                   "--community=private",
                                   "--duration",
                                   "180",
                                   "--quiet",
                                   "--temps",
                                   "25,29",
                                   "--volts=230,0,230",
                                   "--mean",
                                   "24.5",
                                   "--swing",
                                   "3",
                                   "--noise",
                                   "0",
                                   "--speed",
                                   "144",
                                   "--start",
                                   "14:30",
                                   "--mains",
                                   "120",
                                   "--mains-noise",
                                   "1",
                                   "--outage-every",
                                   "60",
                                   "--outage-for",
                                   "15",
                                   "--seed",
                                   "7"},
                                  &c, &error))
      << error;
  EXPECT_EQ(c.address, "10.1.2.3");
  EXPECT_EQ(c.port, 1161);
  EXPECT_EQ(c.community, "private");
  EXPECT_EQ(c.duration_s, 180u);
  EXPECT_TRUE(c.quiet);
  EXPECT_EQ(c.ups.temps, (std::vector<uint32_t>{25, 29}));
  EXPECT_EQ(c.ups.volts, (std::vector<uint32_t>{230, 0, 230}));
  EXPECT_EQ(c.ups.mean_temp, 24.5);
  EXPECT_EQ(c.ups.swing, 3);
  EXPECT_EQ(c.ups.noise, 0);
  EXPECT_EQ(c.ups.speed, 144);
  EXPECT_EQ(c.ups.start_hour, 14.5);
  EXPECT_EQ(c.ups.mains, 120u);
  EXPECT_EQ(c.ups.mains_noise, 1u);
  EXPECT_EQ(c.ups.outage_every_s, 60u);
  EXPECT_EQ(c.ups.outage_for_s, 15u);
  EXPECT_EQ(c.ups.seed, 7u);

  ASSERT_TRUE(ParseSimCommandLine({"--listen", "0.0.0.0", "--community", ""}, &c, &error));
  EXPECT_EQ(c.address, "0.0.0.0");
  EXPECT_EQ(c.port, 161);
  EXPECT_EQ(c.community, "");
  ASSERT_TRUE(ParseSimCommandLine({"--help"}, &c, &error));
  EXPECT_TRUE(c.help);
}

TEST(SimOptionsTest, Refusals) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  };
  const Case cases[] = {
      {{"--bogus", "1"}, "--bogus: unknown switch"},
      {{"--temps"}, "--temps: a value is missing"},
      {{"--temps", "29.5"}, "--temps: \"29.5\" is not a valid value"},
      {{"--listen", "127.0.0.1:0"}, "--listen: \"127.0.0.1:0\" is not a valid value"},
      {{"--listen", "127.0.0.1:65536"}, "--listen: \"127.0.0.1:65536\" is not a valid value"},
      {{"--listen", ":161"}, "--listen: \":161\" is not a valid value"},
      {{"--duration", "-1"}, "--duration: \"-1\" is not a valid value"},
      {{"--mean", "26,5"}, "--mean: \"26,5\" is not a valid value"},
      {{"--mean", "nan"}, "--mean: \"nan\" is not a valid value"},
      {{"--swing", "-1"}, "--swing: \"-1\" is not a valid value"},
      {{"--speed", "0"}, "--speed: \"0\" is not a valid value"},
      {{"--start", "24:00"}, "--start: \"24:00\" is not a valid value"},
      {{"--start", "7:5"}, "--start: \"7:5\" is not a valid value"},
      {{"--mains", "0"}, "--mains: \"0\" is not a valid value"},
      {{"--mains-noise", "230"}, "--mains-noise must be smaller than --mains"},
      {{"--outage-every", "60", "--outage-for", "60"},
       "--outage-for must be shorter than --outage-every"},
  };
  for (const Case& c : cases) {
    SimCommandLine out;
    out.community = "unchanged";
    std::string error;
    EXPECT_FALSE(ParseSimCommandLine(c.args, &out, &error)) << c.error;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(out.community, "unchanged");
  }
}

}  // namespace
}  // namespace tw
