// Tests that send datagrams or look up names run only inside a private network namespace
// (./test.sh runs ctest under `unshare -n`). There, the only interfaces are loopback and the
// veth links the tests create themselves, whose names start with "tw".
#ifndef TEMPWARDEN_TESTS_ISOLATION_H_
#define TEMPWARDEN_TESTS_ISOLATION_H_

#include <fstream>
#include <string>

namespace tw {

// /proc/self/net follows the caller's namespace (unlike /sys, which shows the namespace that
// mounted it).
inline bool InPrivateNetwork() {
  std::ifstream dev("/proc/self/net/dev");
  if (!dev) return false;
  std::string line;
  int interfaces = 0;
  while (std::getline(dev, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;  // the two header lines
    const size_t start = line.find_first_not_of(' ');
    const std::string name = line.substr(start, colon - start);
    if (name != "lo" && name.rfind("tw", 0) != 0) return false;
    ++interfaces;
  }
  return interfaces > 0;
}

}  // namespace tw

#define TW_REQUIRE_PRIVATE_NETWORK()                                                    \
  do {                                                                                  \
    if (!::tw::InPrivateNetwork()) GTEST_SKIP() << "needs a private network namespace"; \
  } while (0)

#endif  // TEMPWARDEN_TESTS_ISOLATION_H_
