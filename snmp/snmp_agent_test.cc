// SNMPSend against agents of our own on loopback, for the answers Debian's snmpd never gives.
#include <gtest/gtest.h>

#include <thread>

#include "platform/network.h"
#include "snmp/snmp.h"
#include "tests/isolation.h"
#include "tests/snmp_messages.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

using snmp_test::Binding;
using snmp_test::Bytes;
using snmp_test::GaugeAnswer;
using snmp_test::Message;
using snmp_test::TemperatureOid;
using snmp_test::Tlv;

constexpr char kAgent[] = "127.0.0.2";
constexpr char kStranger[] = "127.0.0.3";

struct Reply {
  std::string from;  // the agent's own address for its port 161, else another sender
  std::string payload;
};

// Waits (at most 3 s) for one request on kAgent:161 and answers it with the scripted replies,
// in order, each to the address and port the request came from.
class ScriptedAgent {
 public:
  explicit ScriptedAgent(Network* net) : net_(net) {
    socket_ = net_->OpenUdp(&error_);
    bound_ = socket_ && socket_->Bind(kAgent, kSnmpPort, &error_);
  }
  ~ScriptedAgent() {
    if (thread_.joinable()) thread_.join();
  }
  bool bound() const { return bound_; }
  const std::string& error() const { return error_.message; }

  void Answer(std::vector<Reply> replies) {
    thread_ = std::thread([this, replies] {
      std::string client;
      uint16_t client_port = 0;
      NetError e;
      if (!socket_->ReceiveFrom(8192, 3000, &request_, &client, &client_port, &e)) return;
      for (const Reply& r : replies) {
        if (r.from == kAgent) {
          socket_->SendTo(client, client_port, r.payload, &e);
          continue;
        }
        std::unique_ptr<UdpSocket> other = net_->OpenUdp(&e);
        if (other && other->Bind(r.from, kSnmpPort, &e)) {
          other->SendTo(client, client_port, r.payload, &e);
        }
      }
    });
  }
  // The request as received; read it after the query returned.
  std::string request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  Network* net_;
  NetError error_;
  std::unique_ptr<UdpSocket> socket_;
  bool bound_ = false;
  std::thread thread_;
  std::string request_;
};

class SnmpAgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    net_ = NewSystemNetwork();
    clock_ = NewSystemClock();
    env_.ctx.env.network = net_.get();
    env_.ctx.env.clock = clock_.get();
  }

  std::unique_ptr<Network> net_;
  std::unique_ptr<Clock> clock_;
  FakeEnv env_;
};

TEST_F(SnmpAgentTest, ScriptedAnswers) {
  TW_REQUIRE_PRIVATE_NETWORK();
  const std::string temp = TemperatureOid();
  const std::string answer = GaugeAnswer("public", 27);
  struct Case {
    const char* name;
    std::string community;
    std::vector<Reply> replies;
    tSNMPOutcome outcome;
    std::string text;
    int32_t ignored;
  };
  const Case cases[] = {
      {"empty community", "", {{kAgent, GaugeAnswer("", 27)}}, tSNMPOutcome::kValue, "27", 0},
      {"NULL binding",
       "public",
       {{kAgent, Message("public", Binding(temp, Tlv(0x05, "")))}},
       tSNMPOutcome::kValue,
       "",
       0},
      {"Gauge 4294967295 prints -1",
       "public",
       {{kAgent, Message("public", Binding(temp, Tlv(0x42, Bytes({0, 0xFF, 0xFF, 0xFF, 0xFF}))))}},
       tSNMPOutcome::kValue,
       "-1",
       0},
      // The socket is not connected (so that another port of the card can be named): the
      // stranger's datagram arrives and is passed over.
      {"another address answers first",
       "public",
       {{kStranger, GaugeAnswer("public", 99)}, {kAgent, answer}},
       tSNMPOutcome::kValue,
       "27",
       1},
      {"wrong request-id first",
       "public",
       {{kAgent, Message("public", Binding(temp, Tlv(0x42, Bytes({99}))), 1)}, {kAgent, answer}},
       tSNMPOutcome::kValue,
       "27",
       1},
      {"truncated in the header, then in the value",
       "public",
       {{kAgent, answer.substr(0, 10)}, {kAgent, answer.substr(0, answer.size() - 1)}},
       tSNMPOutcome::kValue,
       "",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedAgent agent(net_.get());
    ASSERT_TRUE(agent.bound()) << agent.error();
    agent.Answer(c.replies);
    const tSNMPRec rec{kOidUpsTemperature, c.community, kAgent};
    const tSNMPResult r = SNMPQuery(env_.ctx, rec);
    EXPECT_EQ(r.Outcome, c.outcome);
    EXPECT_EQ(r.Text, c.text);
    EXPECT_EQ(r.Ignored, c.ignored);
    std::string expected;
    ASSERT_TRUE(EncodeGetRequest(c.community, kOidUpsTemperature, &expected));
    EXPECT_EQ(agent.request(), expected);
  }
}

TEST_F(SnmpAgentTest, ClosedPortIsAConnectionReset) {
  TW_REQUIRE_PRIVATE_NETWORK();
  const tSNMPRec rec{kOidUpsTemperature, "public", "127.0.0.4"};  // nobody listens there
  EXPECT_EQ(SNMPQuery(env_.ctx, rec).Outcome, tSNMPOutcome::kConnectionReset);
  EXPECT_EQ(SNMPSend(env_.ctx, rec), "");
}

}  // namespace
}  // namespace tw
