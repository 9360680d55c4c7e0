#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "platform/console.h"

namespace tw {
namespace {

// The ANSI sequence closest to each console text attribute.
const char* AnsiColour(ConsoleColour colour) {
  switch (colour) {
    case ConsoleColour::kBrightGreen:
      return "\x1b[92m";
    case ConsoleColour::kBrightRed:
      return "\x1b[91m";
    case ConsoleColour::kNormal:
      break;
  }
  return "\x1b[0m";
}

class PosixConsole : public Console {
 public:
  // Only a terminal gets lines: a daemon's standard output is /dev/null or a log
  // collector, which has no use for colour sequences.
  bool Attached() override { return ::isatty(STDOUT_FILENO) == 1; }

  void WriteLine(const std::string& text, ConsoleColour colour) override {
    if (!Attached()) return;
    std::string line = AnsiColour(colour);
    line += text;
    line += AnsiColour(ConsoleColour::kNormal);
    line += '\n';
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(STDOUT_FILENO, line.data() + done, line.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  bool ReadHiddenLine(const std::string& prompt, std::string* line) override {
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
      std::cerr << prompt << std::flush;
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    line->clear();
    const bool got = static_cast<bool>(std::getline(std::cin, *line)) || !line->empty();
    if (terminal) {
      ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
      std::cerr << std::endl;  // the Enter that was not echoed
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return got;
  }
};

}  // namespace

std::unique_ptr<Console> NewSystemConsole() { return std::make_unique<PosixConsole>(); }

}  // namespace tw
