// The platform's clock and the test clock, held to one contract for their waits.
#include <chrono>
#include <memory>
#include <thread>

#include "platform/clock.h"
#include "platform/fake_env.h"
#include "tests/clock_contract.h"

namespace tw {
namespace {

class SystemClock {
 public:
  static constexpr bool kSimulated = false;
  ~SystemClock() {
    if (raiser_.joinable()) raiser_.join();
  }
  Clock& clock() { return *clock_; }
  WakeEvent& event() { return *event_; }
  void RaiseAfter(uint32_t milliseconds) {
    raiser_ = std::thread([this, milliseconds] {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
      event_->Raise();
    });
  }

 private:
  std::unique_ptr<Clock> clock_ = NewSystemClock();
  std::unique_ptr<WakeEvent> event_ = NewSystemWakeEvent();
  std::thread raiser_;
};

class TestClock {
 public:
  static constexpr bool kSimulated = true;
  Clock& clock() { return clock_; }
  WakeEvent& event() { return event_; }
  void RaiseAfter(uint32_t milliseconds) {
    event_.raise_at_ms = clock_.MonotonicMs() + milliseconds;
  }

 private:
  FakeClock clock_;
  FakeWakeEvent event_;
};

using Clocks = ::testing::Types<SystemClock, TestClock>;
INSTANTIATE_TYPED_TEST_SUITE_P(ClockContract, ClockContract, Clocks);

}  // namespace
}  // namespace tw
