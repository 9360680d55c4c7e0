#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "platform/speaker.h"

namespace tw {
namespace {

// Linux has no portable way to drive the PC speaker without privileges, so the signal becomes
// the terminal bell, and only when someone is watching a terminal. Frequency and duration have
// no meaning for a bell.
class PosixSpeaker : public Speaker {
 public:
  void Beep(uint32_t, uint32_t) override {
    const int fd = STDERR_FILENO;
    if (isatty(fd) != 1) return;
    // A terminal stopped with ^S would block a plain write; only ring when it takes the byte
    // now. The descriptor is shared with the rest of the process, so its flags stay untouched.
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) return;
    const ssize_t ignored = write(fd, "\a", 1);
    (void)ignored;
  }
};

}  // namespace

std::unique_ptr<Speaker> NewSystemSpeaker() { return std::make_unique<PosixSpeaker>(); }

}  // namespace tw
