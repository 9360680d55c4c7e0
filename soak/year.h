// The simulated year: the real service (start handler and monitoring cycle, with its alerts,
// history files, chart pages and activity log) runs on the soak clock against the simulated
// UPS's agent and a scripted SMTP relay on the fake network, writing real files in a
// directory of its own, while a scenario injects the faults of a long unattended run: the
// agent silent for an hour, the network unreachable for an hour, the relay down for a day
// during an alarm, a history file locked for an hour, restarts (one in the first minutes of a
// day), summer-time changes, clock steps back and forward, 29 February and the new year.
// Afterwards it checks the files, the mails and the process's own figures.
#ifndef TEMPWARDEN_SOAK_YEAR_H_
#define TEMPWARDEN_SOAK_YEAR_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/calendar.h"
#include "soak/checks.h"

namespace tw {

struct SoakOptions {
  int days = 366;  // simulated days of wall-clock local time from the start
  // Local (Berlin) start; 2028 is a leap year and a run of 366 days ends in the new year.
  CalendarTime start{2028, 1, 1, 0, 0, 30, 0};
  std::string directory;  // where the files go; empty: a new temporary directory, removed after
  bool metrics = false;   // "MetricsFile" set: the Prometheus file written beside the others
};

struct SoakFigures {
  double run_seconds = 0;     // real time of the simulation
  double cpu_seconds = 0;     // CPU time of the simulation
  double user_seconds = 0;    // of which in the process's own code
  double system_seconds = 0;  // of which in the kernel (the file work)
  // CPU time of the first and of the last tenth of the run: the cost of a day stays flat
  // unless something grows with the files the service leaves.
  double first_tenth_cpu_seconds = 0;
  double last_tenth_cpu_seconds = 0;
  uint64_t peak_memory_kb = 0;
  uint64_t early_peak_memory_kb = 0;  // after the first tenth of the run
  int64_t heap_in_use_kb = -1;        // held from the allocator at the end; -1: unknown
  int64_t early_heap_in_use_kb = -1;  // after the first tenth of the run
  // Resident anonymous memory and mapped-file pages, at the end and after the first tenth.
  int64_t anon_memory_kb = -1;
  int64_t early_anon_memory_kb = -1;
  int64_t file_memory_kb = -1;
  int64_t early_file_memory_kb = -1;
  int64_t open_handles = -1;
  int64_t early_open_handles = -1;
  int64_t start_open_handles = -1;        // before the service ran: the ones it was given
  std::vector<std::string> handle_names;  // open at the end, "3 -> /path", where known
  uint64_t daily_rows = 0;
  uint64_t annual_rows = 0;
  uint64_t temperature_passes = 0;
  uint64_t snmp_queries = 0;
  uint64_t datagrams = 0;                  // syslog and phone-home datagrams sent
  uint64_t mails = 0;                      // mails the relay accepted
  uint64_t sessions = 0;                   // service runs (start to stop)
  uint64_t refused_writes = 0;             // writes refused while the history file was locked
  std::vector<std::string> mail_subjects;  // "subject xN"
};

struct SoakResult {
  std::vector<CheckResult> checks;
  SoakFigures figures;
  std::vector<std::string> timeline;  // the faults injected, with their local times
  std::string directory;
  bool Passed() const;
};

// Runs the scenario; `progress`, when set, gets a line now and then. A service that goes three
// "TempSleep" without a temperature pass is asked to stop at once, and the result holds only
// the failed check "temperature passes keep coming", which says when and what the activity log
// said last (told to `progress` too); one that ignores that request as well would hold the run
// forever, so the process ends with exit status 1.
SoakResult RunSoak(const SoakOptions& options,
                   const std::function<void(const std::string&)>& progress);

}  // namespace tw

#endif  // TEMPWARDEN_SOAK_YEAR_H_
