// The platform's sockets on loopback, inside the test's private network namespace, held to the
// network seam's contract; mail/fake_smtp_peer_test.cc holds the fake network to the same.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>

#include "platform/network.h"
#include "tests/network_contract.h"

namespace tw {
namespace {

// A socket of `type` bound to 127.0.0.1 at a port the system picks.
int BoundSocket(int type, uint16_t* port) {
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

bool Readable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) == 1;
}

// The relay answers one connection on its own thread; every wait of it is bounded, so a test
// that fails half way still ends.
class LoopbackRelay {
 public:
  LoopbackRelay() : listener_(BoundSocket(SOCK_STREAM, &port_)) {
    ::listen(listener_, 1);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackRelay() {
    thread_.join();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  void Serve() {
    if (!Readable(listener_, 5000)) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    Say(fd, "220 fake.relay ESMTP\r\n");
    std::string pending;
    while (Readable(fd, 5000)) {
      char buffer[256];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      size_t end;
      bool quit = false;
      while ((end = pending.find("\r\n")) != std::string::npos) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 2);
        quit = line == "QUIT";
        Say(fd, quit ? "221 Bye\r\n" : "250 OK\r\n");
        if (quit) break;
      }
      if (quit) break;
    }
    ::close(fd);
  }
  static void Say(int fd, const std::string& text) {
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
  }

  uint16_t port_ = 0;
  int listener_;
  std::thread thread_;
};

class LoopbackSockets {
 public:
  LoopbackSockets() : peer_(BoundSocket(SOCK_DGRAM, &peer_port_)) {}
  ~LoopbackSockets() {
    if (peer_ >= 0) ::close(peer_);
  }

  Network& network() { return *network_; }
  std::string peer_ipv4() const { return "127.0.0.1"; }
  uint16_t peer_port() const { return peer_port_; }
  bool PeerReceive(std::string* payload) {
    if (!Readable(peer_, 2000)) return false;
    char buffer[65536];
    socklen_t len = sizeof sender_;
    const ssize_t n =
        ::recvfrom(peer_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender_), &len);
    if (n < 0) return false;
    payload->assign(buffer, static_cast<size_t>(n));
    return true;
  }
  void PeerAnswer(const std::string& payload) {
    ::sendto(peer_, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&sender_),
             sizeof sender_);
  }
  void ClosePeer() {
    ::close(peer_);
    peer_ = -1;
  }
  uint16_t relay_port() {
    if (!relay_) relay_ = std::make_unique<LoopbackRelay>();
    return relay_->port();
  }
  uint16_t closed_port() const { return 1; }  // nothing listens there in the namespace

 private:
  std::unique_ptr<Network> network_ = NewSystemNetwork();
  uint16_t peer_port_ = 0;
  int peer_;
  sockaddr_in sender_{};
  std::unique_ptr<LoopbackRelay> relay_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(NetworkContract, NetworkContract, LoopbackSockets);

}  // namespace
}  // namespace tw
