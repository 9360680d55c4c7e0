#include "platform/network.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

// Addresses compare by what they are, not how they are spelt.
TEST(NetworkTest, SameAddress) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"10.0.0.9", "10.0.0.9", true},
      {"10.0.0.9", "10.0.0.19", false},
      {"::1", "0:0:0:0:0:0:0:1", true},
      {"::1", "::", false},
      {"fd00::9", "FD00:0000::0009", true},
      {"fd00::9", "fd00::9:0", false},
      {"fe80::9%eth0", "fe80::9", true},
      {"fe80::9%2", "fe80::9%eth0", true},
      {"::ffff:10.0.0.9", "10.0.0.9", true},
      {"::ffff:a00:9", "10.0.0.9", true},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8", true},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:9", false},
      {"1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7:8", false},  // no address: compared as text
      {"1::2::3", "1::2::3", true},
      {"10.0.0.256", "10.0.1.0", false},
      {"ups-card", "ups-card", true},
      {"ups-card", "10.0.0.9", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameAddress(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SameAddress(c.b, c.a), c.same) << c.b << " / " << c.a;
  }
  const struct {
    const char* text;
    bool ipv6;
  } kinds[] = {{"fd00::9", true},   {"::1", true},      {"fe80::9%eth0", true}, {"10.0.0.9", false},
               {"ups-card", false}, {"1::2::3", false}, {"12345::", false},     {":", false}};
  for (const auto& k : kinds) EXPECT_EQ(IsIPv6Address(k.text), k.ipv6) << k.text;
}

}  // namespace
}  // namespace tw
