// Text conversions for the Windows platform files only.
#ifndef TEMPWARDEN_PLATFORM_WIN32_TEXT_H_
#define TEMPWARDEN_PLATFORM_WIN32_TEXT_H_

#include <string>

namespace tw {

// The UTF-16 form of 8-bit text in the system's ANSI code page, for the "W" functions.
std::wstring Wide(const std::string& text);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_WIN32_TEXT_H_
