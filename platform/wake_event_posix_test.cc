// The system wake-up event against the real clock and real sockets on loopback: every long
// wait ends once the event is raised, whether it was raised before the wait or during it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "platform/clock.h"
#include "platform/network.h"
#include "tests/isolation.h"

namespace tw {
namespace {

// Far longer than any wait below may take when the event works.
constexpr uint32_t kLongWaitMs = 20000;

TEST(WakeEventPosixTest, RaiseAndLowerAreLevels) {
  std::unique_ptr<WakeEvent> event = NewSystemWakeEvent();
  std::unique_ptr<Clock> clock = NewSystemClock();
  EXPECT_FALSE(event->Raised());
  EXPECT_FALSE(clock->Wait(1, event.get()));
  event->Raise();
  event->Raise();
  EXPECT_TRUE(event->Raised());
  EXPECT_TRUE(clock->Wait(kLongWaitMs, event.get()));
  EXPECT_TRUE(clock->Wait(kLongWaitMs, event.get()));  // stays raised
  event->Lower();
  EXPECT_FALSE(event->Raised());
  EXPECT_FALSE(clock->Wait(1, event.get()));
}

TEST(WakeEventPosixTest, MonotonicTimeMovesOnWithTheWait) {
  std::unique_ptr<Clock> clock = NewSystemClock();
  const uint64_t before = clock->MonotonicMs();
  EXPECT_FALSE(clock->Wait(30, nullptr));
  EXPECT_GE(clock->MonotonicMs() - before, 30u);
}

// A UDP socket bound on loopback that nobody sends to, and a TCP peer that accepts and never
// talks: the waits of the network seam that a stop must end.
TEST(WakeEventPosixTest, EveryLongWaitEndsOnTheEvent) {
  TW_REQUIRE_PRIVATE_NETWORK();
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  const uint16_t port = ntohs(addr.sin_port);

  struct Case {
    const char* name;
    bool raised_before;
  } cases[] = {{"raised during the wait", false}, {"raised before the wait", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<WakeEvent> stop = NewSystemWakeEvent();
    std::unique_ptr<Network> net = NewSystemNetwork(stop.get());
    std::unique_ptr<Clock> clock = NewSystemClock();
    NetError error;
    std::unique_ptr<UdpSocket> udp = net->OpenUdp(&error);
    ASSERT_TRUE(udp);
    ASSERT_TRUE(udp->Bind("127.0.0.1", 0, &error)) << error.message;
    // Connected before a raise-before case raises it: connecting waits too.
    std::unique_ptr<TcpConnection> tcp = net->ConnectTcp("127.0.0.1", port, 1000, &error);
    ASSERT_TRUE(tcp) << error.message;
    const int peer = accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);

    const std::function<bool()> waits[] = {
        [&] { return clock->Wait(kLongWaitMs, stop.get()); },
        [&] {
          std::string payload, from;
          uint16_t from_port = 0;
          return !udp->ReceiveFrom(1500, kLongWaitMs, &payload, &from, &from_port, &error) &&
                 error.code == kWsaInterrupted;
        },
        [&] {
          std::string data;
          return !tcp->Receive(4096, kLongWaitMs, &data, &error) && error.code == kWsaInterrupted;
        },
        [&] {
          // A peer that never reads: sending fills the buffers, then waits.
          return !tcp->Send(std::string(16 << 20, 'x'), kLongWaitMs, &error) &&
                 error.code == kWsaInterrupted;
        },
        [&] {
          return !net->ConnectTcp("127.0.0.1", port, kLongWaitMs, &error) &&
                 error.code == kWsaInterrupted;
        },
    };
    int index = 0;
    for (const auto& wait : waits) {
      SCOPED_TRACE(index++);
      stop->Lower();
      if (c.raised_before) stop->Raise();
      const auto started = std::chrono::steady_clock::now();
      std::thread raiser;
      if (!c.raised_before) {
        raiser = std::thread([&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          stop->Raise();
        });
      }
      const bool ended_by_event = wait();
      if (raiser.joinable()) raiser.join();
      const auto took = std::chrono::steady_clock::now() - started;
      // The connect of the last wait succeeds at once when the event is not yet raised.
      if (index == 5 && !c.raised_before) continue;
      EXPECT_TRUE(ended_by_event) << error.message;
      EXPECT_LT(took, std::chrono::milliseconds(kLongWaitMs / 2));
    }
    close(peer);
  }
  close(listener);
}

}  // namespace
}  // namespace tw
