// The console seam: progress lines with a text colour for someone watching the process run
// in a console window or terminal. A service has no console; lines are then dropped.
#ifndef TEMPWARDEN_PLATFORM_CONSOLE_H_
#define TEMPWARDEN_PLATFORM_CONSOLE_H_

#include <cstdint>
#include <memory>
#include <string>

namespace tw {

// Windows console text attributes; the POSIX console maps them to ANSI colour sequences.
enum class ConsoleColour : uint16_t {
  kNormal = 7,        // grey, the console's usual colour
  kBrightGreen = 10,  // progress
  kBrightRed = 12,    // failure
};

class Console {
 public:
  virtual ~Console() = default;

  // True when standard output is a console window or a terminal.
  virtual bool Attached() = 0;

  // Writes `text` and a line end in `colour`, then sets the normal colour again. Does
  // nothing without a console; a failed write is ignored, as a progress line is never worth
  // failing the work it describes.
  virtual void WriteLine(const std::string& text, ConsoleColour colour) = 0;

  // Reads one line of standard input, the line end dropped, for a secret: on a terminal
  // `prompt` goes to standard error and what is typed is not shown. False at the end of the
  // input before any character, and where there is no input (a service, most tests).
  virtual bool ReadHiddenLine(const std::string& /*prompt*/, std::string* /*line*/) {
    return false;
  }
};

std::unique_ptr<Console> NewSystemConsole();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_CONSOLE_H_
