// The tests' certificates (tests/make_test_certs.sh: a CA, the relay's certificate for
// localhost, and the forged and expired ones the TLS tests need), made with Debian's openssl
// tool into a temporary folder that goes with this object.
#ifndef TEMPWARDEN_TESTS_TEST_CERTS_H_
#define TEMPWARDEN_TESTS_TEST_CERTS_H_

#include <cstdlib>
#include <string>

#include "tests/temp_dir.h"

namespace tw {

class TestCerts {
 public:
  TestCerts() {
    const std::string command = "bash " + std::string(TW_SOURCE_DIR) +
                                "/tests/make_test_certs.sh " + dir_.path() + " >/dev/null 2>&1";
    made_ = std::system(command.c_str()) == 0;
  }

  // False when openssl could not make them: the tests that need them skip.
  bool made() const { return made_; }
  // The path of one of them: File("ca.pem").
  std::string File(const std::string& name) const { return dir_.path() + name; }

 private:
  TempDir dir_;
  bool made_ = false;
};

}  // namespace tw

#endif  // TEMPWARDEN_TESTS_TEST_CERTS_H_
