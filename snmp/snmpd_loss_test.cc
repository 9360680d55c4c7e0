// Queries through a lossy path to Debian's snmpd: a relay on 127.0.0.2:161 drops three
// datagrams in ten each way (a seeded draw, so every run loses the same ones) and forwards the
// rest to snmpd on 127.0.0.1. The kernel's netem would do the same, but it is not in every
// kernel a test runs under; the relay is. Runs in the test's private network namespace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <random>
#include <thread>

#include "platform/network.h"
#include "snmp/snmp.h"
#include "tests/isolation.h"
#include "tests/snmpd_process.h"
#include "tests/temp_dir.h"
#include "toolbelt/fake_context.h"

namespace tw {
namespace {

constexpr char kRelay[] = "127.0.0.2";
constexpr int kQueries = 30;

// Forwards between one client and snmpd, losing `percent` of the datagrams each way, until
// stopped.
class LossyRelay {
 public:
  LossyRelay(Network* net, int percent) : percent_(percent) {
    NetError e;
    front_ = net->OpenUdp(&e);
    back_ = net->OpenUdp(&e);
    bound_ = front_ && back_ && front_->Bind(kRelay, kSnmpPort, &e);
  }
  ~LossyRelay() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool bound() const { return bound_; }
  void Run() {
    thread_ = std::thread([this] {
      std::mt19937 draw(20);
      std::string client;
      uint16_t client_port = 0;
      while (!stop_) {
        std::string payload, from;
        uint16_t port = 0;
        NetError e;
        if (front_->ReceiveFrom(8192, 20, &payload, &from, &port, &e)) {
          client = from;
          client_port = port;
          if (static_cast<int>(draw() % 100) >= percent_) {
            back_->SendTo("127.0.0.1", kSnmpPort, payload, &e);
          }
        }
        if (back_->ReceiveFrom(8192, 20, &payload, &from, &port, &e) && !client.empty() &&
            static_cast<int>(draw() % 100) >= percent_) {
          front_->SendTo(client, client_port, payload, &e);
        }
      }
    });
  }

 private:
  int percent_;
  std::unique_ptr<UdpSocket> front_;
  std::unique_ptr<UdpSocket> back_;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(SnmpdLossTest, RetransmissionKeepsTheSamplesOfALossyPath) {
  TW_REQUIRE_PRIVATE_NETWORK();
  if (access(kSnmpd, X_OK) != 0) GTEST_SKIP() << "Debian's snmpd is not installed";
  TempDir temp;
  const std::string dir = temp.path();
  ASSERT_TRUE(PrepareUpsAgent(dir,
                              "agentAddress udp:127.0.0.1:161\n"
                              "rocommunity public 127.0.0.1\n"));
  Snmpd snmpd;
  ASSERT_TRUE(snmpd.Start(dir)) << ReadLog(dir + "snmpd.log");

  std::unique_ptr<Network> net = NewSystemNetwork();
  std::unique_ptr<Clock> clock = NewSystemClock();
  FakeEnv env;
  env.ctx.env.network = net.get();
  env.ctx.env.clock = clock.get();
  LossyRelay relay(net.get(), 30);
  ASSERT_TRUE(relay.bound());
  relay.Run();

  int read = 0;
  int first_try = 0;
  int retransmissions = 0;
  for (int i = 0; i < kQueries; ++i) {
    const tSNMPResult r = SNMPQuery(env.ctx, {kOidUpsTemperature, "public", kRelay});
    if (r.Text == "27") ++read;
    if (r.Text == "27" && r.Retransmissions == 0) ++first_try;
    retransmissions += r.Retransmissions;
  }
  std::cout << "lossy path, 30% each way: " << read << " of " << kQueries << " read, " << first_try
            << " at the first try, " << retransmissions << " retransmissions" << std::endl;
  RecordProperty("read", read);
  RecordProperty("first_try", first_try);
  RecordProperty("retransmissions", retransmissions);
  // One try gets through about half the time (0.7 x 0.7); three tries about 87% of the time.
  EXPECT_GE(read, kQueries * 3 / 4);
  EXPECT_GT(read, first_try);
  EXPECT_GT(retransmissions, 0);
}

}  // namespace
}  // namespace tw
