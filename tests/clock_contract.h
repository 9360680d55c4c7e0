// The contract of Clock::Wait and Clock::MonotonicMs (platform/clock.h), as one
// type-parameterized suite for the platform's clock and every test clock.
//
// A parameter type `T` sets up one clock and one wake-up event:
//   Clock& clock();  WakeEvent& event();
//   void RaiseAfter(uint32_t ms);  raises the event `ms` after now, during the wait that follows
//   static constexpr bool kSimulated;  true: time moves only with the waits, exactly
// Instantiate with INSTANTIATE_TYPED_TEST_SUITE_P(Name, ClockContract, Types).
#ifndef TEMPWARDEN_TESTS_CLOCK_CONTRACT_H_
#define TEMPWARDEN_TESTS_CLOCK_CONTRACT_H_

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/clock.h"
#include "platform/wake_event.h"

namespace tw {

// Far longer than any wait below may take when the wake-up works.
constexpr uint32_t kContractLongWaitMs = 20000;

template <typename T>
class ClockContract : public ::testing::Test {
 protected:
  Clock& clock() { return setup_.clock(); }
  WakeEvent& event() { return setup_.event(); }

  // Waits through the Clock interface; returns what the wait returned and how long it took.
  bool TimedWait(uint32_t milliseconds, WakeEvent* wake, uint64_t* elapsed_ms) {
    const uint64_t before = clock().MonotonicMs();
    const bool woken = clock().Wait(milliseconds, wake);
    *elapsed_ms = clock().MonotonicMs() - before;
    return woken;
  }
  // A wait that must run out its time: exactly on a simulated clock.
  void ExpectFullWait(uint64_t elapsed_ms, uint32_t asked_ms) {
    if (T::kSimulated) {
      EXPECT_EQ(elapsed_ms, asked_ms);
    } else {
      EXPECT_GE(elapsed_ms, asked_ms);
      EXPECT_LT(elapsed_ms, kContractLongWaitMs);
    }
  }

  T setup_;
};

TYPED_TEST_SUITE_P(ClockContract);

TYPED_TEST_P(ClockContract, TimeoutReturnsAtTheDeadline) {
  uint64_t elapsed = 0;
  EXPECT_FALSE(this->TimedWait(40, &this->event(), &elapsed));
  this->ExpectFullWait(elapsed, 40);
  EXPECT_FALSE(this->event().Raised());
  EXPECT_FALSE(this->TimedWait(40, nullptr, &elapsed));
  this->ExpectFullWait(elapsed, 40);
  EXPECT_FALSE(this->TimedWait(0, &this->event(), &elapsed));
  this->ExpectFullWait(elapsed, 0);
}

// An event raised before the wait ends it at once, and stays raised until lowered.
TYPED_TEST_P(ClockContract, AnEventRaisedAlready) {
  this->event().Raise();
  for (int i = 0; i < 2; ++i) {
    uint64_t elapsed = 0;
    EXPECT_TRUE(this->TimedWait(kContractLongWaitMs, &this->event(), &elapsed)) << i;
    if (TypeParam::kSimulated) {
      EXPECT_EQ(elapsed, 0u) << i;
    } else {
      EXPECT_LT(elapsed, kContractLongWaitMs / 2) << i;
    }
    EXPECT_TRUE(this->event().Raised()) << i;
  }
  this->event().Lower();
  uint64_t elapsed = 0;
  EXPECT_FALSE(this->TimedWait(30, &this->event(), &elapsed));
  this->ExpectFullWait(elapsed, 30);
}

TYPED_TEST_P(ClockContract, WakeDuringTheWaitReturnsEarly) {
  this->setup_.RaiseAfter(30);
  uint64_t elapsed = 0;
  EXPECT_TRUE(this->TimedWait(kContractLongWaitMs, &this->event(), &elapsed));
  if (TypeParam::kSimulated) {
    EXPECT_EQ(elapsed, 30u);
  } else {
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, kContractLongWaitMs / 2);
  }
  EXPECT_TRUE(this->event().Raised());
}

// The monotonic time moves on with every wait and never wraps; a simulated clock shows it
// over 60 days (the 32-bit tick count wraps after 49.7).
TYPED_TEST_P(ClockContract, MonotonicTimeNeverWraps) {
  const uint64_t before = this->clock().MonotonicMs();
  const uint32_t step = TypeParam::kSimulated ? 10u * 86400000u : 10u;
  for (int i = 0; i < 6; ++i) this->clock().Wait(step, nullptr);
  const uint64_t elapsed = this->clock().MonotonicMs() - before;
  EXPECT_GE(elapsed, 6ull * step);
  if (TypeParam::kSimulated) {
    EXPECT_EQ(elapsed, 6ull * step);
  }
}

REGISTER_TYPED_TEST_SUITE_P(ClockContract, TimeoutReturnsAtTheDeadline, AnEventRaisedAlready,
                            WakeDuringTheWaitReturnsEarly, MonotonicTimeNeverWraps);

}  // namespace tw

#endif  // TEMPWARDEN_TESTS_CLOCK_CONTRACT_H_
