#include "service/srvc_main.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/registry.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/text_time.h"

namespace tw {
namespace {

// Keys by path; a key that exists records its values, or refuses them.
class FakeRegistry : public Registry {
 public:
  class Key : public RegistryKey {
   public:
    Key(FakeRegistry* r, std::string path) : r_(r), path_(std::move(path)) {}
    bool WriteString(const std::string& name, const std::string& value,
                     std::string* error) override {
      if (r_->refuse) {
        *error = "Access is denied.";
        return false;
      }
      r_->values[path_ + "|" + name] = value;
      return true;
    }

   private:
    FakeRegistry* r_;
    std::string path_;
  };
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::string& path) override {
    if (keys.count(path) == 0) return nullptr;
    return std::make_unique<Key>(this, path);
  }
  std::set<std::string> keys;
  std::map<std::string, std::string> values;
  bool refuse = false;
};

constexpr char kKey[] = "\\System\\CurrentControlSet\\Services\\VOZIvazure";

class ServiceStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.ctx.settings = tGlobalSettings();  // as at process start
    env_.host.versions["/opt/tempwarden/tempwarden"] = {1u << 16 | 2u, 3u << 16 | 4u};
    env_.clock.Set(EncodeDateTimeOrThrow(2025, 3, 14, 14, 3, 7, 123));
    env_.network.local_addresses = {"192.168.1.5"};
    env_.ctx.env.registry = &registry_;
    registry_.keys.insert(kKey);
  }
  std::string Log() { return env_.files.Get("/opt/tempwarden/APC-20250314.CSV"); }

  FakeEnv env_;
  FakeRegistry registry_;
};

TEST_F(ServiceStartTest, FillsTheSettingsAnnouncesAndDescribes) {
  TVOZIvazure service(env_.ctx);
  bool started = true;
  service.ServiceStart(started);
  EXPECT_TRUE(started);

  const tGlobalSettings& g = env_.ctx.settings;
  EXPECT_EQ(g.SelfName, "VOZIvazure");
  EXPECT_EQ(g.Company, "Brindle");
  EXPECT_EQ(g.Version, "1.2.3.4");
  EXPECT_EQ(g.HostName, "SRV1");
  EXPECT_EQ(g.ExePath, "/opt/tempwarden/");
  EXPECT_EQ(g.ExceptionFileMask, "E!RAZIVED-{timestamp}.XML");
  EXPECT_EQ(g.Log.Tag, "RAZ-IVED");
  EXPECT_EQ(g.Log.FilePrefix, "APC");
  EXPECT_EQ(g.Log.DebugLevel, 7);
  EXPECT_EQ(g.Log.PurgeDays, 366);
  EXPECT_EQ(g.Log.LastDay, 45730);

  // The announcement goes out twice: broadcast, then to the collector (no configuration yet).
  ASSERT_EQ(env_.network.sent.size(), 2u);
  const std::string payload =
      "<7>VOZIvazure:00001 Tempwarden Service Start. v1.2.3.4 H=\"SRV1\" (ID=71001)";
  EXPECT_EQ(env_.network.sent[0].payload, payload);
  EXPECT_EQ(env_.network.sent[0].to_ipv4, "255.255.255.255");
  EXPECT_EQ(env_.network.sent[0].local_ipv4, "192.168.1.5");
  EXPECT_EQ(env_.network.sent[1].to_ipv4, "127.0.0.1");
  EXPECT_EQ(env_.network.sent[1].to_port, 514);
  EXPECT_EQ(env_.network.sent[1].payload,
            "<7>VOZIvazure:00002 Tempwarden Service Start. v1.2.3.4 H=\"SRV1\" (ID=71001)");

  EXPECT_EQ(Log(),
            "14:03:07.123,\"[14:03:07.123]\",\"RAZ-IVED  \",50100,"
            "\"[Function=TMonitorUPSService.ServiceStart]\"\r\n");
  EXPECT_EQ(registry_.values[std::string(kKey) + "|Description"],
            "Brindle v1.2.3.4 started at 3/14/2025 2:03:07 PM");
}

TEST_F(ServiceStartTest, CollectorFromTheConfigurationAndNoKeyNoDescription) {
  env_.files.Put("/opt/tempwarden/TEMPWARDEN.XML",
                 "<XML><SyslogCollector>10.1.2.3</SyslogCollector></XML>");
  registry_.keys.clear();
  TVOZIvazure service(env_.ctx);
  bool started = true;
  service.ServiceStart(started);
  ASSERT_EQ(env_.network.sent.size(), 2u);
  EXPECT_EQ(env_.network.sent[1].to_ipv4, "10.1.2.3");
  EXPECT_TRUE(registry_.values.empty());
  EXPECT_EQ(Log().find("30000"), std::string::npos);  // a missing key is no failure
}

TEST_F(ServiceStartTest, RefusedDescriptionIsReportedAtStage200AndTheServiceRunsOn) {
  registry_.refuse = true;
  TVOZIvazure service(env_.ctx);
  bool started = true;
  service.ServiceStart(started);
  EXPECT_TRUE(started);
  const std::string log = Log();
  EXPECT_NE(log.find(",30000,\"[Function=TMonitorUPSService.ServiceStart]"
                     "[ClassName=ERegistryException]"
                     "[Message=Failed to set data for 'Description'. Access is denied.]"
                     "[Trace=200][FileName=E!RAZIVED-{timestamp}.XML][Notes=]\""),
            std::string::npos)
      << log;
  EXPECT_EQ(env_.files.Get("/opt/tempwarden/E!RAZIVED-20250314140307123.XML")
                    .find("<Function>TMonitorUPSService.ServiceStart:200</Function>") ==
                std::string::npos,
            false);
}

}  // namespace
}  // namespace tw
