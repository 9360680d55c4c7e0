#include "platform/network.h"

#include <cstring>
#include <vector>

namespace tw {

NetError MakeNetError(int code) {
  const char* text = "Unknown socket error.";
  switch (code) {
    case 10004:
      text = "Interrupted system call.";
      break;
    case 10013:
      text = "Permission denied.";
      break;
    case 10022:
      text = "Invalid argument.";
      break;
    case 10024:
      text = "Too many open files.";
      break;
    case 10040:
      text = "Message too long.";
      break;
    case 10047:
      text = "Address family not supported by protocol family.";
      break;
    case 10048:
      text = "Address already in use.";
      break;
    case 10049:
      text = "Cannot assign requested address.";
      break;
    case 10050:
      text = "Network is down.";
      break;
    case kWsaNetUnreachable:
      text = "Network is unreachable.";
      break;
    case 10053:
      text = "Software caused connection abort.";
      break;
    case kWsaConnReset:
      text = "Connection reset by peer.";
      break;
    case 10055:
      text = "No buffer space available.";
      break;
    case 10057:
      text = "Socket is not connected.";
      break;
    case kWsaTimedOut:
      text = "Connection timed out.";
      break;
    case kWsaConnRefused:
      text = "Connection refused.";
      break;
    case 10064:
      text = "Host is down.";
      break;
    case 10065:
      text = "No route to host.";
      break;
    case kWsaHostNotFound:
      text = "Host not found.";
      break;
    case kWsaTryAgain:
      text = "Non-authoritative host not found.";
      break;
    case kWsaNoRecovery:
      text = "This is a non-recoverable error.";
      break;
    case kWsaNoData:
      text = "Valid name, no data record of requested type.";
      break;
    default:
      break;
  }
  return NetError{code, "Socket Error # " + std::to_string(code) + "\r\n" + text};
}

namespace {

// Dotted IPv4 "a.b.c.d" into 4 octets.
bool ParseIPv4(const std::string& text, uint8_t* out) {
  size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
    int value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3) {
      value = value * 10 + (text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    out[part] = static_cast<uint8_t>(value);
  }
  return at == text.size();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// IPv6 groups separated by ':' (no "::" inside), the last one possibly a dotted IPv4 address,
// appended to `out` as octets.
bool ParseGroups(const std::string& text, bool ipv4_tail, std::vector<uint8_t>* out) {
  if (text.empty()) return true;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    const std::string group =
        text.substr(start, colon == std::string::npos ? colon : colon - start);
    if (colon == std::string::npos && ipv4_tail && group.find('.') != std::string::npos) {
      uint8_t v4[4];
      if (!ParseIPv4(group, v4)) return false;
      out->insert(out->end(), v4, v4 + 4);
      return true;
    }
    if (group.empty() || group.size() > 4) return false;
    int value = 0;
    for (const char c : group) {
      const int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    out->push_back(static_cast<uint8_t>(value >> 8));
    out->push_back(static_cast<uint8_t>(value & 0xFF));
    if (colon == std::string::npos) return true;
    start = colon + 1;
  }
}

// An address text as the 16 octets of its IPv6 form (IPv4 as IPv4-mapped), the zone left out.
bool ParseAddress(std::string text, uint8_t* out) {
  uint8_t v4[4];
  if (ParseIPv4(text, v4)) {
    std::memset(out, 0, 16);
    out[10] = out[11] = 0xFF;
    std::memcpy(out + 12, v4, 4);
    return true;
  }
  const size_t zone = text.find('%');
  if (zone != std::string::npos) text.resize(zone);
  std::vector<uint8_t> head, tail;
  const size_t gap = text.find("::");
  if (gap == std::string::npos) {
    if (!ParseGroups(text, true, &head) || head.size() != 16) return false;
  } else {
    if (text.find("::", gap + 1) != std::string::npos) return false;
    if (!ParseGroups(text.substr(0, gap), false, &head) ||
        !ParseGroups(text.substr(gap + 2), true, &tail) || head.size() + tail.size() > 14) {
      return false;
    }
    head.resize(16 - tail.size(), 0);
    head.insert(head.end(), tail.begin(), tail.end());
  }
  std::memcpy(out, head.data(), 16);
  return true;
}

}  // namespace

bool SameAddress(const std::string& a, const std::string& b) {
  uint8_t first[16];
  uint8_t second[16];
  if (!ParseAddress(a, first) || !ParseAddress(b, second)) return a == b;
  return std::memcmp(first, second, 16) == 0;
}

bool IsIPv6Address(const std::string& text) {
  uint8_t octets[16];
  return text.find(':') != std::string::npos && ParseAddress(text, octets);
}

}  // namespace tw
