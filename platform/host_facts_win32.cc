#include <windows.h>

#include <vector>

#include "platform/host_facts.h"

namespace tw {
namespace {

class Win32HostFacts : public HostFacts {
 public:
  std::string ComputerName(size_t capacity) override {
    std::vector<char> buffer(capacity + 1, '\0');
    DWORD size = static_cast<DWORD>(capacity);
    GetComputerNameA(buffer.data(), &size);  // the length it reports decides, as before
    if (size > capacity) size = static_cast<DWORD>(capacity);
    return std::string(buffer.data(), size);
  }

  std::string FullyQualifiedName() override {
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    if (!GetComputerNameExA(ComputerNameDnsFullyQualified, buffer, &size)) return std::string();
    return std::string(buffer, size);
  }

  std::string ModulePath() override {
    char buffer[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    return std::string(buffer, n);
  }

  bool FileVersion(const std::string& path, FileVersionNumbers* version) override {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) return false;
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
      return false;
    }
    version->ms = info->dwFileVersionMS;
    version->ls = info->dwFileVersionLS;
    return true;
  }

  bool MemoryStatus(RawMemoryStatus* status) override {
    MEMORYSTATUS ms{};
    ms.dwLength = sizeof ms;
    GlobalMemoryStatus(&ms);
    status->memory_load = ms.dwMemoryLoad;
    status->total_physical = ms.dwTotalPhys;
    status->avail_physical = ms.dwAvailPhys;
    status->total_page_file = ms.dwTotalPageFile;
    status->avail_page_file = ms.dwAvailPageFile;
    status->total_virtual = ms.dwTotalVirtual;
    status->avail_virtual = ms.dwAvailVirtual;
    return true;
  }

  bool DebuggerPresent() override { return IsDebuggerPresent() != FALSE; }
};

}  // namespace

std::unique_ptr<HostFacts> NewSystemHostFacts() { return std::make_unique<Win32HostFacts>(); }

}  // namespace tw
