// The network seam: UDP datagrams, TCP client connections, host-name resolution and the local
// IPv4 addresses.
//
// Failures carry the Windows socket error number on every platform (10051 network
// unreachable, 10054 connection reset, 10060 timed out, 10061 connection refused, 11001 host
// not found, 11004 no address), because callers decide on those numbers. The POSIX
// implementation maps errno to them in one place.
#ifndef TEMPWARDEN_PLATFORM_NETWORK_H_
#define TEMPWARDEN_PLATFORM_NETWORK_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/heartbeat.h"
#include "platform/wake_event.h"

namespace tw {

constexpr int kWsaInterrupted = 10004;
constexpr int kWsaNetUnreachable = 10051;
constexpr int kWsaConnReset = 10054;
constexpr int kWsaTimedOut = 10060;
constexpr int kWsaConnRefused = 10061;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;
constexpr int kWsaNoData = 11004;

struct NetError {
  int code = 0;
  // "Socket Error # 10051" CR LF "Network is unreachable." (the number is always in the text).
  std::string message;
};

// The error for a Windows socket error number, with its standard text.
NetError MakeNetError(int code);

// Whether two address texts name the same address: dotted IPv4, IPv6 in any spelling (zeros
// compressed or not, either case, a dotted IPv4 tail), an IPv4-mapped IPv6 address as its IPv4
// address; a zone ("%eth0", "%2") is left out, as it names the local interface, not the peer.
// Texts that are no address compare as text.
bool SameAddress(const std::string& a, const std::string& b);

// Whether `text` is an IPv6 address (a zone allowed).
bool IsIPv6Address(const std::string& text);

// One UDP socket; closed when destroyed.
class UdpSocket {
 public:
  virtual ~UdpSocket() = default;

  // Binds to a local IPv4 address ("" for any) and port (0 for one the system chooses).
  virtual bool Bind(const std::string& local_ipv4, uint16_t port, NetError* error) = 0;
  virtual bool EnableBroadcast(NetError* error) = 0;
  // Fixes the peer, so that the platform reports an unreachable port on the next receive.
  virtual bool Connect(const std::string& ipv4, uint16_t port, NetError* error) = 0;
  // Has the platform report an unreachable port on the next receive (10054) without fixing the
  // peer, so that datagrams from every address and port still arrive. Winsock does so for
  // every UDP socket; others need to be asked.
  virtual bool ReportClosedPorts(NetError* error) {
    (void)error;
    return true;
  }
  // `ipv4` may be an IPv6 address (a zone allowed) on a socket from OpenUdpFor.
  virtual bool SendTo(const std::string& ipv4, uint16_t port, const std::string& payload,
                      NetError* error) = 0;
  // Waits up to `timeout_ms` for one datagram and keeps at most `max_size` bytes of it.
  // False on timeout (10060), stop (10004) or failure (10054 when the peer's port is closed).
  // The sender's address comes as the platform writes it (compare with SameAddress).
  virtual bool ReceiveFrom(size_t max_size, uint32_t timeout_ms, std::string* payload,
                           std::string* from_ipv4, uint16_t* from_port, NetError* error) = 0;
};

// One TCP client connection; closed when destroyed. Every wait is bounded by the caller's
// limit, so a peer that stops talking or reading cannot hold the caller, and ends early with
// 10004 when the network's stop event is raised.
class TcpConnection {
 public:
  virtual ~TcpConnection() = default;

  // Sends all of `data`, waiting at most `timeout_ms` in all for the peer to take it.
  // False on timeout (10060) or failure (10054 when the peer reset the connection).
  virtual bool Send(const std::string& data, uint32_t timeout_ms, NetError* error) = 0;
  // Waits up to `timeout_ms` for data and returns what has arrived, at most `max_size` bytes.
  // True with an empty `data` means the peer closed the connection in order.
  // False on timeout (10060) or failure (10054 when the peer reset the connection).
  virtual bool Receive(size_t max_size, uint32_t timeout_ms, std::string* data,
                       NetError* error) = 0;
  // False once the peer has closed or reset the connection and no data is left to read.
  // Does not wait and consumes nothing.
  virtual bool PeerOpen() = 0;
  // The local end's address as text ("10.1.2.3", "fd00::5"); "" when not known.
  virtual std::string LocalAddress() { return ""; }
};

class Network {
 public:
  virtual ~Network() = default;

  virtual std::unique_ptr<UdpSocket> OpenUdp(NetError* error) = 0;
  // A socket of the family of `peer` (an IPv4 or IPv6 address text), to exchange datagrams
  // with it. The default is OpenUdp's IPv4 socket.
  virtual std::unique_ptr<UdpSocket> OpenUdpFor(const std::string& peer, NetError* error) {
    (void)peer;
    return OpenUdp(error);
  }

  // Connects to `host` (a host name, resolved to its first IPv4 address, a dotted IPv4
  // address or an IPv6 address) at `port`, giving up after `timeout_ms`. Null on failure: 11001 /
  // 11004 when the name does not resolve, 10061 refused, 10060 no answer within the limit.
  virtual std::unique_ptr<TcpConnection> ConnectTcp(const std::string& host, uint16_t port,
                                                    uint32_t timeout_ms, NetError* error) = 0;

  // A dotted IPv4 address for a host name or address text.
  virtual bool ResolveIPv4(const std::string& host, std::string* ipv4, NetError* error) = 0;

  // Every IPv4 and IPv6 address of a host name (for TCP, and for UDP alike), in the resolver's
  // order (the order a client is to try them), without repeats; an address text gives itself
  // (an IPv6 one with its zone, "fe80::1%eth0"), and a link-local IPv6 address keeps the zone
  // the resolver gave it. False with 11001 /
  // 11004 as for ConnectTcp. The default gives what ResolveIPv4 gives.
  virtual bool ResolveTcp(const std::string& host, std::vector<std::string>* addresses,
                          NetError* error) {
    std::string ipv4;
    if (!ResolveIPv4(host, &ipv4, error)) return false;
    *addresses = {ipv4};
    return true;
  }

  // The local host's IPv4 addresses, in the order the platform lists them.
  virtual std::vector<std::string> LocalIPv4Addresses() = 0;
};

// `stop` (may be null) ends every wait of the network's sockets and connections as soon as it
// is raised, and every later one at once: they fail with 10004 (interrupted), so that a stop of
// the service is not held up by a query without answer or a mail relay that hangs.
// `heartbeat` (may be null): every wait for the network is cut into pieces no longer than its
// interval, with a beat between them (POSIX; the Windows service control manager has no
// watchdog).
std::unique_ptr<Network> NewSystemNetwork(WakeEvent* stop = nullptr,
                                          Heartbeat* heartbeat = nullptr);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_NETWORK_H_
