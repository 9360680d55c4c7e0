#include <windows.h>

#include "platform/clock.h"
#include "platform/wake_event_win32.h"

namespace tw {
namespace {

SYSTEMTIME ToSystemTime(const CalendarTime& t) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.year);
  st.wMonth = static_cast<WORD>(t.month);
  st.wDay = static_cast<WORD>(t.day);
  st.wHour = static_cast<WORD>(t.hour);
  st.wMinute = static_cast<WORD>(t.minute);
  st.wSecond = static_cast<WORD>(t.second);
  st.wMilliseconds = static_cast<WORD>(t.millisecond);
  return st;
}

CalendarTime FromSystemTime(const SYSTEMTIME& st) {
  CalendarTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

class Win32Clock : public Clock {
 public:
  double Now() override {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    TDateTime now = 0;
    EncodeDateTime(FromSystemTime(st), &now);
    return now;
  }

  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }

  uint32_t TickCount() override { return GetTickCount(); }

  // Counts on while the machine sleeps, like CLOCK_BOOTTIME on Linux.
  uint64_t MonotonicMs() override { return GetTickCount64(); }

  bool Wait(uint32_t milliseconds, WakeEvent* wake) override {
    const HANDLE event = WakeEventHandle(wake);
    if (event == nullptr) {
      if (wake != nullptr && wake->Raised()) return true;
      ::Sleep(milliseconds);
      return wake != nullptr && wake->Raised();
    }
    return WaitForSingleObject(event, milliseconds) == WAIT_OBJECT_0;
  }

  bool LocalToUtc(const CalendarTime& local, CalendarTime* utc) override {
    // The zone's own change-over rules decide, for the date converted, whether daylight
    // saving applies.
    TIME_ZONE_INFORMATION zone{};
    GetTimeZoneInformation(&zone);
    SYSTEMTIME in = ToSystemTime(local);
    SYSTEMTIME out{};
    if (!TzSpecificLocalTimeToSystemTime(&zone, &in, &out)) return false;
    *utc = FromSystemTime(out);
    return true;
  }
};

}  // namespace

std::unique_ptr<Clock> NewSystemClock() { return std::make_unique<Win32Clock>(); }

}  // namespace tw
