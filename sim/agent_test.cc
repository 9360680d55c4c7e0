#include "sim/agent.h"

#include <gtest/gtest.h>

#include "snmp/ber.h"
#include "snmp/snmp.h"
#include "tests/snmp_messages.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

using snmp_test::Binding;
using snmp_test::Bytes;
using snmp_test::Message;
using snmp_test::TemperatureOid;
using snmp_test::Tlv;
using snmp_test::VoltageOid;

const std::string kEmpty = Bytes({0x04, 0x00});  // the value placeholder the service sends
const std::string kSysName = Bytes({0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00});

class AgentTest : public ::testing::Test {
 protected:
  AgentTest() {
    options_.temps = {25, 29, 31};
    options_.volts = {230, 0, 230};
  }

  std::string Request(const std::string& community, const std::string& bindings,
                      int32_t request_id = 0, int pdu_tag = 0xA0) {
    return Message(community, bindings, request_id, 0, pdu_tag);
  }

  FakeClock clock_;
  UpsSimOptions options_;
};

TEST_F(AgentTest, AnswersTheServicesRequestWithAGauge) {
  SimulatedUps ups(options_, clock_);
  std::string request;
  ASSERT_TRUE(EncodeGetRequest("public", kOidUpsTemperature, &request));
  const AgentAnswer answer = AnswerRequest(request, "public", ups);
  EXPECT_EQ(answer.verdict, AgentVerdict::kAnswered);
  EXPECT_EQ(answer.note, "temperature=25");
  const std::string expected = Bytes({
      0x30, 0x2D,                                     // SEQUENCE, 45 octets
      0x02, 0x01, 0x00,                               //   version 0
      0x04, 0x06, 'p',  'u',  'b',  'l',  'i',  'c',  //   community "public"
      0xA2, 0x20,                                     //   GetResponse-PDU, 32 octets
      0x02, 0x01, 0x00,                               //     request-id 0, as asked
      0x02, 0x01, 0x00,                               //     error-status 0
      0x02, 0x01, 0x00,                               //     error-index 0
      0x30, 0x15,                                     //     binding list, 21 octets
      0x30, 0x13,                                     //       binding, 19 octets
      0x06, 0x0E,                                     //         OBJECT IDENTIFIER
      0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x3E,       //           1.3.6.1.4.1.318
      0x01, 0x01, 0x01, 0x02, 0x02, 0x02, 0x00,       //           .1.1.1.2.2.2.0
      0x42, 0x01, 0x19,                               //         Gauge 25
  });
  EXPECT_EQ(answer.reply, expected);
}

TEST_F(AgentTest, ValuesInTheOrderAskedAndTheRequestIdEchoed) {
  SimulatedUps ups(options_, clock_);
  const std::string both = Binding(VoltageOid(), kEmpty) + Binding(TemperatureOid(), kEmpty);
  const AgentAnswer answer = AnswerRequest(Request("public", both, 4711), "public", ups);
  ASSERT_EQ(answer.verdict, AgentVerdict::kAnswered);
  EXPECT_EQ(answer.note, "voltage=230 temperature=25");
  tSNMPMessage m;
  ASSERT_TRUE(DecodeSnmpMessage(answer.reply, &m));
  EXPECT_EQ(m.PDUType, kSnmpGetResponse);
  EXPECT_EQ(m.RequestID, 4711);
  EXPECT_EQ(m.ErrorStatus, 0);
  ASSERT_EQ(m.Bindings.size(), 2u);
  EXPECT_EQ(m.Bindings[0].OID, kOidUpsInputVoltage);
  EXPECT_EQ(m.Bindings[0].Value, "230");
  EXPECT_EQ(m.Bindings[1].OID, kOidUpsTemperature);
  EXPECT_EQ(m.Bindings[1].Value, "25");
}

TEST_F(AgentTest, OtherObjectsGetNoSuchNameAndUseUpNoValue) {
  SimulatedUps ups(options_, clock_);
  const std::string bindings = Binding(TemperatureOid(), kEmpty) + Binding(kSysName, kEmpty);
  AgentAnswer answer = AnswerRequest(Request("public", bindings, 9), "public", ups);
  ASSERT_EQ(answer.verdict, AgentVerdict::kNoSuchName);
  EXPECT_EQ(answer.note, "noSuchName 1.3.6.1.2.1.1.5.0");
  tSNMPMessage m;
  ASSERT_TRUE(DecodeSnmpMessage(answer.reply, &m));
  EXPECT_EQ(m.RequestID, 9);
  EXPECT_EQ(m.ErrorStatus, kSnmpNoSuchName);
  EXPECT_EQ(m.ErrorIndex, 2);
  ASSERT_EQ(m.Bindings.size(), 2u);  // echoed
  EXPECT_EQ(m.Bindings[1].OID, "1.3.6.1.2.1.1.5.0");
  EXPECT_EQ(AnswerResult(m, kOidUpsTemperature).Outcome, tSNMPOutcome::kNotProvided);

  // The refused request took no value from the script.
  answer = AnswerRequest(Request("public", Binding(TemperatureOid(), kEmpty)), "public", ups);
  EXPECT_EQ(answer.note, "temperature=25");
}

TEST_F(AgentTest, WhatGetsNoAnswerOrNoSuchName) {
  const std::string temp = Binding(TemperatureOid(), kEmpty);
  const std::string v2c = Tlv(0x30, Tlv(0x02, Bytes({1})) + Tlv(0x04, "public") +
                                        Tlv(0xA0, Tlv(0x02, Bytes({0})) + Tlv(0x02, Bytes({0})) +
                                                      Tlv(0x02, Bytes({0})) + Tlv(0x30, temp)));
  std::string service_request;
  ASSERT_TRUE(EncodeGetRequest("public", kOidUpsTemperature, &service_request));
  struct Case {
    const char* name;
    std::string datagram;
    AgentVerdict verdict;
    int32_t error_index;  // of a noSuchName answer
  };
  const Case cases[] = {
      {"wrong community", Request("private", temp), AgentVerdict::kWrongCommunity, 0},
      {"community differs in case", Request("Public", temp), AgentVerdict::kWrongCommunity, 0},
      {"empty community", Request("", temp), AgentVerdict::kWrongCommunity, 0},
      {"version 2c", v2c, AgentVerdict::kNotSnmp, 0},
      {"empty datagram", "", AgentVerdict::kNotSnmp, 0},
      {"garbage", "hello", AgentVerdict::kNotSnmp, 0},
      {"cut short", service_request.substr(0, 20), AgentVerdict::kNotSnmp, 0},
      {"trailing octet", service_request + "x", AgentVerdict::kNotSnmp, 0},
      {"a response", Request("public", temp, 0, 0xA2), AgentVerdict::kNotARequest, 0},
      {"a trap", Request("public", temp, 0, 0xA4), AgentVerdict::kNotARequest, 0},
      {"get-next", Request("public", temp, 0, 0xA1), AgentVerdict::kNoSuchName, 1},
      {"set", Request("public", temp, 0, 0xA3), AgentVerdict::kNoSuchName, 1},
      {"unreadable identifier", Request("public", Binding(Bytes({0x81}), kEmpty)),
       AgentVerdict::kNoSuchName, 1},
  };
  for (const Case& c : cases) {
    SimulatedUps ups(options_, clock_);
    const AgentAnswer answer = AnswerRequest(c.datagram, "public", ups);
    EXPECT_EQ(answer.verdict, c.verdict) << c.name;
    if (c.verdict == AgentVerdict::kNoSuchName) {
      tSNMPMessage m;
      ASSERT_TRUE(DecodeSnmpMessage(answer.reply, &m)) << c.name;
      EXPECT_EQ(m.ErrorStatus, kSnmpNoSuchName) << c.name;
      EXPECT_EQ(m.ErrorIndex, c.error_index) << c.name;
    } else {
      EXPECT_EQ(answer.reply, "") << c.name;
    }
    EXPECT_EQ(ups.NextTemperature(), 25u) << c.name << ": a value was used up";
  }
}

TEST_F(AgentTest, EveryTruncationOfARequestIsHandled) {
  std::string request;
  ASSERT_TRUE(EncodeGetRequest("public", kOidUpsInputVoltage, &request));
  for (size_t n = 0; n < request.size(); ++n) {
    SimulatedUps ups(options_, clock_);
    const AgentAnswer answer = AnswerRequest(request.substr(0, n), "public", ups);
    EXPECT_EQ(answer.verdict, AgentVerdict::kNotSnmp) << n;
  }
}

// The service's own query against the agent, through the fake network: the whole exchange of
// datagrams as SNMPSend makes it, without sockets.
TEST_F(AgentTest, ServicesQueryReadsTheScript) {
  FakeEnv env;
  SimulatedUps ups(options_, env.clock);
  env.network.responder = [&](const FakeNetwork::Datagram& request, FakeNetwork::Answer* out) {
    const AgentAnswer answer = AnswerRequest(request.payload, "public", ups);
    if (answer.reply.empty()) return false;
    *out = {answer.reply, request.to_ipv4, kSnmpPort, 0};
    return true;
  };
  tSNMPRec rec{kOidUpsTemperature, "public", "10.0.0.9"};
  EXPECT_EQ(SNMPSend(env.ctx, rec), "25");
  EXPECT_EQ(SNMPSend(env.ctx, rec), "29");
  rec.OID = kOidUpsInputVoltage;
  EXPECT_EQ(SNMPSend(env.ctx, rec), "230");
  EXPECT_EQ(SNMPSend(env.ctx, rec), "0");
  rec.OID = "1.3.6.1.4.1.318.1.1.1.2.2.3.0";
  EXPECT_EQ(SNMPQuery(env.ctx, rec).ErrorStatus, kSnmpNoSuchName);
  rec = {kOidUpsTemperature, "private", "10.0.0.9"};
  EXPECT_EQ(SNMPQuery(env.ctx, rec).Outcome, tSNMPOutcome::kNoAnswer);
}

TEST_F(AgentTest, ServesEachSenderAndCarriesOnAfterErrors) {
  FakeNetwork net;
  NetError error;
  std::unique_ptr<UdpSocket> socket = net.OpenUdp(&error);
  std::string get_temp, get_volts;
  ASSERT_TRUE(EncodeGetRequest("public", kOidUpsTemperature, &get_temp));
  ASSERT_TRUE(EncodeGetRequest("public", kOidUpsInputVoltage, &get_volts));
  net.answers = {
      {get_temp, "10.0.0.5", 40000, 0},
      {"", "", 0, kWsaConnReset},  // an earlier client's port was closed (Windows says so)
      {Request("private", Binding(TemperatureOid(), kEmpty)), "10.0.0.6", 40001, 0},
      {get_volts, "10.0.0.7", 40002, 0},
  };
  SimulatedUps ups(options_, clock_);
  int rounds = 0;
  std::vector<std::string> lines;
  AgentCounts counts;
  ASSERT_TRUE(ServeAgent(
      *socket, "public", ups, 200, [&] { return ++rounds <= 6; },
      [&](const std::string& line) { lines.push_back(line); }, &counts, &error));
  ASSERT_EQ(net.sent.size(), 2u);
  EXPECT_EQ(net.sent[0].to_ipv4, "10.0.0.5");
  EXPECT_EQ(net.sent[0].to_port, 40000);
  EXPECT_EQ(net.sent[1].to_ipv4, "10.0.0.7");
  EXPECT_EQ(net.sent[1].to_port, 40002);
  EXPECT_EQ(counts.answered, 2u);
  EXPECT_EQ(counts.dropped, 1u);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "10.0.0.5:40000 temperature=25",
                       "10.0.0.6:40001 dropped: community \"private\" not accepted",
                       "10.0.0.7:40002 voltage=230",
                   }));
  EXPECT_EQ(net.receive_timeouts, std::vector<uint32_t>(6, 200));

  // A socket that fails for good ends the service with its error.
  net.answers = {{"", "", 0, 10022}};
  rounds = 0;
  EXPECT_FALSE(ServeAgent(
      *socket, "public", ups, 200, [&] { return ++rounds <= 6; }, nullptr, &counts, &error));
  EXPECT_EQ(error.code, 10022);
}

}  // namespace
}  // namespace tw
