#include <windows.h>

#include "platform/speaker.h"

namespace tw {
namespace {

class Win32Speaker : public Speaker {
 public:
  // Beep plays synchronously; it fails quietly where no sound device exists (a session-0
  // service on some Windows versions), which is fine for a signal nobody may hear.
  void Beep(uint32_t frequency_hz, uint32_t duration_ms) override {
    ::Beep(static_cast<DWORD>(frequency_hz), static_cast<DWORD>(duration_ms));
  }
};

}  // namespace

std::unique_ptr<Speaker> NewSystemSpeaker() { return std::make_unique<Win32Speaker>(); }

}  // namespace tw
