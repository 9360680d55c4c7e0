#include <gtest/gtest.h>

#include "platform/network.h"
#include "tests/isolation.h"

namespace tw {
namespace {

TEST(PosixNetworkTest, DatagramRoundTripOnLoopback) {
  TW_REQUIRE_PRIVATE_NETWORK();
  std::unique_ptr<Network> net = NewSystemNetwork();
  NetError error;
  auto server = net->OpenUdp(&error);
  auto client = net->OpenUdp(&error);
  ASSERT_TRUE(server && client);
  ASSERT_TRUE(server->Bind("127.0.0.1", 40161, &error)) << error.message;
  ASSERT_TRUE(client->Bind("127.0.0.1", 0, &error)) << error.message;
  ASSERT_TRUE(client->SendTo("127.0.0.1", 40161, std::string("a\0b", 3), &error));

  std::string payload, from;
  uint16_t from_port = 0;
  ASSERT_TRUE(server->ReceiveFrom(8192, 1000, &payload, &from, &from_port, &error));
  EXPECT_EQ(payload, std::string("a\0b", 3));
  EXPECT_EQ(from, "127.0.0.1");
  EXPECT_NE(from_port, 0);

  // Nothing more arrives: a timeout, 10060.
  EXPECT_FALSE(server->ReceiveFrom(8192, 10, &payload, &from, &from_port, &error));
  EXPECT_EQ(error.code, kWsaTimedOut);
  EXPECT_NE(error.message.find("10060"), std::string::npos);

  // A datagram longer than the buffer arrives cut to it.
  ASSERT_TRUE(client->SendTo("127.0.0.1", 40161, "0123456789", &error));
  ASSERT_TRUE(server->ReceiveFrom(4, 1000, &payload, &from, &from_port, &error));
  EXPECT_EQ(payload, "0123");
}

TEST(PosixNetworkTest, ClosedPortIsAResetAndUnknownNamesFail) {
  TW_REQUIRE_PRIVATE_NETWORK();
  std::unique_ptr<Network> net = NewSystemNetwork();
  NetError error;
  auto socket = net->OpenUdp(&error);
  ASSERT_TRUE(socket->Connect("127.0.0.1", 40999, &error));
  ASSERT_TRUE(socket->SendTo("127.0.0.1", 40999, "x", &error));
  std::string payload, from;
  uint16_t port = 0;
  EXPECT_FALSE(socket->ReceiveFrom(8192, 1000, &payload, &from, &port, &error));
  EXPECT_EQ(error.code, kWsaConnReset);

  std::string ip;
  EXPECT_TRUE(net->ResolveIPv4("127.0.0.1", &ip, &error));
  EXPECT_EQ(ip, "127.0.0.1");
  EXPECT_FALSE(net->ResolveIPv4("no-such-host.invalid", &ip, &error));
  EXPECT_GE(error.code, kWsaHostNotFound);
  EXPECT_LE(error.code, kWsaNoData);

  // No route at all: the unreachable network of Windows, 10051.
  EXPECT_FALSE(socket->SendTo("10.255.255.1", 514, "x", &error));
  auto other = net->OpenUdp(&error);
  EXPECT_FALSE(other->SendTo("10.255.255.1", 514, "x", &error));
  EXPECT_EQ(error.code, kWsaNetUnreachable);

  const auto addresses = net->LocalIPv4Addresses();
  EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
}

}  // namespace
}  // namespace tw
