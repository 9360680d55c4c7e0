// The access ACL of a file as Linux keeps it in the extended attribute
// "system.posix_acl_access": who besides the owner, the owning group and everybody else may
// write there. Plain bytes in, a verdict out, so that the reading is tested on any platform.
#ifndef TEMPWARDEN_INSTALL_POSIX_ACL_H_
#define TEMPWARDEN_INSTALL_POSIX_ACL_H_

#include <cstdint>
#include <string_view>

namespace tw {

// The attribute's name and its layout: a little-endian version (2) in 4 bytes, then entries of
// 8 bytes each: tag (2 bytes), permissions (2 bytes), user or group id (4 bytes).
constexpr char kAclAccessAttribute[] = "system.posix_acl_access";

enum class AclWrite {
  kNone,       // no other named user or group may write
  kUser,       // a named user (`id`) may write
  kGroup,      // a named group (`id`) may write
  kMalformed,  // not an ACL of this layout (cut short, other version, entries cut in the middle)
};

struct AclWriteGrant {
  AclWrite kind = AclWrite::kNone;
  uint32_t id = 0;
};

// The first named user or group entry, other than root (0), `user` and `group`, whose
// permissions, under the ACL's mask when it has one, include write. The owner, the owning group and
// "other" are left to the file's mode bits, which the kernel keeps in step with those entries (the
// group bits being the mask's when there is one).
AclWriteGrant FindAclWriteGrant(std::string_view attribute, uint32_t user = 0, uint32_t group = 0);

}  // namespace tw

#endif  // TEMPWARDEN_INSTALL_POSIX_ACL_H_
