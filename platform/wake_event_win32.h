// Shared by the Windows implementations of the platform seams only: the event object of a
// system wake-up event, signalled while the event is raised.
#ifndef TEMPWARDEN_PLATFORM_WAKE_EVENT_WIN32_H_
#define TEMPWARDEN_PLATFORM_WAKE_EVENT_WIN32_H_

#include <windows.h>

#include "platform/wake_event.h"

namespace tw {

// Null for null or for an event that is not the system's (a test's fake).
HANDLE WakeEventHandle(const WakeEvent* event);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_WAKE_EVENT_WIN32_H_
