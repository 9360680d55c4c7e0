#include "service/schedule.h"

#include <cmath>

namespace tw {
namespace {

constexpr int64_t kDayMs = 86400000;
constexpr int32_t kPointSeconds = 300;

// Floor division, for wall times before midnight (a pass due yesterday, run today).
int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

bool TempPassesAligned(int32_t interval_s) {
  if (interval_s <= 0) return false;
  // Shorter slots would leave little room to run late, and have no use.
  if (kPointSeconds % interval_s == 0) return interval_s >= 30;
  return interval_s % kPointSeconds == 0 && (kDayMs / 1000) % interval_s == 0;
}

int64_t NextTempDueMs(int64_t due_ms, int64_t elapsed_ms, TDateTime now, int32_t interval_s) {
  const int64_t interval_ms = int64_t{interval_s} * 1000;
  if (!TempPassesAligned(interval_s)) return due_ms + interval_ms;
  // Where the due time lay on the wall clock of today (negative: before midnight).
  const double day = std::floor(now);
  const int64_t wall_ms = std::llround((now - day) * static_cast<double>(kDayMs));
  const int64_t due_wall_ms = wall_ms - (elapsed_ms - due_ms);
  const int64_t slot = FloorDiv(due_wall_ms, interval_ms);
  const int64_t next_wall_ms = (slot + 1) * interval_ms + kTempPassLeadMs;
  return due_ms + (next_wall_ms - due_wall_ms);
}

}  // namespace tw
