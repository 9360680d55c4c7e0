// Host facts for the settings and the diagnostics: computer name, file version, the
// executable's directory, up-time, memory figures. None of these raises to its caller; a
// failure leaves an exception report named "toolbelt." plus the operation.
#ifndef TEMPWARDEN_TOOLBELT_HOST_INFO_H_
#define TEMPWARDEN_TOOLBELT_HOST_INFO_H_

#include <cstdint>
#include <string>

#include "toolbelt/settings.h"

namespace tw {

struct tMemoryStatusRec {
  int32_t MemoryLoad = 0;
  int64_t TotalPhysical = 0;
  int64_t AvailPhysical = 0;
  int64_t UsedPhysical = 0;
  double AvailPhysicalPct = 0;
  int64_t TotalPageFile = 0;
  int64_t AvailPageFile = 0;
  int64_t UsedPageFile = 0;
  double AvailPageFilePct = 0;
  int64_t TotalVirtual = 0;
  int64_t AvailVirtual = 0;
  int64_t UsedVirtual = 0;
  double AvailVirtualPct = 0;
  bool Valid = false;
};

struct tMachineUpTime {
  std::string UpTimeText;  // e.g. "1w2d03h04m05s"
  int64_t Ticks = 0;       // milliseconds since the machine started, below 2^32
  double Days = 0;
};

// The computer's name (at most 253 characters); also stored in settings.HostName.
std::string GetHostName(Context& ctx);

// "major.minor.release.build" of the file's version; empty path means the own executable.
// Empty when the file is missing or carries no version (no report then).
std::string FileVersion2(Context& ctx, const std::string& path);

// The running executable's directory with its trailing separator, without a "\\?\" prefix.
std::string GetEXEPath(Context& ctx);

// The directory the service keeps its data in, with its trailing separator: the data directory
// of the command line (ctx.layout.DataDir) when one was given, else the executable's directory.
std::string DataDirectory(Context& ctx);

// Makes the data directory (DataDirectory: the executable's directory unless the command line
// named another) the working directory and stores it in settings.ExePath, where every data
// file is written. Returns that directory, or "Error - " followed by it when it cannot be made
// current (ExePath then keeps its value).
std::string SetPathToEXEPath(Context& ctx);

void MachineUpTime(Context& ctx, tMachineUpTime& rec);

// Zeroes the record, then fills it; Valid tells whether every figure was obtained.
void GetMemoryStatus(Context& ctx, tMemoryStatusRec& rec);

bool RunningUnderWorkbench(Context& ctx);

// MachineUpTime and GetMemoryStatus without the report: a failure is thrown to the caller
// (the record keeps what was filled before it). For the exception-report writer, which must
// not re-enter itself through a report of its own.
void ReadMachineUpTime(Context& ctx, tMachineUpTime& rec);
void ReadMemoryStatus(Context& ctx, tMemoryStatusRec& rec);

// The directory part of `path` up to and including its last delimiter ("" when none).
std::string ExtractFilePath(const std::string& path, const char* delimiters);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_HOST_INFO_H_
