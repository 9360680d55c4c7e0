#include "install/posix_acl.h"

namespace tw {
namespace {

constexpr uint32_t kAclVersion = 2;
constexpr size_t kHeaderSize = 4;
constexpr size_t kEntrySize = 8;
constexpr uint16_t kTagUser = 0x02;
constexpr uint16_t kTagGroup = 0x08;
constexpr uint16_t kTagMask = 0x10;
constexpr uint16_t kPermWrite = 0x02;

uint32_t Little(std::string_view bytes, size_t at, size_t width) {
  uint32_t value = 0;
  for (size_t i = width; i-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

}  // namespace

AclWriteGrant FindAclWriteGrant(std::string_view attribute, uint32_t user, uint32_t group) {
  AclWriteGrant none;
  if (attribute.size() < kHeaderSize || (attribute.size() - kHeaderSize) % kEntrySize != 0 ||
      Little(attribute, 0, 4) != kAclVersion) {
    none.kind = AclWrite::kMalformed;
    return none;
  }
  // The mask limits every named entry, wherever it stands in the list.
  uint16_t mask = 0xFFFF;
  for (size_t at = kHeaderSize; at < attribute.size(); at += kEntrySize) {
    if (Little(attribute, at, 2) == kTagMask)
      mask = static_cast<uint16_t>(Little(attribute, at + 2, 2));
  }
  for (size_t at = kHeaderSize; at < attribute.size(); at += kEntrySize) {
    const uint16_t tag = static_cast<uint16_t>(Little(attribute, at, 2));
    const uint16_t perm = static_cast<uint16_t>(Little(attribute, at + 2, 2));
    const uint32_t id = Little(attribute, at + 4, 4);
    const bool allowed = id == 0 || (tag == kTagUser ? id == user : id == group);
    if ((tag != kTagUser && tag != kTagGroup) || allowed || (perm & mask & kPermWrite) == 0) {
      continue;
    }
    return AclWriteGrant{tag == kTagUser ? AclWrite::kUser : AclWrite::kGroup, id};
  }
  return none;
}

}  // namespace tw
