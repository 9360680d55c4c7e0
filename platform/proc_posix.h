// Linux's status files under /proc ("/proc/self/status", "/proc/meminfo"): lines of a key, such
// as "Umask:", followed by its value.
#ifndef TEMPWARDEN_PLATFORM_PROC_POSIX_H_
#define TEMPWARDEN_PLATFORM_PROC_POSIX_H_

#include <string>

namespace tw {

// The rest of the first line of `file` that starts with `key`, blanks included; false when the
// file cannot be read or has no such line.
bool ReadProcField(const char* file, const char* key, std::string* value);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_PROC_POSIX_H_
