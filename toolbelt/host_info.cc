#include "toolbelt/host_info.h"

#include "toolbelt/failure.h"

namespace tw {
namespace {

// GetComputerNameA is given a buffer of 254 characters and told it holds 253.
constexpr size_t kComputerNameCapacity = 253;

std::string TwoDigits(uint32_t v) { return (v < 10 ? "0" : "") + std::to_string(v); }

}  // namespace

std::string ExtractFilePath(const std::string& path, const char* delimiters) {
  const size_t at = path.find_last_of(delimiters);
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string GetHostName(Context& ctx) {
  std::string name;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.GetHostName", trace, [&] {
    name = ctx.env.host->ComputerName(kComputerNameCapacity);
    ctx.settings.HostName = name;
  });
  return name;
}

std::string FileVersion2(Context& ctx, const std::string& path) {
  std::string result;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.FileVersion2", trace, [&] {
    const std::string file = path.empty() ? ctx.env.host->ModulePath() : path;
    FileVersionNumbers v;
    if (!ctx.env.host->FileVersion(file, &v)) return;
    result = std::to_string(v.ms >> 16) + "." + std::to_string(v.ms & 0xFFFF) + "." +
             std::to_string(v.ls >> 16) + "." + std::to_string(v.ls & 0xFFFF);
  });
  return result;
}

std::string GetEXEPath(Context& ctx) {
  std::string result;
  const int32_t trace = 100;
  Guarded(ctx, "toolbelt.GetEXEPath", trace, [&] {
    result = ExtractFilePath(ctx.env.host->ModulePath(), ctx.env.files->PathDelimiters());
    if (result.compare(0, 4, "\\\\?\\") == 0) result.erase(0, 4);
  });
  return result;
}

std::string DataDirectory(Context& ctx) {
  std::string dir = ctx.layout.DataDir;
  if (dir.empty()) return ExtractFilePath(GetEXEPath(ctx), ctx.env.files->PathDelimiters());
  const std::string delimiters = ctx.env.files->PathDelimiters();
  if (delimiters.find(dir.back()) == std::string::npos) dir += ctx.env.files->PathSeparator();
  return dir;
}

std::string SetPathToEXEPath(Context& ctx) {
  std::string result;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.SetPathToEXEPath", trace, [&] {
    const std::string dir = DataDirectory(ctx);
    if (ctx.env.files->SetWorkingDirectory(dir)) {
      result = dir;
      ctx.settings.ExePath = dir;
    } else {
      result = "Error - " + dir;
    }
  });
  return result;
}

void ReadMachineUpTime(Context& ctx, tMachineUpTime& rec) {
  const uint32_t t = ctx.env.clock->TickCount();
  const uint32_t weeks = t / 604800000u;
  const uint32_t r1 = t - weeks * 604800000u;
  const uint32_t days = r1 / 86400000u;
  const uint32_t r2 = r1 - days * 86400000u;
  const uint32_t hours = r2 / 3600000u;
  const uint32_t r3 = r2 - hours * 3600000u;
  const uint32_t minutes = r3 / 60000u;
  const uint32_t r4 = r3 - minutes * 60000u;
  const uint32_t seconds = r4 / 1000u;
  rec.UpTimeText = std::to_string(weeks) + "w" + std::to_string(days) + "d" + TwoDigits(hours) +
                   "h" + TwoDigits(minutes) + "m" + TwoDigits(seconds) + "s";
  rec.Ticks = t;
  rec.Days = weeks * 7.0 + days + hours / 24.0 + minutes / 1440.0 + seconds / 86400.0;
}

void MachineUpTime(Context& ctx, tMachineUpTime& rec) {
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.MachineUpTime", trace, [&] { ReadMachineUpTime(ctx, rec); });
}

void ReadMemoryStatus(Context& ctx, tMemoryStatusRec& rec) {
  RawMemoryStatus raw;
  if (!ctx.env.host->MemoryStatus(&raw)) {
    throw Fault("EOSError", "The memory status could not be read");
  }
  rec.MemoryLoad = static_cast<int32_t>(raw.memory_load);
  rec.TotalPhysical = static_cast<int64_t>(raw.total_physical);
  rec.AvailPhysical = static_cast<int64_t>(raw.avail_physical);
  rec.UsedPhysical = rec.TotalPhysical - rec.AvailPhysical;
  rec.TotalPageFile = static_cast<int64_t>(raw.total_page_file);
  rec.AvailPageFile = static_cast<int64_t>(raw.avail_page_file);
  rec.UsedPageFile = rec.TotalPageFile - rec.AvailPageFile;
  rec.TotalVirtual = static_cast<int64_t>(raw.total_virtual);
  rec.AvailVirtual = static_cast<int64_t>(raw.avail_virtual);
  rec.UsedVirtual = rec.TotalVirtual - rec.AvailVirtual;
  // A zero total is a division by zero: the failure leaves the record invalid.
  auto percent = [](int64_t avail, int64_t total) {
    if (total == 0) throw Fault("EZeroDivide", "Floating point division by zero");
    return static_cast<double>(avail) / static_cast<double>(total) * 100.0;
  };
  rec.AvailPhysicalPct = percent(rec.AvailPhysical, rec.TotalPhysical);
  rec.AvailPageFilePct = percent(rec.AvailPageFile, rec.TotalPageFile);
  rec.AvailVirtualPct = percent(rec.AvailVirtual, rec.TotalVirtual);
  rec.Valid = true;
}

void GetMemoryStatus(Context& ctx, tMemoryStatusRec& rec) {
  rec = tMemoryStatusRec();
  const int32_t trace = 100;
  Guarded(ctx, "toolbelt.GetMemoryStatus", trace, [&] { ReadMemoryStatus(ctx, rec); });
}

bool RunningUnderWorkbench(Context& ctx) {
  bool result = false;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.RunningUnderWorkbench", trace,
          [&] { result = ctx.env.host->DebuggerPresent(); });
  return result;
}

}  // namespace tw
