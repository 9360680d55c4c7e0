#include "snmp/snmp.h"

#include <gtest/gtest.h>

#include <functional>

#include "snmp/session.h"
#include "tests/snmp_messages.h"
#include "toolbelt/failure.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

using snmp_test::Binding;
using snmp_test::Bytes;
using snmp_test::GaugeAnswer;
using snmp_test::Message;
using snmp_test::TemperatureOid;
using snmp_test::Tlv;
using snmp_test::VoltageOid;

tSNMPRec Temperature(const std::string& host = "10.0.0.9",
                     const std::string& community = "public") {
  return {kOidUpsTemperature, community, host};
}

FakeNetwork::Answer From(const std::string& payload, const std::string& ip = "10.0.0.9",
                         uint16_t port = 161) {
  return {payload, ip, port, 0};
}

std::string WithoutLastOctet(const std::string& datagram) {
  return datagram.substr(0, datagram.size() - 1);
}

FakeNetwork::Answer Error(int code) { return {"", "", 0, code}; }

std::string ClassOf(Context& ctx, const tSNMPRec& rec, std::string* message = nullptr) {
  try {
    SNMPQuery(ctx, rec);
  } catch (const Fault& f) {
    if (message != nullptr) *message = f.what();
    return f.class_name();
  }
  return "";
}

TEST(SnmpTest, OneRequestOneAnswer) {
  FakeEnv env;
  env.network.answers.push_back(From(GaugeAnswer("public", 27)));
  EXPECT_EQ(SNMPSend(env.ctx, Temperature()), "27");

  ASSERT_EQ(env.network.sent.size(), 1u);
  const FakeNetwork::Datagram& d = env.network.sent[0];
  EXPECT_EQ(d.to_ipv4, "10.0.0.9");
  EXPECT_EQ(d.to_port, 161);
  EXPECT_FALSE(d.broadcast_enabled);
  std::string request;
  ASSERT_TRUE(EncodeGetRequest("public", kOidUpsTemperature, &request));
  EXPECT_EQ(d.payload, request);
  EXPECT_EQ(d.payload.size(), 46u);
  // The first wait lasts until the request is due again.
  EXPECT_EQ(env.network.receive_timeouts, std::vector<uint32_t>{1000});
  EXPECT_EQ(env.network.open_sockets, 0);
}

TEST(SnmpTest, HostNamesResolveAndEmptyCommunityIsSent) {
  FakeEnv env;
  env.network.hosts["ups-card"] = "10.0.0.9";
  env.network.answers.push_back(
      From(Message("", Binding(VoltageOid(), Tlv(0x42, Bytes({0x00, 0xE6}))))));
  EXPECT_EQ(SNMPSend(env.ctx, {kOidUpsInputVoltage, "", "ups-card"}), "230");
  ASSERT_EQ(env.network.sent.size(), 1u);
  EXPECT_EQ(env.network.sent[0].to_ipv4, "10.0.0.9");
  EXPECT_EQ(env.network.sent[0].payload.size(), 40u);
}

// What the query makes of the answers it gets: outcome and text.
TEST(SnmpTest, AnswersAndTheirOutcomes) {
  struct Case {
    const char* name;
    std::vector<FakeNetwork::Answer> answers;
    tSNMPOutcome outcome;
    std::string text;
    int32_t ignored = 0;  // answers passed over because they are not about the object
  };
  const std::string temp = TemperatureOid();
  const Case cases[] = {
      {"no answer", {}, tSNMPOutcome::kNoAnswer, ""},
      {"connection reset", {Error(kWsaConnReset)}, tSNMPOutcome::kConnectionReset, ""},
      {"noSuchName",
       {From(Message("public", Binding(temp, Tlv(0x05, "")), 0, 2))},
       tSNMPOutcome::kNotProvided,
       ""},
      {"genErr",
       {From(Message("public", Binding(temp, Tlv(0x05, "")), 0, 5))},
       tSNMPOutcome::kErrorStatus,
       ""},
      {"NULL binding",
       {From(Message("public", Binding(temp, Tlv(0x05, ""))))},
       tSNMPOutcome::kValue,
       ""},
      {"Gauge 4294967295",
       {From(Message("public", Binding(temp, Tlv(0x42, Bytes({0, 0xFF, 0xFF, 0xFF, 0xFF})))))},
       tSNMPOutcome::kValue,
       "-1"},
      // An answer that does not name the object is not the answer: the wait goes on.
      {"another object only",
       {From(Message("public", Binding(VoltageOid(), Tlv(0x42, Bytes({27})))))},
       tSNMPOutcome::kNoAnswer,
       "",
       1},
      {"another object, then the object",
       {From(Message("public", Binding(VoltageOid(), Tlv(0x42, Bytes({27}))))),
        From(Message("public", Binding(VoltageOid(), Tlv(0x42, Bytes({28}))), 0, 2)),
        From(GaugeAnswer("public", 29))},
       tSNMPOutcome::kValue,
       "29",
       2},
      {"the object second",
       {From(Message("public", Binding(VoltageOid(), Tlv(0x42, Bytes({1}))) +
                                   Binding(temp, Tlv(0x42, Bytes({2}))) +
                                   Binding(temp, Tlv(0x42, Bytes({3})))))},
       tSNMPOutcome::kValue,
       "2"},
      {"no bindings", {From(Message("public", ""))}, tSNMPOutcome::kNoAnswer, "", 1},
      {"value cut short",
       {From(WithoutLastOctet(GaugeAnswer("public", 27)))},
       tSNMPOutcome::kValue,
       ""},
      {"another community is not the answer",
       {From(GaugeAnswer("private", 27))},
       tSNMPOutcome::kNoAnswer,
       "",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    env.network.answers.assign(c.answers.begin(), c.answers.end());
    const tSNMPResult r = SNMPQuery(env.ctx, Temperature());
    EXPECT_EQ(r.Outcome, c.outcome);
    EXPECT_EQ(r.Text, c.text);
    EXPECT_EQ(r.Ignored, c.ignored);
    env.network.answers.assign(c.answers.begin(), c.answers.end());
    EXPECT_EQ(SNMPSend(env.ctx, Temperature()), c.text);
    EXPECT_EQ(env.network.open_sockets, 0);
  }
}

// Versions 1 and 2c: only an answer with the request's version, community and request-id is
// the answer. Version 1 keeps its octets (request-id 0); version 2c draws a request-id per
// request.
TEST(SnmpTest, AnswersAreBoundToTheRequest) {
  for (const bool v2c : {false, true}) {
    SCOPED_TRACE(v2c ? "2c" : "1");
    FakeEnv env;
    SnmpSession session;
    ASSERT_TRUE(
        ConfigureSnmpSession(env.ctx, {v2c ? "2c" : "1", "", "", "", "", "", ""}, &session));
    tSNMPRec rec = Temperature();
    rec.Session = &session;
    int32_t id = 0;
    const auto answer = [&](int version, const std::string& community, int32_t request_id) {
      std::string a =
          Message(community, Binding(TemperatureOid(), Tlv(0x42, Bytes({27}))), request_id);
      a[4] = static_cast<char>(version);
      return From(a);
    };
    env.network.responder = [&](const FakeNetwork::Datagram& request, FakeNetwork::Answer* a) {
      tSNMPMessage m;
      EXPECT_TRUE(DecodeSnmpMessage(request.payload, &m));
      id = m.RequestID;
      const int version = v2c ? 1 : 0;
      env.network.answers = {answer(1 - version, "public", id), answer(version, "private", id),
                             answer(version, "public", id + 1), answer(version, "public", id)};
      *a = env.network.answers.front();
      env.network.answers.pop_front();
      return true;
    };
    const tSNMPResult r = SNMPQuery(env.ctx, rec);
    EXPECT_EQ(r.Text, "27");
    EXPECT_EQ(r.Ignored, 3);
    if (!v2c) {
      EXPECT_EQ(id, 0);
      std::string request;
      ASSERT_TRUE(EncodeGetRequest("public", kOidUpsTemperature, &request));
      EXPECT_EQ(env.network.sent[0].payload, request);
    } else {
      EXPECT_NE(id, 0);
      const int32_t first = id;
      SNMPQuery(env.ctx, rec);
      EXPECT_NE(id, first);
    }
  }
}

// A lost datagram is sent again, the same octets, after 1 s and 2.5 s; the wait stays 5 s.
TEST(SnmpTest, RetransmissionWithinTheWait) {
  struct Case {
    const char* name;
    size_t lost;  // datagrams the network loses
    const char* text;
    size_t sent;
    std::vector<uint32_t> waits;
  };
  const Case cases[] = {
      {"none lost", 0, "27", 1, {1000}},
      {"one lost", 1, "27", 2, {1000, 1500}},
      {"two lost", 2, "27", 3, {1000, 1500, 2500}},
      {"all lost", 3, "", 3, {1000, 1500, 2500}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    bool answered = false;
    env.network.responder = [&](const FakeNetwork::Datagram&, FakeNetwork::Answer* a) {
      // Each receive that times out takes its whole wait.
      if (env.network.sent.size() <= c.lost || answered) {
        env.clock.Advance(env.network.receive_timeouts.back());
        return false;
      }
      *a = From(GaugeAnswer("public", 27));
      answered = true;
      return true;
    };
    const tSNMPResult r = SNMPQuery(env.ctx, Temperature());
    EXPECT_EQ(r.Text, c.text);
    EXPECT_EQ(env.network.sent.size(), c.sent);
    EXPECT_EQ(r.Retransmissions, static_cast<int32_t>(c.sent - 1));
    EXPECT_EQ(env.network.receive_timeouts, c.waits);
    for (const auto& d : env.network.sent) EXPECT_EQ(d.payload, env.network.sent[0].payload);
  }
}

// An answer from another port of the card's address is refused, and named.
TEST(SnmpTest, AnswerFromAnotherPortIsNamed) {
  FakeEnv env;
  env.network.answers = {From(GaugeAnswer("public", 27), "10.0.0.9", 1161)};
  std::string message;
  EXPECT_EQ(ClassOf(env.ctx, Temperature(), &message), "ESNMPError");
  EXPECT_EQ(message, "no answer from 10.0.0.9 port 161 (an answer came from port 1161)");
  // The port setting moves the request, and the answer from it counts.
  tSNMPRec rec = Temperature();
  rec.Port = 1161;
  env.network.answers = {From(GaugeAnswer("public", 27), "10.0.0.9", 1161)};
  EXPECT_EQ(SNMPQuery(env.ctx, rec).Text, "27");
  EXPECT_EQ(env.network.sent.back().to_port, 1161);
}

TEST(SnmpTest, OnlyTheCardsGetResponseWithRequestIdZeroIsTheAnswer) {
  FakeEnv env;
  const std::string answer = GaugeAnswer("public", 27);
  env.network.answers = {
      From(GaugeAnswer("public", 1), "10.0.0.66"),       // another address
      From(GaugeAnswer("public", 2), "10.0.0.9", 1161),  // another port
      From(Message("public", Binding(TemperatureOid(), Tlv(0x42, Bytes({3}))), 7)),  // id 7
      From(Message("public", Binding(TemperatureOid(), Tlv(0x42, Bytes({4}))), 0, 0,
                   0xA0)),              // a GetRequest
      From(answer.substr(0, 20)),       // cut inside the header
      From(Bytes({0x00, 0x01, 0x02})),  // not SNMP at all
      From(answer),
  };
  std::string message;
  EXPECT_EQ(ClassOf(env.ctx, Temperature(), &message), "");
  env.network.answers = {
      From(GaugeAnswer("public", 1), "10.0.0.66"),  // another address
      From(Message("public", Binding(TemperatureOid(), Tlv(0x42, Bytes({3}))), 7)),  // id 7
      From(Message("public", Binding(TemperatureOid(), Tlv(0x42, Bytes({4}))), 0, 0,
                   0xA0)),              // a GetRequest
      From(answer.substr(0, 20)),       // cut inside the header
      From(Bytes({0x00, 0x01, 0x02})),  // not SNMP at all
      From(answer),
  };
  const tSNMPResult r = SNMPQuery(env.ctx, Temperature());
  EXPECT_EQ(r.Outcome, tSNMPOutcome::kValue);
  EXPECT_EQ(r.Text, "27");
  EXPECT_EQ(r.Ignored, 5);
  EXPECT_EQ(env.network.receive_timeouts.size(), 13u);
  EXPECT_TRUE(env.network.answers.empty());

  // The same strays without the answer: nothing acceptable came.
  env.network.answers = {From(GaugeAnswer("public", 1), "10.0.0.66"),
                         From(Message("public", "", 1))};
  const tSNMPResult none = SNMPQuery(env.ctx, Temperature());
  EXPECT_EQ(none.Outcome, tSNMPOutcome::kNoAnswer);
  EXPECT_EQ(none.Ignored, 2);
}

// Forwards to the fake network; every receive lets `step_ms` pass on the fake clock, as a
// datagram arriving after that long would.
class SlowNetwork : public Network {
 public:
  SlowNetwork(FakeNetwork* base, FakeClock* clock, uint32_t step_ms)
      : base_(base), clock_(clock), step_ms_(step_ms) {}

  std::unique_ptr<UdpSocket> OpenUdp(NetError* error) override {
    std::unique_ptr<UdpSocket> inner = base_->OpenUdp(error);
    if (!inner) return nullptr;
    return std::make_unique<Socket>(std::move(inner), clock_, step_ms_);
  }
  bool ResolveIPv4(const std::string& host, std::string* ipv4, NetError* error) override {
    return base_->ResolveIPv4(host, ipv4, error);
  }
  std::vector<std::string> LocalIPv4Addresses() override { return base_->LocalIPv4Addresses(); }
  std::unique_ptr<TcpConnection> ConnectTcp(const std::string& host, uint16_t port,
                                            uint32_t timeout_ms, NetError* error) override {
    return base_->ConnectTcp(host, port, timeout_ms, error);
  }

 private:
  class Socket : public UdpSocket {
   public:
    Socket(std::unique_ptr<UdpSocket> inner, FakeClock* clock, uint32_t step_ms)
        : inner_(std::move(inner)), clock_(clock), step_ms_(step_ms) {}
    bool Bind(const std::string& a, uint16_t p, NetError* e) override {
      return inner_->Bind(a, p, e);
    }
    bool EnableBroadcast(NetError* e) override { return inner_->EnableBroadcast(e); }
    bool Connect(const std::string& a, uint16_t p, NetError* e) override {
      return inner_->Connect(a, p, e);
    }
    bool SendTo(const std::string& a, uint16_t p, const std::string& d, NetError* e) override {
      return inner_->SendTo(a, p, d, e);
    }
    bool ReceiveFrom(size_t max, uint32_t timeout, std::string* d, std::string* from,
                     uint16_t* port, NetError* e) override {
      clock_->Advance(std::min(step_ms_, timeout));
      return inner_->ReceiveFrom(max, timeout, d, from, port, e);
    }

   private:
    std::unique_ptr<UdpSocket> inner_;
    FakeClock* clock_;
    uint32_t step_ms_;
  };

  FakeNetwork* base_;
  FakeClock* clock_;
  uint32_t step_ms_;
};

TEST(SnmpTest, StrayDatagramsDoNotExtendTheWait) {
  FakeEnv env;
  env.clock.set_tick(0xFFFFF000u);  // the tick count wraps during the wait
  SlowNetwork slow(&env.network, &env.clock, 1500);
  env.ctx.env.network = &slow;
  for (int i = 0; i < 5; ++i)
    env.network.answers.push_back(From(GaugeAnswer("public", 1), "10.0.0.66"));
  const tSNMPResult r = SNMPQuery(env.ctx, Temperature());
  EXPECT_EQ(r.Outcome, tSNMPOutcome::kNoAnswer);
  EXPECT_EQ(r.Ignored, 4);
  // Until the first resend, the second, then the end of the wait.
  EXPECT_EQ(env.network.receive_timeouts, (std::vector<uint32_t>{1000, 1500, 2500, 1000}));
  EXPECT_EQ(env.network.answers.size(), 1u);
}

TEST(SnmpTest, FailuresThatAreReported) {
  struct Case {
    const char* name;
    std::function<void(FakeEnv&)> setup;
    tSNMPRec rec;
    const char* class_name;
    const char* message;
  };
  const Case cases[] = {
      {"unknown host", [](FakeEnv&) {}, Temperature("no-such-card"), "ESocketError",
       "Socket Error # 11001\r\nHost not found."},
      {"socket cannot be opened", [](FakeEnv& e) { e.network.open_error = 10024; }, Temperature(),
       "ESocketError", "Socket Error # 10024\r\nToo many open files."},
      {"send fails", [](FakeEnv& e) { e.network.send_error = kWsaNetUnreachable; }, Temperature(),
       "ESocketError", "Socket Error # 10051\r\nNetwork is unreachable."},
      {"receive fails", [](FakeEnv& e) { e.network.answers.push_back(Error(10065)); },
       Temperature(), "ESocketError", "Socket Error # 10065\r\nNo route to host."},
      {"no identifier",
       [](FakeEnv&) {},
       {"1.3.6.x", "public", "10.0.0.9"},
       "EConvertError",
       "\"1.3.6.x\" is not a valid object identifier"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    c.setup(env);
    std::string message;
    EXPECT_EQ(ClassOf(env.ctx, c.rec, &message), c.class_name);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(env.network.open_sockets, 0);
    // SNMPSend reports it and carries on with empty text.
    FakeEnv again;
    c.setup(again);
    EXPECT_EQ(SNMPSend(again.ctx, c.rec), "");
    EXPECT_EQ(again.network.open_sockets, 0);
  }
}

TEST(SnmpTest, ResetOnSendIsNoAnswerEither) {
  FakeEnv env;
  env.network.send_error = kWsaConnReset;
  EXPECT_EQ(SNMPQuery(env.ctx, Temperature()).Outcome, tSNMPOutcome::kConnectionReset);
}

TEST(SnmpTest, EmptyHostSendsNothing) {
  FakeEnv env;
  env.network.answers.push_back(From(GaugeAnswer("public", 27)));
  const tSNMPResult r = SNMPQuery(env.ctx, Temperature(""));
  EXPECT_EQ(r.Outcome, tSNMPOutcome::kNoHost);
  EXPECT_EQ(SNMPSend(env.ctx, Temperature("")), "");
  EXPECT_TRUE(env.network.sent.empty());
  EXPECT_TRUE(env.network.receive_timeouts.empty());
}

TEST(SnmpTest, AnswerLargerThanTheBuffer) {
  FakeEnv env;
  // The object first, then padding that runs past 8192 octets: the datagram arrives cut to
  // the buffer and the object still reads.
  const std::string bindings = Binding(TemperatureOid(), Tlv(0x42, Bytes({27}))) +
                               Binding(VoltageOid(), Tlv(0x04, std::string(9000, 'x')));
  env.network.answers.push_back(From(Message("public", bindings)));
  EXPECT_EQ(SNMPSend(env.ctx, Temperature()), "27");
}

}  // namespace
}  // namespace tw
