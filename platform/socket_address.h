// The address handling that POSIX sockets and Winsock share word for word: address texts,
// socket addresses of either family, and name resolution in the resolver's order. Included
// only by network_posix.cc and network_win32.cc, after their own socket headers, which
// declare inet_pton, inet_ntop, getaddrinfo and if_nametoindex alike.
#ifndef TEMPWARDEN_PLATFORM_SOCKET_ADDRESS_H_
#define TEMPWARDEN_PLATFORM_SOCKET_ADDRESS_H_

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/network.h"

namespace tw {
namespace socket_address {

inline bool Fail(NetError* error, int wsa_code) {
  if (error != nullptr) *error = MakeNetError(wsa_code);
  return false;
}

// `with_zone`: a link-local IPv6 address gets its interface ("%2"), without which it cannot
// be reached.
inline std::string AddressText(const sockaddr* sa, bool with_zone = false) {
  char text[INET6_ADDRSTRLEN] = {};
  if (sa->sa_family == AF_INET) {
    inet_ntop(AF_INET, const_cast<in_addr*>(&reinterpret_cast<const sockaddr_in*>(sa)->sin_addr),
              text, sizeof text);
  } else if (sa->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(sa);
    inet_ntop(AF_INET6, const_cast<in6_addr*>(&v6->sin6_addr), text, sizeof text);
    if (with_zone && v6->sin6_scope_id != 0) {
      return std::string(text) + "%" + std::to_string(v6->sin6_scope_id);
    }
  }
  return text;
}

// An IPv4 or IPv6 address text as a socket address; false when `text` is neither. `Size` is
// the platform's length type (socklen_t, int).
template <typename Size>
bool ToSocketAddress(const std::string& text, uint16_t port, sockaddr_storage* out, Size* size) {
  std::memset(out, 0, sizeof *out);
  auto* v4 = reinterpret_cast<sockaddr_in*>(out);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    *size = sizeof *v4;
    return true;
  }
  // An IPv6 address may carry its zone: an interface name or number after '%'.
  const size_t percent = text.find('%');
  const std::string address = text.substr(0, percent);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(out);
  if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) != 1) return false;
  v6->sin6_family = AF_INET6;
  v6->sin6_port = htons(port);
  if (percent != std::string::npos) {
    const std::string zone = text.substr(percent + 1);
    char* end = nullptr;
    const unsigned long number = std::strtoul(zone.c_str(), &end, 10);
    using ScopeId = decltype(v6->sin6_scope_id);
    v6->sin6_scope_id = (!zone.empty() && *end == '\0') ? static_cast<ScopeId>(number)
                                                        : if_nametoindex(zone.c_str());
    if (v6->sin6_scope_id == 0) return false;
  }
  *size = sizeof *v6;
  return true;
}

// The addresses of `host` of `family` (AF_INET or AF_UNSPEC), in the resolver's order, each
// once. `ResolveError` turns getaddrinfo's failure into a Windows socket error number.
template <typename ResolveError>
bool ResolveAddresses(const std::string& host, int family, std::vector<std::string>* out,
                      NetError* error, ResolveError resolve_error) {
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc != 0 || result == nullptr) {
    if (result != nullptr) freeaddrinfo(result);
    return Fail(error, rc == 0 ? kWsaNoData : resolve_error(rc));
  }
  out->clear();
  for (addrinfo* a = result; a != nullptr; a = a->ai_next) {
    const std::string text = AddressText(a->ai_addr, true);
    if (text.empty()) continue;
    bool seen = false;
    for (const std::string& known : *out) seen = seen || known == text;
    if (!seen) out->push_back(text);
  }
  freeaddrinfo(result);
  if (out->empty()) return Fail(error, kWsaNoData);
  return true;
}

// The first IPv4 address of `host`; an IPv4 address text stands for itself.
template <typename ResolveError>
bool ResolveName(const std::string& host, std::string* ipv4, NetError* error,
                 ResolveError resolve_error) {
  in_addr literal{};
  if (inet_pton(AF_INET, host.c_str(), &literal) == 1) {
    *ipv4 = host;
    return true;
  }
  std::vector<std::string> addresses;
  if (!ResolveAddresses(host, AF_INET, &addresses, error, resolve_error)) return false;
  *ipv4 = addresses.front();
  return true;
}

}  // namespace socket_address
}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_SOCKET_ADDRESS_H_
