// A speaker for tests that records every tone instead of playing it.
#ifndef TEMPWARDEN_PLATFORM_FAKE_SPEAKER_H_
#define TEMPWARDEN_PLATFORM_FAKE_SPEAKER_H_

#include <cstdint>
#include <vector>

#include "platform/speaker.h"

namespace tw {

class FakeSpeaker : public Speaker {
 public:
  struct Tone {
    uint32_t frequency_hz = 0;
    uint32_t duration_ms = 0;
    bool operator==(const Tone& other) const {
      return frequency_hz == other.frequency_hz && duration_ms == other.duration_ms;
    }
  };

  void Beep(uint32_t frequency_hz, uint32_t duration_ms) override;

  std::vector<Tone> tones;  // every tone asked for, in order
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_FAKE_SPEAKER_H_
