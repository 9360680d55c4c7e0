#include "toolbelt/syslog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/isolation.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

tSyslogRec Message(int32_t code, const std::string& msg, int32_t port = 0) {
  tSyslogRec rec;
  rec.Code = code;
  rec.Msg = msg;
  rec.Source = "test";
  rec.Port = port;
  return rec;
}

class SyslogTest : public ::testing::Test {
 protected:
  // Report files left in the executable's directory.
  std::vector<std::string> Reports() const {
    std::vector<std::string> out;
    for (const auto& f : env_.files.files()) {
      if (f.first.find("/E!") != std::string::npos) out.push_back(f.second);
    }
    return out;
  }

  FakeEnv env_;
  Context& ctx_ = env_.ctx;
};

TEST_F(SyslogTest, GoldenPayloads) {
  struct Case {
    int32_t code;
    const char* msg;
    const char* payload;
  } cases[] = {
      {71001, "[Function=TVOZIvazure.ServiceStart]",
       "<7>VOZIvazure:00001 [Function=TVOZIvazure.ServiceStart] H=\"SRV1\" (ID=71001)"},
      {5003, "EXCEPTION:Func=toolbelt.LogEntry Trace=120",
       "<0>VOZIvazure:00001 EXCEPTION:Func=toolbelt.LogEntry Trace=120 H=\"SRV1\" (ID=05003)"},
      {123456, "m", "<12>VOZIvazure:00001 m H=\"SRV1\" (ID=123456)"},
      {-5, "m", "<0>VOZIvazure:00001 m H=\"SRV1\" (ID=-00005)"},
      // Quotes and line breaks go out unchanged; there is no line end of its own.
      {72000, "a \"b\"\r\nc", "<7>VOZIvazure:00001 a \"b\"\r\nc H=\"SRV1\" (ID=72000)"},
  };
  for (const auto& c : cases) {
    FakeEnv env;
    env.network.hosts["collector.example"] = "192.0.2.7";
    // Built with the current number; sending advances it first.
    std::string unsent = c.payload;
    unsent.replace(unsent.find(':') + 1, 5, "00000");
    EXPECT_EQ(SyslogPayload(env.ctx, Message(c.code, c.msg)), unsent);
    PostSyslogMsg(env.ctx, Message(c.code, c.msg), "collector.example");
    ASSERT_EQ(env.network.sent.size(), 1u);
    EXPECT_EQ(env.network.sent[0].payload, c.payload) << c.code;
    EXPECT_EQ(env.network.sent[0].to_ipv4, "192.0.2.7");
  }
}

TEST_F(SyslogTest, PayloadBytes) {
  ctx_.settings.SyslogSequence = 0;
  PostSyslogMsg(ctx_, Message(71001, "up"), "127.0.0.1");
  ASSERT_EQ(env_.network.sent.size(), 1u);
  const std::string expected = {
      '<', '7', '>',                                          // priority 71001 div 10000
      'V', 'O', 'Z', 'I', 'v', 'a', 'z', 'u', 'r', 'e', ':',  // tag
      '0', '0', '0', '0', '1', ' ',                           // sequence
      'u', 'p', ' ',                                          // message
      'H', '=', '"', 'S', 'R', 'V', '1', '"', ' ',            // host name
      '(', 'I', 'D', '=', '7', '1', '0', '0', '1', ')'};      // code; no CR, LF or NUL
  EXPECT_EQ(env_.network.sent[0].payload, expected);
}

TEST_F(SyslogTest, SequenceAdvancesOnEveryCallAndWrapsAfter32767) {
  ctx_.env.network = nullptr;  // nothing is sent; the number advances all the same
  for (int i = 0; i < 32767; ++i) PostSyslogMsg(ctx_, Message(71001, "m"), "");
  EXPECT_EQ(ctx_.settings.SyslogSequence, 32767);
  ctx_.env.network = &env_.network;
  PostSyslogMsg(ctx_, Message(71001, "m"), "");  // the 32768th call
  PostSyslogMsg(ctx_, Message(71001, "m"), "");
  ASSERT_EQ(env_.network.sent.size(), 2u);
  EXPECT_EQ(env_.network.sent[0].payload.substr(0, 19), "<7>VOZIvazure:00000");
  EXPECT_EQ(env_.network.sent[1].payload.substr(0, 19), "<7>VOZIvazure:00001");
}

TEST_F(SyslogTest, PortRules) {
  struct Case {
    int32_t port;
    const char* host;
    uint16_t to_port;
    const char* to_ipv4;
  } cases[] = {
      {0, "localhost", 514, "127.0.0.1"},
      {5514, "10.1.2.3", 5514, "10.1.2.3"},
      {5514, "", 514, "255.255.255.255"},  // broadcasts always go to 514
      {0, "", 514, "255.255.255.255"},
  };
  for (const auto& c : cases) {
    FakeEnv env;
    PostSyslogMsg(env.ctx, Message(71000, "m", c.port), c.host);
    ASSERT_EQ(env.network.sent.size(), 1u) << c.host;
    EXPECT_EQ(env.network.sent[0].to_port, c.to_port) << c.host;
    EXPECT_EQ(env.network.sent[0].to_ipv4, c.to_ipv4) << c.host;
    EXPECT_EQ(env.network.open_sockets, 0);  // nothing stays open between calls
  }
}

TEST_F(SyslogTest, BroadcastGoesOutThroughEveryLocalAddress) {
  env_.network.local_addresses = {"127.0.0.1", "10.77.0.1", "192.168.5.9"};
  EXPECT_EQ(BroadcastUDPPacket(ctx_, "payload", 514), 0);
  ASSERT_EQ(env_.network.sent.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const FakeNetwork::Datagram& d = env_.network.sent[i];
    EXPECT_EQ(d.local_ipv4, env_.network.local_addresses[i]);
    EXPECT_EQ(d.to_ipv4, "255.255.255.255");
    EXPECT_EQ(d.to_port, 514);
    EXPECT_TRUE(d.broadcast_enabled);
    EXPECT_EQ(d.payload, "payload");
  }
  EXPECT_EQ(env_.network.open_sockets, 0);
}

TEST_F(SyslogTest, BroadcastEdgeCases) {
  env_.network.local_addresses.clear();
  EXPECT_EQ(BroadcastUDPPacket(ctx_, "p", 514), 0);  // no address: nothing to do
  env_.network.local_addresses = {"10.0.0.1"};
  EXPECT_EQ(BroadcastUDPPacket(ctx_, "p", 0), 0);
  EXPECT_EQ(BroadcastUDPPacket(ctx_, "p", -1), 0);
  EXPECT_TRUE(env_.network.sent.empty());
}

TEST_F(SyslogTest, BroadcastFailureEndsTheRoundWithoutReport) {
  env_.network.local_addresses = {"10.0.0.1", "10.0.0.2"};
  for (int FakeNetwork::*fault :
       {&FakeNetwork::bind_error, &FakeNetwork::send_error, &FakeNetwork::open_error}) {
    env_.network.*fault = kWsaNetUnreachable;
    EXPECT_EQ(BroadcastUDPPacket(ctx_, "p", 514), kUdpSendFailed);
    env_.network.*fault = 0;
  }
  env_.network.send_error = 10013;
  PostSyslogMsg(ctx_, Message(71001, "m"), "");
  EXPECT_TRUE(env_.network.sent.empty());
  EXPECT_TRUE(Reports().empty());
  EXPECT_TRUE(env_.speaker.tones.empty());
  EXPECT_EQ(env_.network.open_sockets, 0);
}

TEST_F(SyslogTest, UnresolvableNameIsReported) {
  EXPECT_EQ(UniticastUDPPacket(ctx_, "p", "no-such-host.invalid", 514), kUdpSendFailed);
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("<Function>toolbelt.UniticastUDPPacket:200</Function>"),
            std::string::npos);
  EXPECT_NE(reports[0].find("<e.Message>Socket Error # 11001\r\nHost not found.</e.Message>"),
            std::string::npos);
  EXPECT_NE(reports[0].find("<ClassName>EIdSocketError</ClassName>"), std::string::npos);
  EXPECT_EQ(env_.speaker.tones.size(), 4u);
  // The report's own announcement is the only datagram.
  ASSERT_EQ(env_.network.sent.size(), 1u);
  EXPECT_NE(env_.network.sent[0].payload.find("Func=toolbelt.UniticastUDPPacket Trace=200"),
            std::string::npos);
}

TEST_F(SyslogTest, SendFailuresReportedUnlessNetworkUnreachable) {
  struct Case {
    int error;
    bool reported;
  } cases[] = {{kWsaNetUnreachable, false}, {10013, true}, {10065, true}, {kWsaConnReset, true}};
  for (const auto& c : cases) {
    FakeEnv env;
    env.network.send_error = c.error;
    EXPECT_EQ(UniticastUDPPacket(env.ctx, "p", "192.0.2.1", 514), kUdpSendFailed);
    size_t reports = 0;
    for (const auto& f : env.files.files())
      reports += f.second.find("UniticastUDPPacket:300") != std::string::npos;
    EXPECT_EQ(reports, c.reported ? 1u : 0u) << c.error;
    EXPECT_EQ(env.speaker.tones.size(), c.reported ? 4u : 0u) << c.error;
  }
}

TEST_F(SyslogTest, UnicastEdgeCases) {
  EXPECT_EQ(UniticastUDPPacket(ctx_, "p", "10.0.0.1", 0), kUdpSendFailed);
  EXPECT_EQ(UniticastUDPPacket(ctx_, "p", "10.0.0.1", -514), kUdpSendFailed);
  EXPECT_TRUE(env_.network.sent.empty());
  EXPECT_TRUE(Reports().empty());
  // Past the last port: refused, not wrapped round to another port.
  EXPECT_EQ(UniticastUDPPacket(ctx_, "p", "10.0.0.1", 65536 + 514), kUdpSendFailed);
  EXPECT_TRUE(env_.network.sent.size() == 1u && env_.network.sent[0].to_port == 514 &&
              env_.network.sent[0].payload.find("EXCEPTION:") != std::string::npos);
  // No host: the limited broadcast address, sent once without binding.
  env_.network.sent.clear();
  EXPECT_EQ(UniticastUDPPacket(ctx_, "p", "", 600), 0);
  ASSERT_EQ(env_.network.sent.size(), 1u);
  EXPECT_EQ(env_.network.sent[0].to_ipv4, "255.255.255.255");
  EXPECT_EQ(env_.network.sent[0].local_ipv4, "");
}

TEST_F(SyslogTest, CallerCarriesOnAfterAFailedName) {
  PostSyslogMsg(ctx_, Message(72000, "phone home"), "no-such-host.invalid");
  PostSyslogMsg(ctx_, Message(72000, "phone home"), "");
  EXPECT_EQ(ctx_.settings.SyslogSequence, 3);  // the report's announcement took number 2
  ASSERT_EQ(env_.network.sent.size(), 2u);
  EXPECT_EQ(env_.network.sent[1].payload.substr(0, 19), "<7>VOZIvazure:00003");
}

// The real sockets, on loopback of the private namespace the test run provides.
TEST(SyslogSystemNetworkTest, UnicastOnLoopbackArrivesByteForByte) {
  TW_REQUIRE_PRIVATE_NETWORK();
  FakeEnv env;
  std::unique_ptr<Network> net = NewSystemNetwork();
  env.ctx.env.network = net.get();
  NetError error;
  auto receiver = net->OpenUdp(&error);
  ASSERT_TRUE(receiver && receiver->Bind("127.0.0.1", 40514, &error)) << error.message;

  PostSyslogMsg(env.ctx, Message(71001, "[Function=TVOZIvazure.ServiceStart]", 40514), "localhost");
  std::string payload, from;
  uint16_t from_port = 0;
  ASSERT_TRUE(receiver->ReceiveFrom(65536, 2000, &payload, &from, &from_port, &error))
      << error.message;
  EXPECT_EQ(payload,
            "<7>VOZIvazure:00001 [Function=TVOZIvazure.ServiceStart] H=\"SRV1\" (ID=71001)");
  EXPECT_EQ(from, "127.0.0.1");
}

TEST(SyslogSystemNetworkTest, UnreachableNetworkAndUnknownName) {
  TW_REQUIRE_PRIVATE_NETWORK();
  FakeEnv env;
  std::unique_ptr<Network> net = NewSystemNetwork();
  env.ctx.env.network = net.get();
  // The namespace has no route beyond loopback: 10051, which passes without a report.
  EXPECT_EQ(UniticastUDPPacket(env.ctx, "p", "192.0.2.1", 514), kUdpSendFailed);
  EXPECT_TRUE(env.files.writes.empty());
  EXPECT_TRUE(env.speaker.tones.empty());

  EXPECT_EQ(UniticastUDPPacket(env.ctx, "p", "no-such-host.invalid", 514), kUdpSendFailed);
  ASSERT_EQ(env.files.writes.size(), 1u);
  EXPECT_NE(env.files.writes[0].data.find("<Function>toolbelt.UniticastUDPPacket:200</Function>"),
            std::string::npos);
  EXPECT_EQ(env.speaker.tones.size(), 4u);
}

}  // namespace
}  // namespace tw
