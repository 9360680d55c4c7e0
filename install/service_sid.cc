#include "install/service_sid.h"

#include <cstdint>

namespace tw {

std::string ServiceSidOf(Crypto& crypto, const std::string& service_name) {
  // Windows upper-cases with its own Unicode table; for ASCII that is plain A-Z.
  std::string utf16le;
  for (const char c : service_name) {
    if (static_cast<unsigned char>(c) > 0x7F) return std::string();
    utf16le += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    utf16le += '\0';
  }
  std::string digest;
  if (!crypto.Hash(HashKind::kSha1, utf16le, &digest) || digest.size() != 20) return std::string();
  std::string sid = "S-1-5-80";
  for (size_t i = 0; i < 20; i += 4) {
    uint32_t part = 0;
    for (size_t b = 0; b < 4; ++b) {
      part |= static_cast<uint32_t>(static_cast<unsigned char>(digest[i + b])) << (8 * b);
    }
    sid += "-" + std::to_string(part);
  }
  return sid;
}

std::string DataFolderSddl(const std::string& sid) {
  std::string sddl = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  // 0x1301bf: FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE.
  if (!sid.empty()) sddl += "(A;OICI;0x1301bf;;;" + sid + ")";
  return sddl;
}

std::string VirtualAccountOf(const std::string& service_name) {
  return "NT SERVICE\\" + service_name;
}

}  // namespace tw
