#include <windows.h>

#include <iostream>
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

  bool ReadHiddenLine(const std::string& prompt, std::string* line) override {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = in != nullptr && in != INVALID_HANDLE_VALUE && GetConsoleMode(in, &mode);
    if (console) {
      std::cerr << prompt << std::flush;
      SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    line->clear();
    const bool got = static_cast<bool>(std::getline(std::cin, *line)) || !line->empty();
    if (console) {
      SetConsoleMode(in, mode);
      std::cerr << std::endl;  // the Enter that was not echoed
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return got;
  }
};

}  // namespace

std::unique_ptr<Console> NewSystemConsole() { return std::make_unique<Win32Console>(); }

}  // namespace tw
