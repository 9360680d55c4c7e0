// The contract of the network seam (platform/network.h) for UDP and TCP, as one
// type-parameterized suite for the platform's sockets on loopback and for the fake network.
//
// A parameter type `T` sets up one network with a UDP peer and a TCP mail relay:
//   Network& network();
//   std::string peer_ipv4();  uint16_t peer_port();  the UDP peer's address
//   bool PeerReceive(std::string* payload);  the next datagram the peer got (false: none)
//   void PeerAnswer(const std::string& payload);  the peer sends to the last sender
//   void ClosePeer();  nothing listens at the peer's port any more
//   uint16_t relay_port();  a relay at "localhost" that greets with "220 fake.relay ESMTP",
//     answers "QUIT" with "221 Bye" and closes, and every other line with "250 OK"
//   uint16_t closed_port();  a TCP port at 127.0.0.1 where nothing listens
// Instantiate with INSTANTIATE_TYPED_TEST_SUITE_P(Name, NetworkContract, Types).
#ifndef TEMPWARDEN_TESTS_NETWORK_CONTRACT_H_
#define TEMPWARDEN_TESTS_NETWORK_CONTRACT_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/network.h"
#include "tests/isolation.h"

namespace tw {

template <typename T>
class NetworkContract : public ::testing::Test {
 protected:
  void SetUp() override { TW_REQUIRE_PRIVATE_NETWORK(); }

  Network& network() { return setup_.network(); }
  std::unique_ptr<UdpSocket> Udp() {
    NetError error;
    std::unique_ptr<UdpSocket> socket = network().OpenUdp(&error);
    EXPECT_TRUE(socket) << error.message;
    return socket;
  }
  // Reads up to the next CR LF, in as many receives as it takes.
  std::string ReadLine(TcpConnection& connection) {
    std::string line;
    while (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
      std::string data;
      NetError error;
      if (!connection.Receive(1, 2000, &data, &error)) return line + "<" + error.message + ">";
      if (data.empty()) return line + "<closed>";
      line += data;
    }
    return line;
  }
  static void ExpectError(const NetError& error, int code) {
    EXPECT_EQ(error.code, code);
    EXPECT_EQ(error.message, MakeNetError(code).message);
  }

  T setup_;
};

TYPED_TEST_SUITE_P(NetworkContract);

TYPED_TEST_P(NetworkContract, UdpDatagramsBothWays) {
  auto socket = this->Udp();
  ASSERT_TRUE(socket);
  NetError error;
  ASSERT_TRUE(socket->Bind("127.0.0.1", 0, &error)) << error.message;
  const std::string large(1400, 'v');
  for (const std::string& payload : {std::string("<134>Tempwarden: started"), large}) {
    ASSERT_TRUE(socket->SendTo(this->setup_.peer_ipv4(), this->setup_.peer_port(), payload, &error))
        << error.message;
    std::string got;
    ASSERT_TRUE(this->setup_.PeerReceive(&got));
    EXPECT_EQ(got, payload);
  }

  const struct {
    std::string answer;
    size_t max_size;
    std::string received;
  } cases[] = {
      {"0\x82\x01", 1500, "0\x82\x01"},
      {"0123456789", 4, "0123"},  // the rest of the datagram is lost
  };
  for (const auto& c : cases) {
    this->setup_.PeerAnswer(c.answer);
    std::string payload;
    std::string from;
    uint16_t port = 0;
    ASSERT_TRUE(socket->ReceiveFrom(c.max_size, 2000, &payload, &from, &port, &error))
        << error.message;
    EXPECT_EQ(payload, c.received);
    EXPECT_EQ(from, this->setup_.peer_ipv4());
    EXPECT_EQ(port, this->setup_.peer_port());
  }
}

TYPED_TEST_P(NetworkContract, UdpNothingToReceiveTimesOut) {
  auto socket = this->Udp();
  ASSERT_TRUE(socket);
  NetError error;
  ASSERT_TRUE(socket->Bind("", 0, &error)) << error.message;
  std::string payload = "as it came";
  std::string from;
  uint16_t port = 0;
  EXPECT_FALSE(socket->ReceiveFrom(1500, 30, &payload, &from, &port, &error));
  this->ExpectError(error, kWsaTimedOut);
}

TYPED_TEST_P(NetworkContract, UdpAddressesThatAreNoAddresses) {
  auto socket = this->Udp();
  ASSERT_TRUE(socket);
  for (const char* bad : {"not an address", "300.1.2.3", "10.1.2"}) {
    NetError error;
    EXPECT_FALSE(socket->Bind(bad, 0, &error)) << bad;
    this->ExpectError(error, 10049);
    error = NetError();
    EXPECT_FALSE(socket->Connect(bad, 161, &error)) << bad;
    this->ExpectError(error, 10049);
    error = NetError();
    EXPECT_FALSE(socket->SendTo(bad, 161, "x", &error)) << bad;
    this->ExpectError(error, 10049);
  }
}

// A connected socket learns that nothing listens at its peer's port: the next receive fails
// with 10054, as Winsock reports it.
TYPED_TEST_P(NetworkContract, UdpClosedPortOfAConnectedPeer) {
  auto socket = this->Udp();
  ASSERT_TRUE(socket);
  NetError error;
  ASSERT_TRUE(socket->Connect(this->setup_.peer_ipv4(), this->setup_.peer_port(), &error))
      << error.message;
  this->setup_.ClosePeer();
  ASSERT_TRUE(socket->SendTo(this->setup_.peer_ipv4(), this->setup_.peer_port(), "get", &error))
      << error.message;
  std::string payload;
  std::string from;
  uint16_t port = 0;
  EXPECT_FALSE(socket->ReceiveFrom(1500, 2000, &payload, &from, &port, &error));
  this->ExpectError(error, kWsaConnReset);
}

TYPED_TEST_P(NetworkContract, TcpExchangeThenOrderlyClose) {
  NetError error;
  auto relay = this->network().ConnectTcp("localhost", this->setup_.relay_port(), 2000, &error);
  ASSERT_TRUE(relay) << error.message;
  EXPECT_EQ(this->ReadLine(*relay), "220 fake.relay ESMTP\r\n");

  std::string data = "as it came";
  EXPECT_FALSE(relay->Receive(4096, 30, &data, &error));
  this->ExpectError(error, kWsaTimedOut);
  EXPECT_TRUE(relay->PeerOpen());

  ASSERT_TRUE(relay->Send("NOOP\r\n", 2000, &error)) << error.message;
  EXPECT_EQ(this->ReadLine(*relay), "250 OK\r\n");

  // A receive hands out at most what it is asked for; the rest waits for the next one.
  ASSERT_TRUE(relay->Send("QUIT\r\n", 2000, &error)) << error.message;
  ASSERT_TRUE(relay->Receive(4, 2000, &data, &error)) << error.message;
  EXPECT_FALSE(data.empty());
  EXPECT_LE(data.size(), 4u);
  EXPECT_TRUE(relay->PeerOpen());  // unread data is still there
  EXPECT_EQ(data + this->ReadLine(*relay), "221 Bye\r\n");

  ASSERT_TRUE(relay->Receive(4096, 2000, &data, &error)) << error.message;
  EXPECT_EQ(data, "");  // closed in order
  EXPECT_FALSE(relay->PeerOpen());
}

TYPED_TEST_P(NetworkContract, TcpConnectFailures) {
  NetError error;
  EXPECT_FALSE(this->network().ConnectTcp("127.0.0.1", this->setup_.closed_port(), 2000, &error));
  this->ExpectError(error, kWsaConnRefused);
  std::string ipv4;
  EXPECT_TRUE(this->network().ResolveIPv4("localhost", &ipv4, &error));
  EXPECT_EQ(ipv4, "127.0.0.1");
  EXPECT_TRUE(this->network().ResolveIPv4("10.1.2.3", &ipv4, &error));
  EXPECT_EQ(ipv4, "10.1.2.3");
}

REGISTER_TYPED_TEST_SUITE_P(NetworkContract, UdpDatagramsBothWays, UdpNothingToReceiveTimesOut,
                            UdpAddressesThatAreNoAddresses, UdpClosedPortOfAConnectedPeer,
                            TcpExchangeThenOrderlyClose, TcpConnectFailures);

}  // namespace tw

#endif  // TEMPWARDEN_TESTS_NETWORK_CONTRACT_H_
