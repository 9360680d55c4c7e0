#include "platform/fake_console.h"

namespace tw {

void FakeConsole::WriteLine(const std::string& text, ConsoleColour colour) {
  if (attached) lines.push_back({text, colour});
}

}  // namespace tw
