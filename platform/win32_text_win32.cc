#include <windows.h>

#include "platform/win32_text.h"

namespace tw {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

}  // namespace tw
