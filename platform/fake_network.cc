#include "platform/fake_network.h"

#include <arpa/inet.h>

namespace tw {
namespace {

bool Fail(NetError* error, int code) {
  if (error != nullptr) *error = MakeNetError(code);
  return false;
}

class FakeUdpSocket : public UdpSocket {
 public:
  FakeUdpSocket(FakeNetwork* net, bool ipv6) : net_(net), ipv6_(ipv6) { ++net_->open_sockets; }
  ~FakeUdpSocket() override { --net_->open_sockets; }

  bool Bind(const std::string& local_ipv4, uint16_t, NetError* error) override {
    if (net_->bind_error != 0) return Fail(error, net_->bind_error);
    if (!local_ipv4.empty() && !IsAddress(local_ipv4)) return Fail(error, 10049);
    local_ = local_ipv4;
    return true;
  }
  bool EnableBroadcast(NetError*) override {
    broadcast_ = true;
    return true;
  }
  bool Connect(const std::string& ipv4, uint16_t port, NetError* error) override {
    if (!IsAddress(ipv4)) return Fail(error, 10049);
    peer_port_ = port;
    return true;
  }
  bool SendTo(const std::string& ipv4, uint16_t port, const std::string& payload,
              NetError* error) override {
    if (net_->send_error != 0) return Fail(error, net_->send_error);
    // As the platform: a socket sends to addresses of its own family only.
    if (!IsAddress(ipv4) || IsIPv6Address(ipv4) != ipv6_) return Fail(error, 10049);
    if (ipv4 == "255.255.255.255" && !broadcast_) return Fail(error, 10013);
    net_->sent.push_back({local_, ipv4, port, broadcast_, payload});
    if (peer_port_ == port && net_->closed_udp_ports.count(port) > 0) unreachable_ = true;
    if (net_->on_send) net_->on_send(net_->sent.back());
    return true;
  }
  bool ReceiveFrom(size_t max_size, uint32_t timeout_ms, std::string* payload,
                   std::string* from_ipv4, uint16_t* from_port, NetError* error) override {
    net_->receive_timeouts.push_back(timeout_ms);
    if (unreachable_) {
      unreachable_ = false;
      return Fail(error, kWsaConnReset);
    }
    FakeNetwork::Answer a;
    if (!net_->answers.empty()) {
      a = net_->answers.front();
      net_->answers.pop_front();
    } else if (!net_->responder || net_->sent.empty() || !net_->responder(net_->sent.back(), &a)) {
      return Fail(error, kWsaTimedOut);
    }
    if (a.error_code != 0) return Fail(error, a.error_code);
    *payload = a.payload.substr(0, max_size);
    *from_ipv4 = a.from_ipv4;
    *from_port = a.from_port;
    return true;
  }

 private:
  // Dotted IPv4, or IPv6 (a zone allowed) as OpenUdpFor's sockets take it.
  static bool IsAddress(const std::string& ipv4) {
    in_addr addr{};
    return inet_pton(AF_INET, ipv4.c_str(), &addr) == 1 || IsIPv6Address(ipv4);
  }

  FakeNetwork* net_;
  bool ipv6_;
  std::string local_;
  bool broadcast_ = false;
  int peer_port_ = -1;  // the port Connect fixed; -1: not connected
  bool unreachable_ = false;
};

}  // namespace

std::unique_ptr<UdpSocket> FakeNetwork::OpenUdp(NetError* error) {
  if (open_error != 0) {
    Fail(error, open_error);
    return nullptr;
  }
  return std::make_unique<FakeUdpSocket>(this, false);
}

std::unique_ptr<UdpSocket> FakeNetwork::OpenUdpFor(const std::string& peer, NetError* error) {
  if (open_error != 0) {
    Fail(error, open_error);
    return nullptr;
  }
  return std::make_unique<FakeUdpSocket>(this, IsIPv6Address(peer));
}

bool FakeNetwork::ResolveIPv4(const std::string& host, std::string* ipv4, NetError* error) {
  in_addr literal{};
  if (inet_pton(AF_INET, host.c_str(), &literal) == 1) {
    *ipv4 = host;
    return true;
  }
  const auto it = hosts.find(host);
  if (it == hosts.end()) return Fail(error, kWsaHostNotFound);
  *ipv4 = it->second;
  return true;
}

bool FakeNetwork::ResolveTcp(const std::string& host, std::vector<std::string>* addresses,
                             NetError* error) {
  const auto it = tcp_hosts.find(host);
  if (it != tcp_hosts.end()) {
    *addresses = it->second;
    return true;
  }
  if (host.find(':') != std::string::npos) {
    *addresses = {host};
    return true;
  }
  std::string ipv4;
  if (!ResolveIPv4(host, &ipv4, error)) return false;
  *addresses = {ipv4};
  return true;
}

std::unique_ptr<TcpConnection> FakeNetwork::ConnectTcp(const std::string& host, uint16_t port,
                                                       uint32_t timeout_ms, NetError* error) {
  connect_timeouts.push_back(timeout_ms);
  std::string ipv4 = host;
  if (host.find(':') == std::string::npos && !ResolveIPv4(host, &ipv4, error)) return nullptr;
  connect_addresses.push_back(ipv4);
  std::unique_ptr<TcpConnection> connection;
  if (tcp_peer) connection = tcp_peer(ipv4, port);
  if (!connection) Fail(error, kWsaConnRefused);
  return connection;
}

}  // namespace tw
