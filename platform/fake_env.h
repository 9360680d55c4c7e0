// Test doubles for the platform seams. They record what happened so that tests assert on
// outputs, and they take injected faults.
#ifndef TEMPWARDEN_PLATFORM_FAKE_ENV_H_
#define TEMPWARDEN_PLATFORM_FAKE_ENV_H_

#include <cstdint>
#include <functional>
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
#include "platform/wake_event.h"

namespace tw {

// A wake-up event for tests: a flag, plus a moment of the fake clock's monotonic time at which
// the clock raises it in the middle of a wait (a request arriving while the service waits).
class FakeWakeEvent : public WakeEvent {
 public:
  void Raise() override {
    raised_ = true;
    ++raises;
  }
  void Lower() override { raised_ = false; }
  bool Raised() const override { return raised_; }

  uint64_t raise_at_ms = UINT64_MAX;  // monotonic time; UINT64_MAX: never
  // What happens at raise_at_ms instead of a plain Raise (e.g. posting the request that
  // raises it); runs once.
  std::function<void()> at_raise_time;
  int raises = 0;

 private:
  bool raised_ = false;
};

// A clock that only moves when told to (or when asked to sleep or wait). Its monotonic time
// moves with Advance, Sleep and Wait, not with Set or StepWall, which move the wall clock only.
class FakeClock : public Clock {
 public:
  explicit FakeClock(TDateTime now = 45000.5) : base_(now) {}

  double Now() override { return base_ + static_cast<double>(offset_ms_) / 86400000.0; }
  void Sleep(uint32_t milliseconds) override {
    slept_ms_ += milliseconds;
    Advance(milliseconds);
  }
  uint32_t TickCount() override { return tick_; }
  uint64_t MonotonicMs() override { return monotonic_ms_; }
  // Advances by `milliseconds`, or only up to the moment a FakeWakeEvent is due to be raised,
  // and raises it then. Runs `on_wait` first, with the wait asked for.
  bool Wait(uint32_t milliseconds, WakeEvent* wake) override;
  // Local time is UTC plus `utc_offset_minutes` (no daylight saving).
  bool LocalToUtc(const CalendarTime& local, CalendarTime* utc) override;

  void Advance(uint64_t milliseconds) {
    offset_ms_ += milliseconds;
    tick_ += static_cast<uint32_t>(milliseconds);
    monotonic_ms_ += milliseconds;
  }
  // Sets the wall clock, as an administrator or NTP would; the monotonic time stays.
  void Set(TDateTime now) {
    base_ = now;
    offset_ms_ = 0;
  }
  // Moves the wall clock by `milliseconds` (negative: back); the monotonic time stays.
  void StepWall(int64_t milliseconds) {
    Set(Now() + static_cast<double>(milliseconds) / 86400000.0);
  }
  void set_tick(uint32_t tick) { tick_ = tick; }
  uint64_t slept_ms() const { return slept_ms_; }
  uint64_t waited_ms() const { return waited_ms_; }
  // The waits asked for, in order.
  std::vector<uint32_t> waits;
  std::function<void(uint32_t milliseconds)> on_wait;

  int utc_offset_minutes = 0;

 private:
  // Now is kept as a base plus whole milliseconds, so that n steps of one second give the
  // same value as one step of n seconds.
  TDateTime base_;
  uint64_t offset_ms_ = 0;
  uint32_t tick_ = 0;
  uint64_t monotonic_ms_ = 0;
  uint64_t slept_ms_ = 0;
  uint64_t waited_ms_ = 0;
};

class FakeHostFacts : public HostFacts {
 public:
  std::string ComputerName(size_t capacity) override { return computer_name.substr(0, capacity); }
  std::string FullyQualifiedName() override { return fqdn; }
  std::string ModulePath() override { return module_path; }
  bool FileVersion(const std::string& path, FileVersionNumbers* version) override;
  bool MemoryStatus(RawMemoryStatus* status) override {
    if (!memory_ok) return false;
    *status = memory;
    return true;
  }
  bool DebuggerPresent() override { return debugger; }

  std::string computer_name = "SRV1";
  std::string fqdn;  // none: EHLO names the connection's address
  std::string module_path = "/opt/tempwarden/tempwarden";
  std::map<std::string, FileVersionNumbers> versions;  // by path
  RawMemoryStatus memory{42,
                         8ull << 30,
                         4ull << 30,
                         12ull << 30,
                         6ull << 30,
                         1ull << 47,
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
  void MarkPrivate(const std::string& path) override { private_files.insert(Resolve(path)); }
  std::string WhyNotWriteIn(const std::string& dir) override {
    return unsafe_dirs.count(Resolve(dir)) > 0 ? "unsafe: " + dir : "";
  }
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
  std::set<std::string> unreadable;  // resolved paths whose reads fail (the file stays there)
  bool fail_all_writes = false;
  std::set<std::string> private_files;  // resolved paths marked private
  std::set<std::string> unsafe_dirs;    // resolved directories WhyNotWriteIn refuses
  const std::map<std::string, std::string>& files() const { return files_; }

 private:
  std::string cwd_ = "/";
  std::map<std::string, std::string> files_;
  std::set<std::string> dirs_;
};

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_FAKE_ENV_H_
