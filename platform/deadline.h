// The time limits of the socket and TLS waits: a deadline on the steady clock and what is left
// of it. Platform code only (the service's own waits go through the Clock seam).
#ifndef TEMPWARDEN_PLATFORM_DEADLINE_H_
#define TEMPWARDEN_PLATFORM_DEADLINE_H_

#include <chrono>
#include <cstdint>

namespace tw {

using Deadline = std::chrono::steady_clock::time_point;

inline Deadline DeadlineAfter(uint32_t ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

// Milliseconds left until `deadline`, never negative.
inline uint32_t MillisecondsLeft(Deadline deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
}

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_DEADLINE_H_
