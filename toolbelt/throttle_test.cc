#include "toolbelt/throttle.h"

#include <gtest/gtest.h>

#include <string>

namespace tw {
namespace {

TEST(ThrottleTest, OncePerIntervalWithTheCountHeldBack) {
  struct Step {
    const char* key;
    uint32_t tick;
    bool admitted;
    int32_t held_back;
  } steps[] = {
      {"a", 1000, true, 0},
      {"a", 1000, false, 0},  // the same millisecond
      {"b", 2000, true, 0},   // another key is told at once
      {"a", 1000 + kOneHourMs - 1, false, 0},
      {"a", 1000 + kOneHourMs, true, 2},  // an hour on: with the two held back
      {"a", 1000 + kOneHourMs + 5, false, 0},
      {"a", 1000 + 3 * kOneHourMs, true, 1},
      {"w", 0xFFFFFF00u, true, 0},
      {"w", 0x00000100u, false, 0},  // 512 ms later, across the wrap
      {"w", 0xFFFFFF00u + kOneHourMs, true, 1},
  };
  Throttle throttle(kOneHourMs);
  for (const auto& s : steps) {
    int32_t held_back = -1;
    EXPECT_EQ(throttle.Admit(s.key, s.tick, &held_back), s.admitted) << s.key << " " << s.tick;
    EXPECT_EQ(held_back, s.held_back) << s.key << " " << s.tick;
  }
}

TEST(ThrottleTest, ManyKeysStayBounded) {
  Throttle throttle(kOneHourMs);
  int32_t held_back = 0;
  for (uint32_t i = 0; i < 3 * Throttle::kMaxKeys; ++i) {
    EXPECT_TRUE(throttle.Admit("host" + std::to_string(i), i, &held_back));
  }
  // Keys are forgotten rather than kept without end; a forgotten key is told again.
  EXPECT_TRUE(throttle.Admit("host0", 3 * Throttle::kMaxKeys, &held_back));
}

}  // namespace
}  // namespace tw
