// Where the temperature passes fall. A sample is taken only in the first temperature pass of
// a five-minute point of the local day, so a pass placed just before a point ends loses that
// point as soon as it runs a little late (a slow card, a mail, a busy machine). When the
// interval fits the points (it divides 300 seconds, or is a multiple of 300 that divides a
// day), the passes are therefore placed kTempPassLeadMs after the start of a slot of the
// local day, slots being that interval long and counted from midnight: with the default 300 s
// every pass comes 1 s into its point and may run up to 4 min 59 s late without losing it.
// Other intervals keep the phase of the service start.
#ifndef TEMPWARDEN_SERVICE_SCHEDULE_H_
#define TEMPWARDEN_SERVICE_SCHEDULE_H_

#include <cstdint>

#include "platform/calendar.h"

namespace tw {

// How far into its slot an aligned temperature pass is due: enough to stay clear of the
// slot's start when the wall clock and the monotonic clock drift apart a little within one
// interval (the due time is taken anew from the wall clock at every pass; crystals drift some
// milliseconds in five minutes), and the second after the start that the first pass has
// always taken, so that a service started on a point keeps its old times.
constexpr int64_t kTempPassLeadMs = 1000;

// True when passes every `interval_s` seconds are placed in the slots of the day.
bool TempPassesAligned(int32_t interval_s);

// The due time, in milliseconds of the cycle's monotonic time, of the temperature pass after
// the one that was due at `due_ms`, with `interval_s` in force. `elapsed_ms` is the monotonic
// time now and `now` the local wall time now, which together place `due_ms` on the wall clock.
// Aligned: the lead time of the slot after the one holding `due_ms` (a pass that was due
// slightly before its slot's lead still counts for that slot, and one due before the slot's
// start, such as the first pass after the start, is followed by the next slot's pass). Not
// aligned: `due_ms` + the interval. Either way a pass that runs late does not move the ones
// after it, and passes that fall overdue run one after the other until they are caught up.
int64_t NextTempDueMs(int64_t due_ms, int64_t elapsed_ms, TDateTime now, int32_t interval_s);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_SCHEDULE_H_
