#include "platform/fake_speaker.h"

namespace tw {

void FakeSpeaker::Beep(uint32_t frequency_hz, uint32_t duration_ms) {
  tones.push_back({frequency_hz, duration_ms});
}

}  // namespace tw
