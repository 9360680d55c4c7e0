#include <netdb.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/host_facts.h"
#include "platform/proc_posix.h"

#define TW_STR2(x) #x
#define TW_STR(x) TW_STR2(x)

namespace tw {
namespace {

// Linux executables carry no version resource, so the build embeds its four-part version
// behind this marker; FileVersion finds it in any copy of the program.
__attribute__((used)) const char kVersionMarker[] =
    "\x01TWFILEVERSION=" TW_STR(TW_VERSION_MAJOR) "." TW_STR(TW_VERSION_MINOR) "." TW_STR(
        TW_VERSION_PATCH) "." TW_STR(TW_VERSION_BUILD);

bool ParseVersion(const char* text, size_t size, FileVersionNumbers* version) {
  unsigned parts[4] = {};
  size_t i = 0;
  for (int p = 0; p < 4; ++p) {
    if (i >= size || text[i] < '0' || text[i] > '9') return false;
    unsigned value = 0;
    while (i < size && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[i++] - '0');
      if (value > 0xFFFF) return false;
    }
    parts[p] = value;
    if (p < 3) {
      if (i >= size || text[i] != '.') return false;
      ++i;
    }
  }
  if (i >= size || text[i] != '\0') return false;
  version->ms = parts[0] << 16 | parts[1];
  version->ls = parts[2] << 16 | parts[3];
  return true;
}

uint64_t ReadKilobytes(const char* file, const char* key) {
  std::string value;
  return ReadProcField(file, key, &value) ? std::strtoull(value.c_str(), nullptr, 10) * 1024u : 0;
}

class PosixHostFacts : public HostFacts {
 public:
  std::string ComputerName(size_t capacity) override {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
    std::string name(buffer);
    if (name.size() > capacity) name.resize(capacity);
    return name;
  }

  // The canonical name of the host name, as the resolver gives it (/etc/hosts or DNS).
  std::string FullyQualifiedName() override {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (getaddrinfo(buffer, nullptr, &hints, &result) != 0 || result == nullptr) return buffer;
    std::string name = result->ai_canonname != nullptr ? result->ai_canonname : buffer;
    freeaddrinfo(result);
    return name;
  }

  std::string ModulePath() override {
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return n > 0 ? std::string(buffer.data(), static_cast<size_t>(n)) : std::string();
  }

  bool FileVersion(const std::string& path, FileVersionNumbers* version) override {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // The needle is the marker without its version digits; searching chunk by chunk with an
    // overlap keeps memory small for any file size.
    const std::string needle = "\x01TWFILEVERSION=";
    const size_t overlap = needle.size() + 32;
    std::vector<char> chunk(1 << 16);
    std::string window;
    while (in) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      window.append(chunk.data(), static_cast<size_t>(in.gcount()));
      for (size_t at = window.find(needle); at != std::string::npos;
           at = window.find(needle, at + 1)) {
        const size_t start = at + needle.size();
        if (ParseVersion(window.data() + start, window.size() - start, version)) return true;
      }
      if (window.size() > overlap) window.erase(0, window.size() - overlap);
    }
    return false;
  }

  bool MemoryStatus(RawMemoryStatus* status) override {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return false;
    const uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
    status->total_physical = info.totalram * unit;
    uint64_t available = ReadKilobytes("/proc/meminfo", "MemAvailable:");
    if (available == 0) available = (info.freeram + info.bufferram) * unit;
    status->avail_physical = available;
    status->memory_load = status->total_physical == 0
                              ? 0
                              : static_cast<uint32_t>((status->total_physical - available) * 100 /
                                                      status->total_physical);
    status->total_page_file = status->total_physical + info.totalswap * unit;
    status->avail_page_file = available + info.freeswap * unit;
    // The user-mode address space: the process's limit when one is set, otherwise the
    // 47-bit space of x86-64 Linux.
    rlimit limit{};
    uint64_t total_virtual = uint64_t{1} << 47;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      total_virtual = limit.rlim_cur;
    }
    const uint64_t used_virtual = ReadKilobytes("/proc/self/status", "VmSize:");
    status->total_virtual = total_virtual;
    status->avail_virtual = used_virtual < total_virtual ? total_virtual - used_virtual : 0;
    return true;
  }

  bool DebuggerPresent() override {
    std::string value;
    return ReadProcField("/proc/self/status", "TracerPid:", &value) &&
           std::strtol(value.c_str(), nullptr, 10) != 0;
  }
};

}  // namespace

std::unique_ptr<HostFacts> NewSystemHostFacts() { return std::make_unique<PosixHostFacts>(); }

}  // namespace tw
