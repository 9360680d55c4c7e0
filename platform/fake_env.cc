#include "platform/fake_env.h"

namespace tw {

bool FakeClock::Wait(uint32_t milliseconds, WakeEvent* wake) {
  waits.push_back(milliseconds);
  if (on_wait) on_wait(milliseconds);
  if (wake != nullptr && wake->Raised()) return true;
  auto* fake = dynamic_cast<FakeWakeEvent*>(wake);
  if (fake != nullptr && fake->raise_at_ms <= monotonic_ms_ + milliseconds) {
    const uint64_t step = fake->raise_at_ms > monotonic_ms_ ? fake->raise_at_ms - monotonic_ms_ : 0;
    waited_ms_ += step;
    Advance(step);
    fake->raise_at_ms = UINT64_MAX;
    if (fake->at_raise_time) {
      const std::function<void()> action = fake->at_raise_time;
      action();
    } else {
      fake->Raise();
    }
    return fake->Raised();
  }
  waited_ms_ += milliseconds;
  Advance(milliseconds);
  return false;
}

bool FakeClock::LocalToUtc(const CalendarTime& local, CalendarTime* utc) {
  TDateTime value = 0;
  if (!EncodeDateTime(local, &value)) return false;
  return DecodeDateTime(value - utc_offset_minutes / 1440.0, utc);
}

bool FakeHostFacts::FileVersion(const std::string& path, FileVersionNumbers* version) {
  const auto it = versions.find(path);
  if (it == versions.end()) return false;
  *version = it->second;
  return true;
}

std::string MemFileSystem::Resolve(const std::string& path) const {
  std::string full = !path.empty() && path[0] == '/' ? path : cwd_ + path;
  // Collapse "//" so that "dir/" + "name" and "dir" + "/name" meet.
  std::string out;
  for (char c : full) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}

void MemFileSystem::AddDirectory(const std::string& dir) {
  std::string d = Resolve(dir);
  if (d.size() > 1 && d.back() == '/') d.pop_back();
  dirs_.insert(d);
}

static std::string Parent(const std::string& resolved) {
  const size_t slash = resolved.rfind('/');
  return slash == 0 ? "/" : resolved.substr(0, slash);
}

bool MemFileSystem::WriteFile(const std::string& path, const std::string& data, bool append) {
  const std::string p = Resolve(path);
  if (fail_all_writes || read_only.count(p) > 0 || dirs_.count(p) > 0 ||
      dirs_.count(Parent(p)) == 0) {
    return false;
  }
  if (append) {
    files_[p] += data;
  } else {
    files_[p] = data;
  }
  writes.push_back({p, data, append});
  return true;
}

bool MemFileSystem::ReadFile(const std::string& path, std::string* data, std::string* error) {
  const auto it = files_.find(Resolve(path));
  if (it == files_.end()) {
    *error = "Cannot open file \"" + path + "\". No such file or directory";
    return false;
  }
  if (unreadable.count(it->first) > 0) {
    *error = "Cannot open file \"" + path + "\". Permission denied";
    return false;
  }
  *data = it->second;
  return true;
}

std::vector<std::string> MemFileSystem::FindFiles(const std::string& pattern) {
  std::vector<std::string> names;
  const std::string p = Resolve(pattern);
  const std::string dir = Parent(p);
  const std::string mask = p.substr(p.rfind('/') + 1);
  if (mask.empty()) return names;
  auto consider = [&](const std::string& entry) {
    if (entry == "/" || Parent(entry) != dir) return;
    const std::string name = entry.substr(entry.rfind('/') + 1);
    if (WildcardMatch(mask, name)) names.push_back(name);
  };
  for (const auto& f : files_) consider(f.first);
  for (const auto& d : dirs_) consider(d);
  return names;
}

bool MemFileSystem::SetWorkingDirectory(const std::string& dir) {
  std::string d = Resolve(dir);
  if (d.size() > 1 && d.back() == '/') d.pop_back();
  if (dirs_.count(d) == 0) return false;
  cwd_ = d == "/" ? d : d + "/";
  return true;
}

std::string MemFileSystem::Get(const std::string& path) const {
  const auto it = files_.find(Resolve(path));
  return it == files_.end() ? std::string() : it->second;
}

}  // namespace tw
