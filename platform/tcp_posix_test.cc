// The TCP client of the network seam against peers made of plain sockets on loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "platform/network.h"
#include "tests/isolation.h"

namespace tw {
namespace {

// A listening socket on 127.0.0.1 at a port the system picks.
class Listener {
 public:
  explicit Listener(int backlog = 4) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, backlog);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() { close(fd_); }
  uint16_t port() const { return port_; }
  int Accept() { return accept(fd_, nullptr, nullptr); }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// Nothing listens there in the private namespace.
constexpr uint16_t kClosedPort = 1;

TEST(TcpPosixTest, ExchangeThenOrderlyClose) {
  TW_REQUIRE_PRIVATE_NETWORK();
  std::unique_ptr<Network> net = NewSystemNetwork();
  Listener listener;
  NetError error;
  auto client = net->ConnectTcp("localhost", listener.port(), 1000, &error);
  ASSERT_TRUE(client) << error.message;
  const int peer = listener.Accept();
  ASSERT_GE(peer, 0);

  ASSERT_TRUE(client->Send("EHLO SRV1\r\n", 1000, &error)) << error.message;
  char buffer[64] = {};
  ASSERT_EQ(recv(peer, buffer, sizeof buffer, 0), 11);
  EXPECT_EQ(std::string(buffer, 11), "EHLO SRV1\r\n");

  std::string data;
  EXPECT_FALSE(client->Receive(4096, 20, &data, &error));
  EXPECT_EQ(error.code, kWsaTimedOut);
  EXPECT_NE(error.message.find("10060"), std::string::npos);
  EXPECT_TRUE(client->PeerOpen());

  ASSERT_EQ(send(peer, "250 OK\r\n", 8, 0), 8);
  ASSERT_TRUE(client->Receive(4, 1000, &data, &error)) << error.message;
  EXPECT_EQ(data, "250 ");
  EXPECT_TRUE(client->PeerOpen());  // unread data is still there
  ASSERT_TRUE(client->Receive(4096, 1000, &data, &error));
  EXPECT_EQ(data, "OK\r\n");

  close(peer);
  ASSERT_TRUE(client->Receive(4096, 1000, &data, &error)) << error.message;
  EXPECT_EQ(data, "");  // closed in order
  EXPECT_FALSE(client->PeerOpen());
}

TEST(TcpPosixTest, ResetByPeerIs10054) {
  TW_REQUIRE_PRIVATE_NETWORK();
  std::unique_ptr<Network> net = NewSystemNetwork();
  Listener listener;
  NetError error;
  auto client = net->ConnectTcp("127.0.0.1", listener.port(), 1000, &error);
  ASSERT_TRUE(client) << error.message;
  const int peer = listener.Accept();
  const linger abort_close{1, 0};
  setsockopt(peer, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
  close(peer);
  std::string data;
  EXPECT_FALSE(client->Receive(4096, 1000, &data, &error));
  EXPECT_EQ(error.code, kWsaConnReset);
  EXPECT_NE(error.message.find("10054"), std::string::npos);
  EXPECT_FALSE(client->PeerOpen());
}

TEST(TcpPosixTest, ConnectFailuresCarryTheWindowsNumbers) {
  TW_REQUIRE_PRIVATE_NETWORK();
  std::unique_ptr<Network> net = NewSystemNetwork();
  const struct {
    std::string host;
    int code;
  } cases[] = {
      {"127.0.0.1", kWsaConnRefused},   // nothing listens
      {"bad..host", kWsaHostNotFound},  // a name that cannot exist
      {"::1", kWsaConnRefused},         // an IPv6 address is connected to as well
  };
  for (const auto& c : cases) {
    NetError error;
    EXPECT_EQ(net->ConnectTcp(c.host, kClosedPort, 1000, &error), nullptr) << c.host;
    EXPECT_EQ(error.code, c.code) << c.host;
    EXPECT_NE(error.message.find(std::to_string(c.code)), std::string::npos) << error.message;
  }
  // A name's addresses for TCP: both families of "localhost" when it has both, an address
  // text as it is.
  std::vector<std::string> addresses;
  NetError error;
  ASSERT_TRUE(net->ResolveTcp("::1", &addresses, &error));
  EXPECT_EQ(addresses, std::vector<std::string>{"::1"});
  ASSERT_TRUE(net->ResolveTcp("localhost", &addresses, &error)) << error.message;
  EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
  EXPECT_FALSE(net->ResolveTcp("bad..host", &addresses, &error));
  EXPECT_EQ(error.code, kWsaHostNotFound);
}

// A listener whose accept queue is full drops new SYNs, so the connect gets no answer.
TEST(TcpPosixTest, ConnectWithoutAnswerStopsAtTheLimit) {
  TW_REQUIRE_PRIVATE_NETWORK();
  std::unique_ptr<Network> net = NewSystemNetwork();
  Listener listener(0);
  std::vector<std::unique_ptr<TcpConnection>> queued;
  NetError error;
  bool timed_out = false;
  for (int i = 0; i < 8 && !timed_out; ++i) {
    auto c = net->ConnectTcp("127.0.0.1", listener.port(), 200, &error);
    if (c) {
      queued.push_back(std::move(c));
    } else {
      timed_out = true;
    }
  }
  ASSERT_TRUE(timed_out);
  EXPECT_EQ(error.code, kWsaTimedOut);
}

TEST(TcpPosixTest, SendToAPeerThatDoesNotReadStopsAtTheLimit) {
  TW_REQUIRE_PRIVATE_NETWORK();
  std::unique_ptr<Network> net = NewSystemNetwork();
  Listener listener;
  NetError error;
  auto client = net->ConnectTcp("127.0.0.1", listener.port(), 1000, &error);
  ASSERT_TRUE(client);
  const int peer = listener.Accept();
  const std::string chunk(1 << 20, 'x');
  bool sent = true;
  for (int i = 0; i < 256 && sent; ++i) sent = client->Send(chunk, 100, &error);
  EXPECT_FALSE(sent);
  EXPECT_EQ(error.code, kWsaTimedOut);
  close(peer);
}

}  // namespace
}  // namespace tw
