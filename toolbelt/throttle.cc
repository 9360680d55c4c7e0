#include "toolbelt/throttle.h"

namespace tw {

bool Throttle::Admit(const std::string& key, uint32_t tick, int32_t* held_back) {
  *held_back = 0;
  const auto it = seen_.find(key);
  if (it != seen_.end()) {
    // Unsigned difference: right across a wrap of the tick count.
    if (static_cast<uint32_t>(tick - it->second.tick) < interval_ms_) {
      if (it->second.held_back < INT32_MAX) ++it->second.held_back;
      return false;
    }
    *held_back = it->second.held_back;
    it->second = Seen{tick, 0};
    return true;
  }
  if (seen_.size() >= kMaxKeys) {
    for (auto old = seen_.begin(); old != seen_.end();) {
      old = static_cast<uint32_t>(tick - old->second.tick) >= interval_ms_ ? seen_.erase(old)
                                                                           : std::next(old);
    }
    if (seen_.size() >= kMaxKeys) seen_.clear();
  }
  seen_[key] = Seen{tick, 0};
  return true;
}

}  // namespace tw
