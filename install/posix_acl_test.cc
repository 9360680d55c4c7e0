#include "install/posix_acl.h"

#include <gtest/gtest.h>

#include <string>

namespace tw {
namespace {

std::string Bytes(std::initializer_list<unsigned char> b) {
  return std::string(b.begin(), b.end());
}

// setfacl -m u:1001:rwx,g:50:r-x on a folder of root's 0755: what getxattr returns.
const std::string kUserMayWrite = Bytes({
    0x02, 0x00, 0x00, 0x00,                          // version 2
    0x01, 0x00, 0x07, 0x00, 0xff, 0xff, 0xff, 0xff,  // USER_OBJ rwx
    0x02, 0x00, 0x07, 0x00, 0xe9, 0x03, 0x00, 0x00,  // USER 1001 rwx
    0x04, 0x00, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff,  // GROUP_OBJ r-x
    0x08, 0x00, 0x05, 0x00, 0x32, 0x00, 0x00, 0x00,  // GROUP 50 r-x
    0x10, 0x00, 0x07, 0x00, 0xff, 0xff, 0xff, 0xff,  // MASK rwx
    0x20, 0x00, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff,  // OTHER r-x
});

std::string With(std::string acl, size_t byte, unsigned char value) {
  acl[byte] = static_cast<char>(value);
  return acl;
}

TEST(PosixAclTest, NamedWritersUnderTheMask) {
  struct Case {
    const char* what;
    std::string attribute;
    AclWrite kind;
    uint32_t id;
  } cases[] = {
      {"named user rwx", kUserMayWrite, AclWrite::kUser, 1001},
      {"named user r-x", With(kUserMayWrite, 14, 0x05), AclWrite::kNone, 0},
      {"the mask takes write away", With(kUserMayWrite, 38, 0x05), AclWrite::kNone, 0},
      {"named user is root", With(With(kUserMayWrite, 16, 0), 17, 0), AclWrite::kNone, 0},
      {"named group rwx, user r-x", With(With(kUserMayWrite, 14, 0x05), 30, 0x07), AclWrite::kGroup,
       50},
      {"owner and other entries are the mode's",
       Bytes({0x02, 0,    0,    0, 0x01, 0, 0x07, 0,    0xff, 0xff,
              0xff, 0xff, 0x20, 0, 0x07, 0, 0xff, 0xff, 0xff, 0xff}),
       AclWrite::kNone, 0},
      {"version 1", With(kUserMayWrite, 0, 0x01), AclWrite::kMalformed, 0},
      {"an entry cut short", kUserMayWrite.substr(0, kUserMayWrite.size() - 1),
       AclWrite::kMalformed, 0},
      {"no header", kUserMayWrite.substr(0, 3), AclWrite::kMalformed, 0},
      {"header only", kUserMayWrite.substr(0, 4), AclWrite::kNone, 0},
  };
  for (const Case& c : cases) {
    const AclWriteGrant grant = FindAclWriteGrant(c.attribute);
    EXPECT_EQ(grant.kind, c.kind) << c.what;
    EXPECT_EQ(grant.id, c.id) << c.what;
  }
}

// The service's own account may write its data folder; a named entry for it is no risk there.
TEST(PosixAclTest, TheAllowedUserAndGroupAreNoWriters) {
  const std::string both = With(kUserMayWrite, 30, 0x07);  // user 1001 and group 50 rwx
  EXPECT_EQ(FindAclWriteGrant(both, 1001, 0).kind, AclWrite::kGroup);
  EXPECT_EQ(FindAclWriteGrant(both, 1001, 50).kind, AclWrite::kNone);
  EXPECT_EQ(FindAclWriteGrant(both, 50, 1001).kind, AclWrite::kUser);
}

}  // namespace
}  // namespace tw
