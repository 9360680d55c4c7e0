// Runs the crypto known-answer table on this platform's crypto seam and prints one line per
// vector ("ok NAME" or "FAIL NAME got HEX want HEX"); exits 1 when any failed. Built for
// Windows, where tests/wine_service_test.sh runs it under Wine against BCrypt.
#include <cstdio>
#include <cstring>

#include "tests/crypto_vectors.h"

int main() {
  std::unique_ptr<tw::Crypto> crypto = tw::NewSystemCrypto();
  int failed = 0;
  for (const tw::crypto_test::Vector& v : tw::crypto_test::Vectors()) {
    const std::string got = tw::crypto_test::Compute(*crypto, v);
    if (got == v.expected_hex) {
      std::printf("ok %s\n", v.name);
    } else {
      ++failed;
      std::printf("FAIL %s got %s want %s\n", v.name, got.c_str(), v.expected_hex);
    }
  }
  std::printf("%d failed\n", failed);
  return failed == 0 ? 0 : 1;
}
