// Test doubles for the platform seams. They record what happened so that tests assert on
// outputs, and they take injected faults.
#ifndef TEMPWARDEN_PLATFORM_FAKE_ENV_H_
#define TEMPWARDEN_PLATFORM_FAKE_ENV_H_

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/fake_network.h"
#include "platform/fake_speaker.h"
#include "platform/file_system.h"
#include "platform/host_facts.h"
#include "platform/regional.h"
#include "platform/system_log.h"

namespace tw {

// A clock that only moves when told to (or when asked to sleep).
class FakeClock : public Clock {
 public:
  explicit FakeClock(TDateTime now = 45000.5) : base_(now) {}

  double Now() override { return base_ + static_cast<double>(offset_ms_) / 86400000.0; }
  void Sleep(uint32_t milliseconds) override {
    slept_ms_ += milliseconds;
    Advance(milliseconds);
  }
  uint32_t TickCount() override { return tick_; }
  // Local time is UTC plus `utc_offset_minutes` (no daylight saving).
  bool LocalToUtc(const CalendarTime& local, CalendarTime* utc) override;

  void Advance(uint64_t milliseconds) {
    offset_ms_ += milliseconds;
    tick_ += static_cast<uint32_t>(milliseconds);
  }
  void Set(TDateTime now) {
    base_ = now;
    offset_ms_ = 0;
  }
  void set_tick(uint32_t tick) { tick_ = tick; }
  uint64_t slept_ms() const { return slept_ms_; }

  int utc_offset_minutes = 0;

 private:
  // Now is kept as a base plus whole milliseconds, so that n steps of one second give the
  // same value as one step of n seconds.
  TDateTime base_;
  uint64_t offset_ms_ = 0;
  uint32_t tick_ = 0;
  uint64_t slept_ms_ = 0;
};

class FakeHostFacts : public HostFacts {
 public:
  std::string ComputerName(size_t capacity) override {
    return computer_name.substr(0, capacity);
  }
  std::string ModulePath() override { return module_path; }
  bool FileVersion(const std::string& path, FileVersionNumbers* version) override;
  bool MemoryStatus(RawMemoryStatus* status) override {
    if (!memory_ok) return false;
    *status = memory;
    return true;
  }
  bool DebuggerPresent() override { return debugger; }

  std::string computer_name = "SRV1";
  std::string module_path = "/opt/tempwarden/tempwarden";
  std::map<std::string, FileVersionNumbers> versions;  // by path
  RawMemoryStatus memory{42, 8ull << 30, 4ull << 30, 12ull << 30, 6ull << 30, 1ull << 47,
                         (1ull << 47) - (256ull << 20)};
  bool memory_ok = true;
  bool debugger = false;
};

// A system log that keeps its messages.
class MemSystemLog : public SystemLog {
 public:
  void Error(const std::string& source, const std::string& text) noexcept override {
    messages.push_back(source + ": " + text);
  }
  std::vector<std::string> messages;
};

// An in-memory file system with "/" paths. Relative paths resolve against the working
// directory. Every write is recorded.
class MemFileSystem : public FileSystem {
 public:
  MemFileSystem() { dirs_.insert("/"); }

  bool WriteFile(const std::string& path, const std::string& data, bool append) override;
  bool ReadFile(const std::string& path, std::string* data, std::string* error) override;
  bool IsPlainFile(const std::string& path) override { return files_.count(Resolve(path)) > 0; }
  std::vector<std::string> FindFiles(const std::string& pattern) override;
  bool RemoveFile(const std::string& path) override { return files_.erase(Resolve(path)) > 0; }
  bool SetWorkingDirectory(const std::string& dir) override;
  const char* PathDelimiters() const override { return delimiters.c_str(); }
  char PathSeparator() const override { return '/'; }

  // Test controls.
  std::string delimiters = "/";  // "\\/:" to split Windows module paths
  void AddDirectory(const std::string& dir);
  void Put(const std::string& path, const std::string& data) { files_[Resolve(path)] = data; }
  std::string Get(const std::string& path) const;
  bool Has(const std::string& path) const { return files_.count(Resolve(path)) > 0; }
  std::string Resolve(const std::string& path) const;

  struct Write {
    std::string path;
    std::string data;
    bool append;
  };
  std::vector<Write> writes;         // every successful write, in order
  std::set<std::string> read_only;   // resolved paths whose writes fail
  bool fail_all_writes = false;
  const std::map<std::string, std::string>& files() const { return files_; }

 private:
  std::string cwd_ = "/";
  std::map<std::string, std::string> files_;
  std::set<std::string> dirs_;
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_FAKE_ENV_H_
