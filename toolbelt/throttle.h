// A throttle for messages about faults that repeat: a fault met on every pass (an unresolvable
// host, a full disk) is told once per interval, and the next message says how many were held
// back meanwhile.
#ifndef TEMPWARDEN_TOOLBELT_THROTTLE_H_
#define TEMPWARDEN_TOOLBELT_THROTTLE_H_

#include <cstdint>
#include <map>
#include <string>

namespace tw {

constexpr uint32_t kOneHourMs = 3600u * 1000u;

class Throttle {
 public:
  explicit Throttle(uint32_t interval_ms) : interval_ms_(interval_ms) {}

  // True when no message of `key` was let through during the last interval before `tick`
  // (a millisecond tick count that may wrap, as Clock::TickCount does); `*held_back` then
  // receives how many were held back since the last one let through. False counts this one
  // as held back. The tick, unlike the wall clock, does not jump with a clock step.
  bool Admit(const std::string& key, uint32_t tick, int32_t* held_back);

  // Keys remembered at most; beyond it the keys whose interval has passed are forgotten
  // (a message of such a key would be let through anyway, only its count of held-back
  // messages is lost), and if that is not enough, all of them.
  static constexpr size_t kMaxKeys = 512;

 private:
  struct Seen {
    uint32_t tick = 0;
    int32_t held_back = 0;
  };
  uint32_t interval_ms_;
  std::map<std::string, Seen> seen_;
};

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_THROTTLE_H_
