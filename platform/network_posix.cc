#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/deadline.h"
#include "platform/heartbeat.h"
#include "platform/network.h"
#include "platform/socket_address.h"
#include "platform/wake_event_posix.h"

namespace tw {
namespace {

// errno to the Windows socket error numbers, in this one place.
int WsaCodeFromErrno(int err) {
  switch (err) {
    case EINTR:
      return 10004;
    case EACCES:
    case EPERM:
      return 10013;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EMSGSIZE:
      return 10040;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return kWsaNetUnreachable;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
    case EPIPE:
      return kWsaConnReset;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case ENOTCONN:
      return 10057;
    case ETIMEDOUT:
    case EAGAIN:
      return kWsaTimedOut;
    case ECONNREFUSED:
      return kWsaConnRefused;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    default:
      return 10000 + err;
  }
}

bool ToAddress(const std::string& ipv4, uint16_t port, sockaddr_in* out) {
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  if (ipv4.empty()) {
    out->sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  return inet_pton(AF_INET, ipv4.c_str(), &out->sin_addr) == 1;
}

// getaddrinfo's failure as a Windows socket error number.
int ResolveErrorCode(int rc) {
  int code = kWsaHostNotFound;
  if (rc == EAI_AGAIN) code = kWsaTryAgain;
  if (rc == EAI_FAIL) code = kWsaNoRecovery;
#ifdef EAI_NODATA
  if (rc == EAI_NODATA) code = kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
  if (rc == EAI_ADDRFAMILY) code = kWsaNoData;
#endif
  if (rc == EAI_SYSTEM) code = WsaCodeFromErrno(errno);
  return code;
}

using socket_address::AddressText;
using socket_address::Fail;
using socket_address::ToSocketAddress;

bool ResolveAddresses(const std::string& host, int family, std::vector<std::string>* out,
                      NetError* error) {
  return socket_address::ResolveAddresses(host, family, out, error, ResolveErrorCode);
}

bool ResolveName(const std::string& host, std::string* ipv4, NetError* error) {
  return socket_address::ResolveName(host, ipv4, error, ResolveErrorCode);
}

// Waits for `events` on `fd`, or for the stop event's descriptor (`stop_fd`, -1 for none), at
// most `timeout_ms` (-1: no limit). 1 ready, 0 timed out, -1 failed (errno set), -2 stopped.
int PollWithStop(int fd, short events, int stop_fd, int timeout_ms) {
  pollfd p[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
  const int ready = ::poll(p, stop_fd >= 0 ? 2 : 1, timeout_ms);
  if (ready > 0 && stop_fd >= 0 && (p[1].revents & POLLIN) != 0) return -2;
  return ready > 0 ? 1 : ready;
}

// Waits for `events` on `fd` until `deadline` or until `stop` is raised: 1 ready, 0 timed
// out, -1 failed (errno set), -2 stopped (also when `stop` was raised before the call).
// With a `heartbeat`, the wait is cut into pieces no longer than its interval, with a beat
// between them: a slow relay or a silent agent is a healthy wait, not a hung service.
int WaitFor(int fd, short events, const WakeEvent* stop,
            std::chrono::steady_clock::time_point deadline, Heartbeat* heartbeat) {
  const int stop_fd = WakeEventFd(stop);
  if (stop != nullptr && stop->Raised()) return -2;
  const uint64_t interval = heartbeat != nullptr ? heartbeat->IntervalMs() : 0;
  const int piece_ms = interval > 0 ? static_cast<int>(std::min<uint64_t>(interval, 1u << 30)) : -1;
  for (;;) {
    const uint32_t left = MillisecondsLeft(deadline);
    const bool piece = piece_ms >= 0 && left > static_cast<uint32_t>(piece_ms);
    const int ready = PollWithStop(fd, events, stop_fd, piece ? piece_ms : static_cast<int>(left));
    if (ready == 0 && piece) {
      heartbeat->Beat();
      continue;
    }
    if (ready >= 0 || ready == -2 || errno != EINTR) return ready;
  }
}

class PosixUdpSocket : public UdpSocket {
 public:
  PosixUdpSocket(int fd, int family, const WakeEvent* stop, Heartbeat* heartbeat)
      : fd_(fd), family_(family), stop_(stop), heartbeat_(heartbeat) {}
  ~PosixUdpSocket() override { ::close(fd_); }

  bool Bind(const std::string& local_ipv4, uint16_t port, NetError* error) override {
    sockaddr_in addr;
    if (!ToAddress(local_ipv4, port, &addr)) return Fail(error, 10049);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      return Fail(error, WsaCodeFromErrno(errno));
    }
    return true;
  }

  bool EnableBroadcast(NetError* error) override {
    const int on = 1;
    if (::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
      return Fail(error, WsaCodeFromErrno(errno));
    }
    return true;
  }

  bool Connect(const std::string& ipv4, uint16_t port, NetError* error) override {
    sockaddr_in addr;
    if (!ToAddress(ipv4, port, &addr)) return Fail(error, 10049);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      return Fail(error, WsaCodeFromErrno(errno));
    }
    return true;
  }

  bool ReportClosedPorts(NetError* error) override {
    // Linux queues ICMP errors for an unconnected socket only when asked to.
    const int on = 1;
    const bool v6 = family_ == AF_INET6;
    if (::setsockopt(fd_, v6 ? IPPROTO_IPV6 : IPPROTO_IP, v6 ? IPV6_RECVERR : IP_RECVERR, &on,
                     sizeof on) != 0) {
      return Fail(error, WsaCodeFromErrno(errno));
    }
    return true;
  }

  bool SendTo(const std::string& ipv4, uint16_t port, const std::string& payload,
              NetError* error) override {
    sockaddr_storage addr;
    socklen_t size = 0;
    if (!ToSocketAddress(ipv4, port, &addr, &size) || addr.ss_family != family_) {
      return Fail(error, 10049);
    }
    const ssize_t n = ::sendto(fd_, payload.data(), payload.size(), MSG_NOSIGNAL,
                               reinterpret_cast<sockaddr*>(&addr), size);
    if (n < 0) return Fail(error, SendCode(errno));
    return true;
  }

  bool ReceiveFrom(size_t max_size, uint32_t timeout_ms, std::string* payload,
                   std::string* from_ipv4, uint16_t* from_port, NetError* error) override {
    const int ready = WaitFor(fd_, POLLIN, stop_, DeadlineAfter(timeout_ms), heartbeat_);
    if (ready == -2) return Fail(error, kWsaInterrupted);
    if (ready < 0) return Fail(error, WsaCodeFromErrno(errno));
    if (ready == 0) return Fail(error, kWsaTimedOut);
    std::string buffer(max_size == 0 ? 1 : max_size, '\0');
    sockaddr_storage from{};
    socklen_t from_len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n < 0) return Fail(error, SendCode(errno));
    buffer.resize(static_cast<size_t>(n));
    *payload = std::move(buffer);
    *from_ipv4 = AddressText(reinterpret_cast<sockaddr*>(&from));
    // sin_port and sin6_port sit at the same place.
    *from_port = ntohs(reinterpret_cast<sockaddr_in*>(&from)->sin_port);
    return true;
  }

 private:
  // A closed port answered with ICMP: Winsock reports that on a UDP socket as a reset.
  static int SendCode(int err) {
    return err == ECONNREFUSED ? kWsaConnReset : WsaCodeFromErrno(err);
  }

  int fd_;
  int family_;
  const WakeEvent* stop_;
  Heartbeat* heartbeat_;
};

// The socket stays non-blocking for its whole life, so that no call can wait longer than
// the limit its caller gives.
class PosixTcpConnection : public TcpConnection {
 public:
  PosixTcpConnection(int fd, const WakeEvent* stop, Heartbeat* heartbeat)
      : fd_(fd), stop_(stop), heartbeat_(heartbeat) {}
  ~PosixTcpConnection() override { ::close(fd_); }

  bool Send(const std::string& data, uint32_t timeout_ms, NetError* error) override {
    const auto deadline = DeadlineAfter(timeout_ms);
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        return Fail(error, WsaCodeFromErrno(errno));
      }
      const int ready = WaitFor(fd_, POLLOUT, stop_, deadline, heartbeat_);
      if (ready == -2) return Fail(error, kWsaInterrupted);
      if (ready < 0) return Fail(error, WsaCodeFromErrno(errno));
      if (ready == 0) return Fail(error, kWsaTimedOut);
    }
    return true;
  }

  bool Receive(size_t max_size, uint32_t timeout_ms, std::string* data, NetError* error) override {
    const auto deadline = DeadlineAfter(timeout_ms);
    std::string buffer(max_size == 0 ? 1 : max_size, '\0');
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
      if (n >= 0) {
        buffer.resize(static_cast<size_t>(n));
        *data = std::move(buffer);
        return true;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return Fail(error, WsaCodeFromErrno(errno));
      const int ready = WaitFor(fd_, POLLIN, stop_, deadline, heartbeat_);
      if (ready == -2) return Fail(error, kWsaInterrupted);
      if (ready < 0) return Fail(error, WsaCodeFromErrno(errno));
      if (ready == 0) return Fail(error, kWsaTimedOut);
    }
  }

  bool PeerOpen() override {
    char byte;
    const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) return true;
    if (n == 0) return false;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  }

  std::string LocalAddress() override {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) != 0) return "";
    return AddressText(reinterpret_cast<sockaddr*>(&local));
  }

 private:
  int fd_;
  const WakeEvent* stop_;
  Heartbeat* heartbeat_;
};

class PosixNetwork : public Network {
 public:
  PosixNetwork(WakeEvent* stop, Heartbeat* heartbeat) : stop_(stop), heartbeat_(heartbeat) {}

  std::unique_ptr<UdpSocket> OpenUdp(NetError* error) override { return Open(AF_INET, error); }

  std::unique_ptr<UdpSocket> OpenUdpFor(const std::string& peer, NetError* error) override {
    sockaddr_storage addr;
    socklen_t size = 0;
    const bool v6 = ToSocketAddress(peer, 0, &addr, &size) && addr.ss_family == AF_INET6;
    return Open(v6 ? AF_INET6 : AF_INET, error);
  }

  bool ResolveIPv4(const std::string& host, std::string* ipv4, NetError* error) override {
    return ResolveName(host, ipv4, error);
  }

  bool ResolveTcp(const std::string& host, std::vector<std::string>* addresses,
                  NetError* error) override {
    sockaddr_storage literal;
    socklen_t size;
    if (ToSocketAddress(host, 0, &literal, &size)) {
      *addresses = {host};
      return true;
    }
    return ResolveAddresses(host, AF_UNSPEC, addresses, error);
  }

  std::unique_ptr<TcpConnection> ConnectTcp(const std::string& host, uint16_t port,
                                            uint32_t timeout_ms, NetError* error) override;

  std::vector<std::string> LocalIPv4Addresses() override {
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
      out.push_back(text);
    }
    ::freeifaddrs(list);
    return out;
  }

 private:
  std::unique_ptr<UdpSocket> Open(int family, NetError* error) {
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      Fail(error, WsaCodeFromErrno(errno));
      return nullptr;
    }
    return std::make_unique<PosixUdpSocket>(fd, family, stop_, heartbeat_);
  }

  WakeEvent* stop_;
  Heartbeat* heartbeat_;
};

std::unique_ptr<TcpConnection> PosixNetwork::ConnectTcp(const std::string& host, uint16_t port,
                                                        uint32_t timeout_ms, NetError* error) {
  sockaddr_storage addr;
  socklen_t addr_size = 0;
  if (!ToSocketAddress(host, port, &addr, &addr_size)) {
    std::string ipv4;
    if (!ResolveName(host, &ipv4, error)) return nullptr;
    if (!ToSocketAddress(ipv4, port, &addr, &addr_size)) {
      Fail(error, 10049);
      return nullptr;
    }
  }
  const int fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    Fail(error, WsaCodeFromErrno(errno));
    return nullptr;
  }
  auto connection = std::make_unique<PosixTcpConnection>(fd, stop_, heartbeat_);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), addr_size) == 0) return connection;
  if (errno != EINPROGRESS && errno != EINTR) {
    Fail(error, WsaCodeFromErrno(errno));
    return nullptr;
  }
  const int ready = WaitFor(fd, POLLOUT, stop_, DeadlineAfter(timeout_ms), heartbeat_);
  if (ready == -2) {
    Fail(error, kWsaInterrupted);
    return nullptr;
  }
  if (ready <= 0) {
    Fail(error, ready == 0 ? kWsaTimedOut : WsaCodeFromErrno(errno));
    return nullptr;
  }
  int so_error = 0;
  socklen_t len = sizeof so_error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) so_error = errno;
  if (so_error != 0) {
    Fail(error, WsaCodeFromErrno(so_error));
    return nullptr;
  }
  return connection;
}

}  // namespace

std::unique_ptr<Network> NewSystemNetwork(WakeEvent* stop, Heartbeat* heartbeat) {
  return std::make_unique<PosixNetwork>(stop, heartbeat);
}

}  // namespace tw
