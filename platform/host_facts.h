// The host-facts seam: what the platform tells about the machine and the running program.
#ifndef TEMPWARDEN_PLATFORM_HOST_FACTS_H_
#define TEMPWARDEN_PLATFORM_HOST_FACTS_H_

#include <cstdint>
#include <memory>
#include <string>

namespace tw {

// Memory figures as the platform reports them, in bytes (load in percent).
struct RawMemoryStatus {
  uint32_t memory_load = 0;
  uint64_t total_physical = 0;
  uint64_t avail_physical = 0;
  uint64_t total_page_file = 0;  // commit limit: physical memory plus page file / swap
  uint64_t avail_page_file = 0;
  uint64_t total_virtual = 0;  // user-mode address space of the process
  uint64_t avail_virtual = 0;
};

// The fixed file version: two 32-bit halves, most significant first
// (major << 16 | minor, release << 16 | build).
struct FileVersionNumbers {
  uint32_t ms = 0;
  uint32_t ls = 0;
};

class HostFacts {
 public:
  virtual ~HostFacts() = default;

  // The computer's name; `capacity` is the most characters the caller accepts.
  virtual std::string ComputerName(size_t capacity) = 0;

  // The computer's fully qualified domain name as the platform knows it ("srv1.corp.example");
  // "" when it knows none. May ask the resolver.
  virtual std::string FullyQualifiedName() { return ""; }

  // Full path of the running executable, as the platform reports it.
  virtual std::string ModulePath() = 0;

  // The file version carried by the file at `path`. False when the file is missing or has
  // none.
  virtual bool FileVersion(const std::string& path, FileVersionNumbers* version) = 0;

  // False when the platform could not report the figures.
  virtual bool MemoryStatus(RawMemoryStatus* status) = 0;

  // True when a debugger started or is attached to this process.
  virtual bool DebuggerPresent() = 0;
};

std::unique_ptr<HostFacts> NewSystemHostFacts();

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_HOST_FACTS_H_
