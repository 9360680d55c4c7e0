// Shared by the POSIX implementations of the platform seams only: the descriptor of a system
// wake-up event, readable (POLLIN) while the event is raised.
#ifndef TEMPWARDEN_PLATFORM_WAKE_EVENT_POSIX_H_
#define TEMPWARDEN_PLATFORM_WAKE_EVENT_POSIX_H_

#include "platform/wake_event.h"

namespace tw {

// -1 for null or for an event that is not the system's (a test's fake).
int WakeEventFd(const WakeEvent* event);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_WAKE_EVENT_POSIX_H_
