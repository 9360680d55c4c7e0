#include "service/temperature_sample.h"

#include <gtest/gtest.h>

#include "tests/test_settings.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kDir[] = "/opt/tempwarden/";

TEST(TemperatureSampleTest, EmptyAnswerRecordsNothing) {
  FakeEnv env;
  env.regional.mutable_settings() = EnglishSettings();
  const tGoogleChart chart{"", "", "", 1.0, 45000.5, 300};
  // No agent answers on the fake network: the query's wait runs out with empty text.
  tUPSAttributes ups;
  ups.InternalTemp = 31;
  tSNMPRec snmp;
  snmp.Host = "192.0.2.10";
  snmp.Community = "public";
  env.files.Put(std::string(kDir) + "UPS-Temp.txt", "31");
  env.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 13, 6, 10, 0));
  bool called = false;
  const int32_t point = RecordTemperatureSample(env.ctx, snmp, ups, chart, [&] { called = true; });
  EXPECT_EQ(point, kNoReading);
  EXPECT_EQ(ups.InternalTemp, 31);  // the last reading stays
  EXPECT_FALSE(called);
  EXPECT_EQ(env.files.Get(std::string(kDir) + "UPS-Temp.txt"), "31");
  for (const char* name : {"APCUPSTempLog_20250314.csv", "APCUPSTempLog_Today.csv",
                           "APCUPSTempLog_Fri.csv", "APCUPSTempLog_Today.html"}) {
    EXPECT_FALSE(env.files.Has(std::string(kDir) + name)) << name;
  }
  for (const auto& f : env.files.files()) {
    EXPECT_EQ(f.first.find("/E!RAZIVED-"), std::string::npos) << f.first;
  }
}

}  // namespace
}  // namespace tw
