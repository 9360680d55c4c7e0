// clang-format off
#include <windows.h>
#include <psapi.h>  // after windows.h, which it needs
// clang-format on

#include "soak/process_stats.h"

namespace tw {
namespace {

double Seconds(const FILETIME& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<double>(v.QuadPart) / 1e7;  // 100-ns units
}

}  // namespace

ProcessStats ReadProcessStats() {
  ProcessStats stats;
  HANDLE self = GetCurrentProcess();
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(self, &created, &exited, &kernel, &user)) {
    stats.user_seconds = Seconds(user);
    stats.system_seconds = Seconds(kernel);
    stats.cpu_seconds = stats.user_seconds + stats.system_seconds;
  }
  PROCESS_MEMORY_COUNTERS counters{};
  if (GetProcessMemoryInfo(self, &counters, sizeof counters)) {
    stats.peak_memory_kb = counters.PeakWorkingSetSize / 1024;
  }
  DWORD handles = 0;
  if (GetProcessHandleCount(self, &handles)) stats.open_handles = handles;
  return stats;
}

std::vector<std::string> OpenHandleNames() { return {}; }

std::string MakeTempDirectory(const std::string& prefix) {
  char base[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH) return std::string();
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string dir = std::string(base) + prefix + std::to_string(GetCurrentProcessId()) +
                            "-" + std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
}

}  // namespace tw
