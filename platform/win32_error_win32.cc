#include <windows.h>

#include "platform/win32_error.h"

namespace tw {

std::string Win32ErrorText(unsigned long code) {
  char buffer[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  std::string text = buffer;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace tw
