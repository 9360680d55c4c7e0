#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <vector>

#include "platform/network.h"

namespace tw {
namespace {

bool Fail(NetError* error, int wsa_code) {
  if (error != nullptr) *error = MakeNetError(wsa_code);
  return false;
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

class Win32UdpSocket : public UdpSocket {
 public:
  explicit Win32UdpSocket(SOCKET s) : s_(s) {}
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
    sockaddr_in addr;
    if (!ToAddress(ipv4, port, &addr)) return Fail(error, WSAEADDRNOTAVAIL);
    if (sendto(s_, payload.data(), static_cast<int>(payload.size()), 0,
               reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
      return Fail(error, WSAGetLastError());
    }
    return true;
  }

  bool ReceiveFrom(size_t max_size, uint32_t timeout_ms, std::string* payload,
                   std::string* from_ipv4, uint16_t* from_port, NetError* error) override {
    WSAPOLLFD p{};
    p.fd = s_;
    p.events = POLLRDNORM;
    const int ready = WSAPoll(&p, 1, static_cast<INT>(timeout_ms));
    if (ready == SOCKET_ERROR) return Fail(error, WSAGetLastError());
    if (ready == 0) return Fail(error, WSAETIMEDOUT);
    std::string buffer(max_size == 0 ? 1 : max_size, '\0');
    sockaddr_in from{};
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
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    *from_ipv4 = text;
    *from_port = ntohs(from.sin_port);
    return true;
  }

 private:
  SOCKET s_;
};

class Win32Network : public Network {
 public:
  Win32Network() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Win32Network() override {
    if (started_) WSACleanup();
  }

  std::unique_ptr<UdpSocket> OpenUdp(NetError* error) override {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
      Fail(error, WSAGetLastError());
      return nullptr;
    }
    return std::make_unique<Win32UdpSocket>(s);
  }

  bool ResolveIPv4(const std::string& host, std::string* ipv4, NetError* error) override {
    in_addr literal{};
    if (inet_pton(AF_INET, host.c_str(), &literal) == 1) {
      *ipv4 = host;
      return true;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
    if (rc != 0 || result == nullptr) {
      if (result != nullptr) freeaddrinfo(result);
      return Fail(error, rc == 0 ? WSANO_DATA : rc);
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr, text,
              sizeof text);
    freeaddrinfo(result);
    *ipv4 = text;
    return true;
  }

  std::vector<std::string> LocalIPv4Addresses() override {
    std::vector<std::string> out;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer(size);
    auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    ULONG rc = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                                    list, &size);
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
        if (u->Address.lpSockaddr == nullptr || u->Address.lpSockaddr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(u->Address.lpSockaddr)->sin_addr, text,
                  sizeof text);
        out.push_back(text);
      }
    }
    return out;
  }

 private:
  bool started_ = false;
};

}  // namespace

std::unique_ptr<Network> NewSystemNetwork() { return std::make_unique<Win32Network>(); }

}  // namespace tw
