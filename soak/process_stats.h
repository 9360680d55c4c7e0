// What the process itself costs: CPU time, peak memory, heap in use and open handles, as the
// platform counts them. Linux reads /proc/self; Windows asks the process APIs.
#ifndef TEMPWARDEN_SOAK_PROCESS_STATS_H_
#define TEMPWARDEN_SOAK_PROCESS_STATS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace tw {

struct ProcessStats {
  double cpu_seconds = 0;       // user and kernel time of the whole process
  double user_seconds = 0;      // of which in the process's own code
  double system_seconds = 0;    // of which in the kernel, for the process
  uint64_t peak_memory_kb = 0;  // peak resident set (VmHWM; peak working set on Windows)
  int64_t open_handles = -1;    // open file descriptors (handles on Windows); -1: unknown
  // Bytes the program holds from the allocator (glibc's mallinfo2 uordblks + hblkhd), apart
  // from what the allocator keeps free for later; -1: unknown.
  int64_t heap_in_use_kb = -1;
  // The resident set now, split into anonymous memory (heap, stacks) and pages of mapped files
  // (the program's code as far as it has run); -1: unknown.
  int64_t anon_memory_kb = -1;
  int64_t file_memory_kb = -1;
};

ProcessStats ReadProcessStats();

// The open handles by number and what they lead to ("3 -> /tmp/x.log"), where the platform
// tells (Linux); empty where it does not. A handle the process was started with counts as
// much as its own: the list says which is which.
std::vector<std::string> OpenHandleNames();

// Creates a new empty directory under the system's temporary directory and returns its path
// (without a trailing separator); empty when it cannot.
std::string MakeTempDirectory(const std::string& prefix);

}  // namespace tw

#endif  // TEMPWARDEN_SOAK_PROCESS_STATS_H_
