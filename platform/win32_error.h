// The system's text for a Windows error number, for the Windows platform files only.
#ifndef TEMPWARDEN_PLATFORM_WIN32_ERROR_H_
#define TEMPWARDEN_PLATFORM_WIN32_ERROR_H_

#include <string>

namespace tw {

// FormatMessageA's text for `code`, without its trailing line break.
std::string Win32ErrorText(unsigned long code);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_WIN32_ERROR_H_
