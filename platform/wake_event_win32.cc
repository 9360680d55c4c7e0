#include "platform/wake_event_win32.h"

#include <windows.h>

namespace tw {
namespace {

// A manual-reset event: it stays signalled for every wait until lowered.
class Win32WakeEvent : public WakeEvent {
 public:
  Win32WakeEvent() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Win32WakeEvent() override {
    if (event_ != nullptr) CloseHandle(event_);
  }

  void Raise() override {
    if (event_ != nullptr) SetEvent(event_);
  }
  void Lower() override {
    if (event_ != nullptr) ResetEvent(event_);
  }
  bool Raised() const override {
    return event_ != nullptr && WaitForSingleObject(event_, 0) == WAIT_OBJECT_0;
  }

  HANDLE handle() const { return event_; }

 private:
  HANDLE event_;
};

}  // namespace

std::unique_ptr<WakeEvent> NewSystemWakeEvent() { return std::make_unique<Win32WakeEvent>(); }

HANDLE WakeEventHandle(const WakeEvent* event) {
  const auto* own = dynamic_cast<const Win32WakeEvent*>(event);
  return own == nullptr ? nullptr : own->handle();
}

}  // namespace tw
