// A console for tests: records every line with its colour.
#ifndef TEMPWARDEN_PLATFORM_FAKE_CONSOLE_H_
#define TEMPWARDEN_PLATFORM_FAKE_CONSOLE_H_

#include <string>
#include <vector>

#include "platform/console.h"

namespace tw {

class FakeConsole : public Console {
 public:
  struct Line {
    std::string text;
    ConsoleColour colour;
  };

  bool Attached() override { return attached; }
  void WriteLine(const std::string& text, ConsoleColour colour) override;

  bool attached = true;     // false: behaves like a service without a console
  std::vector<Line> lines;  // lines written while attached, in order
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_FAKE_CONSOLE_H_
