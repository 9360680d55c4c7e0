// The query's resends against two cards on the fake clock, in one table: a card busy on its
// serial link to the UPS, which needs four seconds for each request and works through them one
// after the other, and a quick card behind a path that loses 30 % of the datagrams each way.
// The agent is the simulated UPS's, spoken to in version 2c (whose request-ids tell a late
// answer to an earlier query from the answer to this one); the session keeps what the queries
// learn.
#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "platform/fake_network.h"
#include "sim/agent.h"
#include "snmp/session.h"
#include "snmp/snmp.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kCard[] = "10.0.0.9";

// The card and the path: each request the path lets through waits for the card to finish the
// ones before it, takes `service_ms`, and its answer comes back over the same lossy path.
// Losses follow a fixed pseudo-random sequence, so every run drops the same datagrams.
class PacedCard : public FakeNetwork {
 public:
  PacedCard(FakeClock* clock, uint32_t service_ms, uint32_t loss_percent)
      : clock_(clock), service_ms_(service_ms), loss_percent_(loss_percent) {}

  std::unique_ptr<UdpSocket> OpenUdp(NetError*) override { return std::make_unique<Socket>(this); }
  std::unique_ptr<UdpSocket> OpenUdpFor(const std::string&, NetError*) override {
    return std::make_unique<Socket>(this);
  }

  int requests = 0;  // datagrams the service sent

 private:
  struct Pending {
    uint64_t at;  // on the clock's MonotonicMs
    std::string reply;
  };

  class Socket : public UdpSocket {
   public:
    explicit Socket(PacedCard* card) : card_(card) {}
    bool Bind(const std::string&, uint16_t, NetError*) override { return true; }
    bool EnableBroadcast(NetError*) override { return true; }
    bool Connect(const std::string&, uint16_t, NetError*) override { return true; }
    bool SendTo(const std::string&, uint16_t, const std::string& payload, NetError*) override {
      card_->Request(payload);
      return true;
    }
    bool ReceiveFrom(size_t max_size, uint32_t timeout_ms, std::string* payload, std::string* from,
                     uint16_t* from_port, NetError* error) override {
      return card_->Answer(max_size, timeout_ms, payload, from, from_port, error);
    }

   private:
    PacedCard* card_;
  };

  bool Lost() {
    seed_ = seed_ * 1103515245u + 12345u;
    return (seed_ >> 16) % 100 < loss_percent_;
  }

  // The simulated UPS answers version 1 only; versions 1 and 2c differ in the version
  // number alone for a GetRequest and its GetResponse. In a message under 128 octets it is
  // the octet after SEQUENCE, its length and "INTEGER, 1 octet" (30 LL 02 01 VV).
  static std::string WithVersion(std::string message, char version) {
    if (message.size() > 4 && message[0] == 0x30 && static_cast<unsigned char>(message[1]) < 0x80 &&
        message[2] == 0x02 && message[3] == 0x01) {
      message[4] = version;
    }
    return message;
  }

  void Request(const std::string& payload) {
    ++requests;
    if (Lost()) return;
    const uint64_t now = clock_->MonotonicMs();
    busy_until_ = std::max(busy_until_, now) + service_ms_;
    const AgentAnswer answer = AnswerRequest(WithVersion(payload, 0), "public", ups_);
    if (!answer.reply.empty() && !Lost()) {
      pending_.push_back({busy_until_, WithVersion(answer.reply, 1)});
    }
  }

  bool Answer(size_t max_size, uint32_t timeout_ms, std::string* payload, std::string* from,
              uint16_t* from_port, NetError* error) {
    const uint64_t now = clock_->MonotonicMs();
    if (pending_.empty() || pending_.front().at > now + timeout_ms) {
      clock_->Advance(timeout_ms);
      *error = MakeNetError(kWsaTimedOut);
      return false;
    }
    if (pending_.front().at > now) clock_->Advance(pending_.front().at - now);
    *payload = pending_.front().reply.substr(0, max_size);
    pending_.pop_front();
    *from = kCard;
    *from_port = kSnmpPort;
    return true;
  }

  FakeClock* clock_;
  uint32_t service_ms_;
  uint32_t loss_percent_;
  uint32_t seed_ = 28;
  uint64_t busy_until_ = 0;
  std::deque<Pending> pending_;
  SimulatedUps ups_{UpsSimOptions(), *clock_};
};

TEST(PacedCardTest, ASlowCardIsReadAndALossyPathStillRecovers) {
  const struct {
    const char* name;
    uint32_t service_ms;
    uint32_t loss_percent;
    int least_read;  // of the 40 queries
    int least_resent;
  } cases[] = {
      // Temperature and voltage one after the other every 30 s, as the passes meet. Only the
      // first voltage query, behind the copies of the first temperature request, is lost.
      {"4 s per request, one at a time", 4000, 0, 39, 2},
      // One try alone reads about half (0.7 x 0.7); the resends bring it to most.
      {"30 % loss each way", 5, 30, 30, 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEnv env;
    PacedCard card(&env.clock, c.service_ms, c.loss_percent);
    env.ctx.env.network = &card;
    SnmpSession session;
    session.Configure(env.ctx, {"2c", "", "", "", "", "", ""});
    int read = 0, resent = 0;
    for (int pair = 0; pair < 20; ++pair) {
      for (const char* oid : {kOidUpsTemperature, kOidUpsInputVoltage}) {
        tSNMPRec rec{oid, "public", kCard, &session};
        const tSNMPResult r = SNMPQuery(env.ctx, rec);
        read += r.Outcome == tSNMPOutcome::kValue ? 1 : 0;
        resent += r.Retransmissions;
      }
      env.clock.Advance(30000);
    }
    EXPECT_GE(read, c.least_read) << read << " read, " << resent << " resent";
    EXPECT_GE(resent, c.least_resent) << read << " read, " << resent << " resent";
    // Every query within its wait: no pass is held longer than it always was.
    EXPECT_LE(env.clock.MonotonicMs(), 20 * (30000 + 2 * kSnmpAnswerWaitMs));
  }
}

}  // namespace
}  // namespace tw
