// The process-wide settings record and the environment every operation runs in.
//
// The service keeps exactly one tGlobalSettings for the whole process: `main` creates it inside
// the one Context it builds and hands that Context down; nothing reaches for a global. All
// users run on the service thread, so the record carries no lock (Log.Busy is a cooperative
// flag of the activity log, not a mutex).
#ifndef TEMPWARDEN_TOOLBELT_SETTINGS_H_
#define TEMPWARDEN_TOOLBELT_SETTINGS_H_

#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "platform/calendar.h"
#include "platform/env.h"
#include "platform/regional.h"
#include "toolbelt/throttle.h"

namespace tw {

// Settings of the activity log.
struct tLog {
  std::string Tag;         // source tag of every log line, "RAZ-IVED" once started
  std::string FilePrefix;  // first part of the log file name, "APC" once started
  bool Busy = false;       // write lock of the activity log
  int32_t DebugLevel = 0;  // highest level digit still written
  int32_t PurgeDays = 0;   // days of dated files kept; 0 or less: no purge
  int64_t LastDay = 0;     // day number of the last day change seen by the log
};

struct tGlobalSettings {
  std::string SelfName;  // service name; exception reports are written only when set
  std::string Company;
  std::string Version;  // four numbers joined by "."
  std::string HostName;
  bool UnderWorkbench = false;
  std::string ExceptionFileMask;
  tLog Log;
  TDateTime Started = 0;
  std::string ExePath;  // executable's directory with its trailing separator
  int16_t SyslogSequence = 0;
};

// Where this run keeps its settings file and its data, and which instance it is: what the
// command line gave ("/config", "/data", "/instance"). Empty fields mean the defaults of a
// single service: TEMPWARDEN.XML and every data file in the program's own folder. Paths are
// absolute (main makes them so before the working directory changes).
struct tLayout {
  std::string SettingsFile;  // the settings file; empty: TEMPWARDEN.XML in the data directory
  std::string DataDir;       // history, pages, logs, reports; empty: the program's folder
  std::string Instance;      // name of a named instance; empty: the unnamed one
};

// A history row that could not be appended yet (ups/kept_rows.h).
struct tKeptRow {
  uint32_t tick = 0;  // Clock::TickCount when it was first refused
  std::string text;
};

// What the service remembers about faults between calls, so that one repeating on every pass
// neither floods the disk or the journal nor loses history rows.
struct tFaultMemory {
  Throttle reports{kOneHourMs};            // exception reports, by function and message
  Throttle log_failures{kOneHourMs};       // notices that the activity log cannot be written
  int32_t lost_log_entries = 0;            // activity-log entries lost since the last notice
  Throttle kept_rows_notices{kOneHourMs};  // by file
  std::map<std::string, std::deque<tKeptRow>> kept_rows;  // by file, oldest first
  // The file name of the latest exception report ReportCurrentException wrote; empty when the
  // last one was held back (the same failure within the hour) or could not be written.
  std::string last_report;
};

// The script rows of the file a chart page was last drawn from (ups/chart.cc): a day's file
// grows by one row a pass, so the next page makes only the rows added since.
struct tChartRowMemory {
  std::string text;            // the file up to the end of its last complete line
  char decimal_separator = 0;  // the one the rows were read with
  std::string rows;            // the rows made of `text`
};

// What every operation of the service is handed: the seams and the one settings record.
struct Context {
  Env env;
  tGlobalSettings settings;
  tLayout layout;  // fixed for the process once main has read the command line
  tFaultMemory faults;
  tChartRowMemory chart_rows;

  const FormatSettings& fmt() const { return env.regional->Settings(); }
};

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_SETTINGS_H_
