// Any bytes as an access ACL attribute: the reading stays within them and names a writer only
// with an id that is not root's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "install/posix_acl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const tw::AclWriteGrant grant =
      tw::FindAclWriteGrant(std::string_view(reinterpret_cast<const char*>(data), size));
  const bool named = grant.kind == tw::AclWrite::kUser || grant.kind == tw::AclWrite::kGroup;
  if (named != (grant.id != 0)) std::abort();  // the fuzzer's signal
  return 0;
}
