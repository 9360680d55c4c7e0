// What the process itself costs: CPU time, peak memory and open handles, as the platform
// counts them. Linux reads /proc/self; Windows asks the process APIs.
#ifndef TEMPWARDEN_SOAK_PROCESS_STATS_H_
#define TEMPWARDEN_SOAK_PROCESS_STATS_H_

#include <cstdint>
#include <string>

namespace tw {

struct ProcessStats {
  double cpu_seconds = 0;       // user and kernel time of the whole process
  uint64_t peak_memory_kb = 0;  // peak resident set (VmHWM; peak working set on Windows)
  int64_t open_handles = -1;    // open file descriptors (handles on Windows); -1: unknown
};

ProcessStats ReadProcessStats();

// Creates a new empty directory under the system's temporary directory and returns its path
// (without a trailing separator); empty when it cannot.
std::string MakeTempDirectory(const std::string& prefix);

}  // namespace tw

#endif  // TEMPWARDEN_SOAK_PROCESS_STATS_H_
