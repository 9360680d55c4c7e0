// <winsock2.h> before <windows.h>, which would otherwise bring the old <winsock.h>.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>
// clang-format on

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/deadline.h"
#include "platform/network.h"
#include "platform/socket_address.h"
#include "platform/wake_event_win32.h"

namespace tw {
namespace {

using socket_address::AddressText;
using socket_address::Fail;
using socket_address::ToSocketAddress;

// getaddrinfo reports the Windows socket numbers itself (11001 host not found, 11004 no data).
int ResolveErrorCode(int rc) { return rc; }

bool ResolveAddresses(const std::string& host, int family, std::vector<std::string>* out,
                      NetError* error) {
  return socket_address::ResolveAddresses(host, family, out, error, ResolveErrorCode);
}

bool ResolveName(const std::string& host, std::string* ipv4, NetError* error) {
  return socket_address::ResolveName(host, ipv4, error, ResolveErrorCode);
}

bool ToAddress(const std::string& ipv4, uint16_t port, sockaddr_in* out) {
  ZeroMemory(out, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  if (ipv4.empty()) {
    out->sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  return inet_pton(AF_INET, ipv4.c_str(), &out->sin_addr) == 1;
}

// select rather than WSAPoll: WSAPoll did not report a failed non-blocking connect before
// Windows 10 2004, and one socket never comes near FD_SETSIZE.
// Returns 1 ready, 0 timed out, SOCKET_ERROR failed. `failed` tells whether the socket
// landed in the exception set (a connect that did not succeed).
int SelectFor(SOCKET s, bool for_write, long ms, bool* failed) {
  fd_set read_set, write_set, except_set;
  FD_ZERO(&read_set);
  FD_ZERO(&write_set);
  FD_ZERO(&except_set);
  FD_SET(s, for_write ? &write_set : &read_set);
  FD_SET(s, &except_set);
  timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  const int ready = select(0, &read_set, &write_set, &except_set, &tv);
  if (failed != nullptr) *failed = ready > 0 && FD_ISSET(s, &except_set);
  return ready > 0 ? 1 : ready;
}

constexpr int kStopped = -2;

// As SelectFor until `deadline`, but ends early with kStopped once `stop` is raised (also when
// it was raised before the call). The socket's network events are tied to an event object for
// the wait (WSAEventSelect), so that one WaitForMultipleObjects sees both; readiness is then
// decided by a select that does not wait, as before, and the tie is undone afterwards.
int WaitFor(SOCKET s, bool for_write, const WakeEvent* stop,
            std::chrono::steady_clock::time_point deadline, bool* failed = nullptr) {
  if (failed != nullptr) *failed = false;
  if (stop != nullptr && stop->Raised()) return kStopped;
  const HANDLE stop_event = WakeEventHandle(stop);
  if (stop_event == nullptr) return SelectFor(s, for_write, MillisecondsLeft(deadline), failed);
  WSAEVENT network_event = WSACreateEvent();
  if (network_event == WSA_INVALID_EVENT) return SOCKET_ERROR;
  const long mask = for_write ? (FD_WRITE | FD_CONNECT | FD_CLOSE) : (FD_READ | FD_CLOSE);
  int result = SOCKET_ERROR;
  if (WSAEventSelect(s, network_event, mask) == 0) {
    for (;;) {
      result = SelectFor(s, for_write, 0, failed);
      if (result != 0) break;
      const HANDLE handles[2] = {network_event, stop_event};
      const DWORD woke =
          WaitForMultipleObjects(2, handles, FALSE, static_cast<DWORD>(MillisecondsLeft(deadline)));
      if (woke == WAIT_OBJECT_0 + 1) {
        result = kStopped;
        break;
      }
      if (woke == WAIT_TIMEOUT) {
        result = 0;
        break;
      }
      if (woke != WAIT_OBJECT_0) {
        WSASetLastError(static_cast<int>(GetLastError()));
        result = SOCKET_ERROR;
        break;
      }
      WSAResetEvent(network_event);
    }
    const int code = WSAGetLastError();
    WSAEventSelect(s, nullptr, 0);
    WSASetLastError(code);
  }
  WSACloseEvent(network_event);
  return result;
}

// The socket stays non-blocking for its whole life, so that no call can wait longer than
// the limit its caller gives.
class Win32TcpConnection : public TcpConnection {
 public:
  Win32TcpConnection(SOCKET s, const WakeEvent* stop) : s_(s), stop_(stop) {}
  ~Win32TcpConnection() override { closesocket(s_); }

  bool Send(const std::string& data, uint32_t timeout_ms, NetError* error) override {
    const auto deadline = DeadlineAfter(timeout_ms);
    size_t done = 0;
    while (done < data.size()) {
      const int n = send(s_, data.data() + done, static_cast<int>(data.size() - done), 0);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      const int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK) return Fail(error, code);
      const int ready = WaitFor(s_, true, stop_, deadline);
      if (ready == kStopped) return Fail(error, kWsaInterrupted);
      if (ready == SOCKET_ERROR) return Fail(error, WSAGetLastError());
      if (ready == 0) return Fail(error, WSAETIMEDOUT);
    }
    return true;
  }

  bool Receive(size_t max_size, uint32_t timeout_ms, std::string* data, NetError* error) override {
    const auto deadline = DeadlineAfter(timeout_ms);
    std::string buffer(max_size == 0 ? 1 : max_size, '\0');
    for (;;) {
      const int n = recv(s_, &buffer[0], static_cast<int>(buffer.size()), 0);
      if (n >= 0) {
        buffer.resize(static_cast<size_t>(n));
        *data = std::move(buffer);
        return true;
      }
      const int code = WSAGetLastError();
      if (code != WSAEWOULDBLOCK) return Fail(error, code);
      const int ready = WaitFor(s_, false, stop_, deadline);
      if (ready == kStopped) return Fail(error, kWsaInterrupted);
      if (ready == SOCKET_ERROR) return Fail(error, WSAGetLastError());
      if (ready == 0) return Fail(error, WSAETIMEDOUT);
    }
  }

  bool PeerOpen() override {
    char byte;
    const int n = recv(s_, &byte, 1, MSG_PEEK);
    if (n > 0) return true;
    if (n == 0) return false;
    return WSAGetLastError() == WSAEWOULDBLOCK;
  }

  std::string LocalAddress() override {
    sockaddr_storage local{};
    int size = sizeof local;
    if (getsockname(s_, reinterpret_cast<sockaddr*>(&local), &size) != 0) return "";
    return AddressText(reinterpret_cast<sockaddr*>(&local));
  }

 private:
  SOCKET s_;
  const WakeEvent* stop_;
};

class Win32UdpSocket : public UdpSocket {
 public:
  Win32UdpSocket(SOCKET s, int family, const WakeEvent* stop)
      : s_(s), family_(family), stop_(stop) {}
  ~Win32UdpSocket() override { closesocket(s_); }

  bool Bind(const std::string& local_ipv4, uint16_t port, NetError* error) override {
    sockaddr_in addr;
    if (!ToAddress(local_ipv4, port, &addr)) return Fail(error, WSAEADDRNOTAVAIL);
    if (bind(s_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      return Fail(error, WSAGetLastError());
    }
    return true;
  }

  bool EnableBroadcast(NetError* error) override {
    const BOOL on = TRUE;
    if (setsockopt(s_, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) !=
        0) {
      return Fail(error, WSAGetLastError());
    }
    return true;
  }

  bool Connect(const std::string& ipv4, uint16_t port, NetError* error) override {
    sockaddr_in addr;
    if (!ToAddress(ipv4, port, &addr)) return Fail(error, WSAEADDRNOTAVAIL);
    if (connect(s_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      return Fail(error, WSAGetLastError());
    }
    return true;
  }

  bool SendTo(const std::string& ipv4, uint16_t port, const std::string& payload,
              NetError* error) override {
    sockaddr_storage addr;
    int size = 0;
    if (!ToSocketAddress(ipv4, port, &addr, &size) || addr.ss_family != family_) {
      return Fail(error, WSAEADDRNOTAVAIL);
    }
    if (sendto(s_, payload.data(), static_cast<int>(payload.size()), 0,
               reinterpret_cast<sockaddr*>(&addr), size) == SOCKET_ERROR) {
      return Fail(error, WSAGetLastError());
    }
    return true;
  }

  bool ReceiveFrom(size_t max_size, uint32_t timeout_ms, std::string* payload,
                   std::string* from_ipv4, uint16_t* from_port, NetError* error) override {
    const int ready = WaitFor(s_, false, stop_, DeadlineAfter(timeout_ms));
    if (ready == kStopped) return Fail(error, kWsaInterrupted);
    if (ready == SOCKET_ERROR) return Fail(error, WSAGetLastError());
    if (ready == 0) return Fail(error, WSAETIMEDOUT);
    std::string buffer(max_size == 0 ? 1 : max_size, '\0');
    sockaddr_storage from{};
    int from_len = sizeof from;
    const int n = recvfrom(s_, &buffer[0], static_cast<int>(buffer.size()), 0,
                           reinterpret_cast<sockaddr*>(&from), &from_len);
    if (n == SOCKET_ERROR) {
      const int code = WSAGetLastError();
      // A datagram larger than the buffer arrives cut, as on POSIX.
      if (code != WSAEMSGSIZE) return Fail(error, code);
      buffer.resize(buffer.size());
    } else {
      buffer.resize(static_cast<size_t>(n));
    }
    *payload = std::move(buffer);
    *from_ipv4 = AddressText(reinterpret_cast<sockaddr*>(&from));
    // sin_port and sin6_port sit at the same place.
    *from_port = ntohs(reinterpret_cast<sockaddr_in*>(&from)->sin_port);
    return true;
  }

 private:
  SOCKET s_;
  int family_;
  const WakeEvent* stop_;
};

class Win32Network : public Network {
 public:
  explicit Win32Network(WakeEvent* stop) : stop_(stop) {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Win32Network() override {
    if (started_) WSACleanup();
  }

  std::unique_ptr<UdpSocket> OpenUdp(NetError* error) override { return Open(AF_INET, error); }

  std::unique_ptr<UdpSocket> OpenUdpFor(const std::string& peer, NetError* error) override {
    sockaddr_storage addr;
    int size = 0;
    const bool v6 = ToSocketAddress(peer, 0, &addr, &size) && addr.ss_family == AF_INET6;
    return Open(v6 ? AF_INET6 : AF_INET, error);
  }

  bool ResolveIPv4(const std::string& host, std::string* ipv4, NetError* error) override {
    return ResolveName(host, ipv4, error);
  }

  bool ResolveTcp(const std::string& host, std::vector<std::string>* addresses,
                  NetError* error) override {
    sockaddr_storage literal;
    int size;
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
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer(size);
    auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    ULONG rc = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST,
                                    nullptr, list, &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
      buffer.resize(size);
      list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
      rc = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                list, &size);
    }
    if (rc != NO_ERROR) return out;
    for (auto* a = list; a != nullptr; a = a->Next) {
      if (a->OperStatus != IfOperStatusUp) continue;
      for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
        if (u->Address.lpSockaddr == nullptr || u->Address.lpSockaddr->sa_family != AF_INET)
          continue;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(u->Address.lpSockaddr)->sin_addr, text,
                  sizeof text);
        out.push_back(text);
      }
    }
    return out;
  }

 private:
  std::unique_ptr<UdpSocket> Open(int family, NetError* error) {
    const SOCKET s = socket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
      Fail(error, WSAGetLastError());
      return nullptr;
    }
    return std::make_unique<Win32UdpSocket>(s, family, stop_);
  }

  WakeEvent* stop_;
  bool started_ = false;
};

std::unique_ptr<TcpConnection> Win32Network::ConnectTcp(const std::string& host, uint16_t port,
                                                        uint32_t timeout_ms, NetError* error) {
  sockaddr_storage addr;
  int addr_size = 0;
  if (!ToSocketAddress(host, port, &addr, &addr_size)) {
    std::string ipv4;
    if (!ResolveName(host, &ipv4, error)) return nullptr;
    if (!ToSocketAddress(ipv4, port, &addr, &addr_size)) {
      Fail(error, WSAEADDRNOTAVAIL);
      return nullptr;
    }
  }
  const SOCKET s = socket(addr.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    Fail(error, WSAGetLastError());
    return nullptr;
  }
  auto connection = std::make_unique<Win32TcpConnection>(s, stop_);
  u_long non_blocking = 1;
  if (ioctlsocket(s, FIONBIO, &non_blocking) != 0) {
    Fail(error, WSAGetLastError());
    return nullptr;
  }
  if (connect(s, reinterpret_cast<sockaddr*>(&addr), addr_size) == 0) return connection;
  const int code = WSAGetLastError();
  if (code != WSAEWOULDBLOCK) {
    Fail(error, code);
    return nullptr;
  }
  bool failed = false;
  const int ready = WaitFor(s, true, stop_, DeadlineAfter(timeout_ms), &failed);
  if (ready == kStopped) {
    Fail(error, kWsaInterrupted);
    return nullptr;
  }
  if (ready == SOCKET_ERROR) {
    Fail(error, WSAGetLastError());
    return nullptr;
  }
  if (ready == 0) {
    Fail(error, WSAETIMEDOUT);
    return nullptr;
  }
  if (failed) {
    int so_error = 0;
    int len = sizeof so_error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len);
    Fail(error, so_error != 0 ? so_error : WSAECONNREFUSED);
    return nullptr;
  }
  return connection;
}

}  // namespace

std::unique_ptr<Network> NewSystemNetwork(WakeEvent* stop, Heartbeat*) {
  return std::make_unique<Win32Network>(stop);
}

}  // namespace tw
