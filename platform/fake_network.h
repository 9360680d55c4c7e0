// A scripted network for tests: records every datagram sent, answers receives from a script,
// resolves names from a table and fails where told to. TCP connections come from a peer the
// test plugs in.
#ifndef TEMPWARDEN_PLATFORM_FAKE_NETWORK_H_
#define TEMPWARDEN_PLATFORM_FAKE_NETWORK_H_

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/network.h"

namespace tw {

class FakeNetwork : public Network {
 public:
  struct Datagram {
    std::string local_ipv4;  // bound address, "" when not bound
    std::string to_ipv4;
    uint16_t to_port = 0;
    bool broadcast_enabled = false;
    std::string payload;
  };
  struct Answer {
    std::string payload;
    std::string from_ipv4;
    uint16_t from_port = 0;
    int error_code = 0;  // non-zero: the receive fails with this code instead
  };

  std::unique_ptr<UdpSocket> OpenUdp(NetError* error) override;
  // An IPv6 socket for an IPv6 peer: it sends to IPv6 addresses only, as an IPv4 one to IPv4
  // addresses only.
  std::unique_ptr<UdpSocket> OpenUdpFor(const std::string& peer, NetError* error) override;
  bool ResolveIPv4(const std::string& host, std::string* ipv4, NetError* error) override;
  // `tcp_hosts` first, then what ResolveIPv4 gives; an address with ":" gives itself.
  bool ResolveTcp(const std::string& host, std::vector<std::string>* addresses,
                  NetError* error) override;
  std::vector<std::string> LocalIPv4Addresses() override { return local_addresses; }
  // Resolves `host` like ResolveIPv4, then hands out what `tcp_peer` makes for the address;
  // without a peer (or when it makes none) the connection is refused (10061).
  std::unique_ptr<TcpConnection> ConnectTcp(const std::string& host, uint16_t port,
                                            uint32_t timeout_ms, NetError* error) override;

  // Test controls and records.
  std::vector<std::string> local_addresses = {"127.0.0.1"};
  std::map<std::string, std::string> hosts = {{"localhost", "127.0.0.1"}};
  std::map<std::string, std::vector<std::string>> tcp_hosts;  // names with several addresses
  std::vector<Datagram> sent;
  // Runs after each datagram is recorded: a test can make a send take time (a slow network).
  std::function<void(const Datagram& sent)> on_send;
  std::deque<Answer> answers;  // handed out by receives, in order; empty: timeout
  // Consulted when `answers` is empty: answers the latest datagram sent (false: timeout), so a
  // test can play an agent whose values change over time.
  std::function<bool(const Datagram& request, Answer* answer)> responder;
  std::vector<uint32_t> receive_timeouts;  // the wait each receive asked for
  int open_error = 0;                      // non-zero: OpenUdp fails with it
  int send_error = 0;                      // non-zero: every send fails with it
  int bind_error = 0;                      // non-zero: every bind fails with it
  int open_sockets = 0;                    // sockets not yet destroyed
  // UDP ports where nothing listens: a socket connected to one fails its next receive with
  // 10054 after it sends there, as the platform reports the ICMP answer.
  std::set<uint16_t> closed_udp_ports;
  std::function<std::unique_ptr<TcpConnection>(const std::string& ipv4, uint16_t port)> tcp_peer;
  std::vector<uint32_t> connect_timeouts;      // the limit each TCP connect was given
  std::vector<std::string> connect_addresses;  // the address each TCP connect went to
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_FAKE_NETWORK_H_
