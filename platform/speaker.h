// The speaker seam: the short tone signal an exception report plays.
#ifndef TEMPWARDEN_PLATFORM_SPEAKER_H_
#define TEMPWARDEN_PLATFORM_SPEAKER_H_

#include <cstdint>
#include <memory>

namespace tw {

class Speaker {
 public:
  virtual ~Speaker() = default;

  // Plays one tone. Returns when the tone has ended where the platform plays it for its
  // duration (Windows); elsewhere it may return at once. Never throws.
  virtual void Beep(uint32_t frequency_hz, uint32_t duration_ms) = 0;
};

// Windows: the system's Beep. Linux: a terminal bell when a terminal is attached to the
// process (a daemon has none, so it stays silent); it never waits for the terminal.
std::unique_ptr<Speaker> NewSystemSpeaker();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_SPEAKER_H_
