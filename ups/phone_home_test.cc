#include "ups/phone_home.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/test_settings.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

using ::testing::HasSubstr;

constexpr char kDir[] = "/opt/tempwarden/";
constexpr char kServer[] = "phonehome.example/ordo/ordoisapi.dll/UPSPhoneHome";

class PhoneHomeTest : public ::testing::Test {
 protected:
  PhoneHomeTest() {
    env_.regional.mutable_settings() = EnglishSettings();
    env_.host.computer_name = "SRV";
    env_.ctx.settings.Version = "1.0.0.5";
    env_.network.hosts["collector.test"] = "10.9.8.7";
    ups_.HostName = "UPS1";
    ups_.UPSState = "OnLine";
    ups_.InternalTemp = 27;
    ups_.MaxTemp = 29;
    ups_.InputVoltage = 240;
  }
  std::string Debug() const { return env_.files.Get(std::string(kDir) + kPhoneHomeDebugFile); }

  FakeEnv env_;
  tUPSAttributes ups_;
};

TEST_F(PhoneHomeTest, DebugFileAndBothDatagramsByteForByte) {
  ups_.HostName = "UPS Room 2";
  ups_.InternalTemp = 26.5;
  PhoneHome(env_.ctx, kServer, ups_, "collector.test");
  EXPECT_EQ(Debug(),
            "phonehome.example/ordo/ordoisapi.dll/UPSPhoneHome?HostName=SRV"
            "&UPSHostName=UPS%20Room%202&UPSState=OnLine&UPSTemp=26.5&Temp=26.5&PollPeriod=0"
            "&Version=1.0.0.5");
  const std::string summary =
      "PhoneHome: HOST=\"UPS Room 2\", STATE=\"OnLine\", TEMP=26.5, MAX TEMP=29, "
      "InputVoltage=240";
  ASSERT_EQ(env_.network.sent.size(), 2u);
  const FakeNetwork::Datagram& broadcast = env_.network.sent[0];
  EXPECT_EQ(broadcast.local_ipv4, "127.0.0.1");
  EXPECT_EQ(broadcast.to_ipv4, "255.255.255.255");
  EXPECT_EQ(broadcast.to_port, 514);
  EXPECT_TRUE(broadcast.broadcast_enabled);
  EXPECT_EQ(broadcast.payload, "<7>VOZIvazure:00001 " + summary + " H=\"SRV\" (ID=72000)");
  const FakeNetwork::Datagram& unicast = env_.network.sent[1];
  EXPECT_EQ(unicast.to_ipv4, "10.9.8.7");
  EXPECT_EQ(unicast.to_port, 514);
  EXPECT_EQ(unicast.payload, "<7>VOZIvazure:00002 " + summary + " H=\"SRV\" (ID=72000)");
}

TEST_F(PhoneHomeTest, ServerTextSplitsAtTheFirstSlash) {
  struct Case {
    const char* server;
    const char* host;
    const char* debug_start;
  } cases[] = {
      {"", "", "?HostName=SRV&"},
      {"collector.example", "collector.example", "collector.example?HostName=SRV&"},
      {"/ordo/a b", "", "/ordo/a%20b?HostName=SRV&"},
      {"h/p/q", "h", "h/p/q?HostName=SRV&"},
  };
  for (const Case& c : cases) {
    const tPhoneHomeTexts texts = PhoneHomeTexts(env_.ctx, c.server, ups_);
    EXPECT_EQ(texts.HostPart, c.host) << c.server;
    env_.network.sent.clear();
    PhoneHome(env_.ctx, c.server, ups_, "localhost");
    EXPECT_EQ(Debug().rfind(c.debug_start, 0), 0u) << Debug();
    EXPECT_EQ(env_.network.sent.size(), 2u) << c.server;
  }
}

TEST_F(PhoneHomeTest, TemperatureGoesTwiceAndSummaryKeepsRegionalNumbers) {
  env_.regional.mutable_settings() = GermanSettings();
  ups_.InternalTemp = 27.5;
  ups_.UPSState = "On_Battery";
  ups_.InputVoltage = 0;
  const tPhoneHomeTexts texts = PhoneHomeTexts(env_.ctx, kServer, ups_);
  EXPECT_THAT(texts.Request, HasSubstr("&UPSTemp=27,5&Temp=27,5&"));
  EXPECT_EQ(texts.Summary,
            "PhoneHome: HOST=\"UPS1\", STATE=\"On_Battery\", TEMP=27,5, MAX TEMP=29, "
            "InputVoltage=0");
}

TEST_F(PhoneHomeTest, UnresolvableCollectorStillBroadcasts) {
  PhoneHome(env_.ctx, kServer, ups_, "no-such-collector.invalid");
  std::vector<std::string> phone_home_targets;
  for (const auto& d : env_.network.sent) {
    if (d.payload.find("(ID=72000)") != std::string::npos) phone_home_targets.push_back(d.to_ipv4);
  }
  EXPECT_THAT(phone_home_targets, ::testing::ElementsAre("255.255.255.255"));
  // The sender reports the unknown name itself; the report announces itself as 5003.
  EXPECT_THAT(env_.network.sent.back().payload, HasSubstr("(ID=05003)"));
  EXPECT_FALSE(Debug().empty());
}

TEST(PhoneHomeFailureTest, MessageLosesItsFirstLineBreakAndBlanksTheOthers) {
  EXPECT_EQ(PhoneHomeFailureMsg("EOutOfMemory", "Out of memory\r\nat 1\r\nat 2", 130,
                                "Host=h,sRequest=/p?HostName=SRV"),
            "[Function=apc.PhoneHome][ClassName=EOutOfMemory][Message=Out of memoryat 1  at 2]"
            "[Trace=130][Host=h,sRequest=/p?HostName=SRV]");
  EXPECT_EQ(PhoneHomeFailureMsg("E", "m", 120, ""),
            "[Function=apc.PhoneHome][ClassName=E][Message=m][Trace=120][]");
}

}  // namespace
}  // namespace tw
