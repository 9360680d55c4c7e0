#include "platform/crypto.h"

namespace tw {

size_t DigestSize(HashKind kind) {
  switch (kind) {
    case HashKind::kMd5:
      return 16;
    case HashKind::kSha1:
      return 20;
    case HashKind::kSha256:
      return 32;
    case HashKind::kSha224:
      return 28;
    case HashKind::kSha384:
      return 48;
    case HashKind::kSha512:
      return 64;
  }
  return 0;
}

}  // namespace tw
