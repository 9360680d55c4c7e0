#include <windows.h>

#include <string>

#include "platform/console.h"

namespace tw {
namespace {

class Win32Console : public Console {
 public:
  // A service has no console: GetStdHandle then returns null or a handle that is no console
  // (a redirected file or pipe), and GetConsoleMode fails on it.
  bool Attached() override {
    DWORD mode = 0;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out != nullptr && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode) != 0;
  }

  void WriteLine(const std::string& text, ConsoleColour colour) override {
    if (!Attached()) return;
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    SetConsoleTextAttribute(out, static_cast<WORD>(colour));
    const std::string line = text + "\r\n";
    DWORD written = 0;
    WriteConsoleA(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    SetConsoleTextAttribute(out, static_cast<WORD>(ConsoleColour::kNormal));
  }
};

}  // namespace

std::unique_ptr<Console> NewSystemConsole() { return std::make_unique<Win32Console>(); }

}  // namespace tw
