// The fake network with its scripted relay, held to the network seam's contract that the
// platform's sockets keep on loopback (platform/network_contract_posix_test.cc).
#include "mail/fake_smtp_peer.h"

#include <memory>
#include <string>

#include "platform/fake_network.h"
#include "tests/network_contract.h"

namespace tw {
namespace {

constexpr uint16_t kRelayPort = 25;

class FakeSockets {
 public:
  FakeSockets() {
    // The relay listens at its port only.
    auto relay = network_.tcp_peer;
    network_.tcp_peer = [relay](const std::string& ipv4, uint16_t port) {
      return port == kRelayPort ? relay(ipv4, port) : nullptr;
    };
  }

  Network& network() { return network_; }
  std::string peer_ipv4() const { return "127.0.0.1"; }
  uint16_t peer_port() const { return 514; }
  bool PeerReceive(std::string* payload) {
    for (; seen_ < network_.sent.size(); ++seen_) {
      const FakeNetwork::Datagram& d = network_.sent[seen_];
      if (d.to_ipv4 == peer_ipv4() && d.to_port == peer_port()) {
        *payload = d.payload;
        ++seen_;
        return true;
      }
    }
    return false;
  }
  void PeerAnswer(const std::string& payload) {
    network_.answers.push_back({payload, peer_ipv4(), peer_port(), 0});
  }
  void ClosePeer() { network_.closed_udp_ports.insert(peer_port()); }
  uint16_t relay_port() const { return kRelayPort; }
  uint16_t closed_port() const { return 1; }

 private:
  FakeNetwork network_;
  FakeSmtpPeer relay_{&network_};
  size_t seen_ = 0;
};

INSTANTIATE_TYPED_TEST_SUITE_P(FakeNetworkContract, NetworkContract, FakeSockets);

}  // namespace
}  // namespace tw
