// tempwarden-soak: runs the service for a simulated year (or --days N) on a fake clock and
// checks what it left behind. Exit status 0 when every check passed, 1 when one failed, 2 for
// a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "soak/soak_clock.h"
#include "soak/year.h"

namespace {

constexpr char kUsage[] =
    "usage: tempwarden-soak [--days N] [--start YYYY-MM-DD[THH:MM:SS]] [--dir DIR] [--metrics]\n"
    "  Runs the monitoring service for N simulated days (366 by default, from\n"
    "  2028-01-01T00:00:30 Berlin time) on a fake clock, against the simulated UPS and a\n"
    "  scripted mail relay on a fake network (nothing leaves the process), with faults on the\n"
    "  way, then checks the files, mails and the process's own figures.\n"
    "  --dir keeps the files in DIR (which must exist) instead of a temporary directory.\n"
    "  --metrics sets MetricsFile, so that the Prometheus file is written too.\n";

bool ParseStart(const char* text, tw::CalendarTime* t) {
  int fields = std::sscanf(text, "%4d-%2d-%2dT%2d:%2d:%2d", &t->year, &t->month, &t->day, &t->hour,
                           &t->minute, &t->second);
  if (fields == 3) t->hour = t->minute = t->second = 0;
  return (fields == 3 || fields == 6) && tw::IsValidCalendarTime(*t);
}

}  // namespace

int main(int argc, char** argv) {
  tw::SoakOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--days" && value != nullptr) {
      char* end = nullptr;
      const long days = std::strtol(value, &end, 10);
      if (*end != '\0' || days < 1 || days > 3660) {
        std::fprintf(stderr, "tempwarden-soak: --days wants 1 to 3660\n");
        return 2;
      }
      options.days = static_cast<int>(days);
      ++i;
    } else if (arg == "--start" && value != nullptr) {
      if (!ParseStart(value, &options.start)) {
        std::fprintf(stderr, "tempwarden-soak: --start wants YYYY-MM-DD[THH:MM:SS]\n");
        return 2;
      }
      ++i;
    } else if (arg == "--metrics") {
      options.metrics = true;
    } else if (arg == "--dir" && value != nullptr) {
      options.directory = value;
      ++i;
    } else {
      std::fputs(kUsage, arg == "--help" ? stdout : stderr);
      return arg == "--help" ? 0 : 2;
    }
  }

  std::printf("Simulating %d days from %04d-%02d-%02d %02d:%02d:%02d (Europe/Berlin)\n",
              options.days, options.start.year, options.start.month, options.start.day,
              options.start.hour, options.start.minute, options.start.second);
  std::fflush(stdout);
  const tw::SoakResult result = tw::RunSoak(options, [](const std::string& line) {
    std::printf("  ... %s\n", line.c_str());
    std::fflush(stdout);
  });
  std::printf("Faults:\n");
  for (const std::string& line : result.timeline) std::printf("  %s\n", line.c_str());

  const tw::SoakFigures& f = result.figures;
  std::printf("Figures:\n");
  std::printf("  run time        %.1f s\n", f.run_seconds);
  std::printf("  CPU             %.1f s (%.1f s user, %.1f s system)\n", f.cpu_seconds,
              f.user_seconds, f.system_seconds);
  std::printf("  CPU per tenth   %.1f s the first, %.1f s the last\n", f.first_tenth_cpu_seconds,
              f.last_tenth_cpu_seconds);
  std::printf("  peak memory     %llu kB (%llu kB after the first tenth)\n",
              static_cast<unsigned long long>(f.peak_memory_kb),
              static_cast<unsigned long long>(f.early_peak_memory_kb));
  std::printf("  heap in use     %lld kB (%lld kB after the first tenth)\n",
              static_cast<long long>(f.heap_in_use_kb),
              static_cast<long long>(f.early_heap_in_use_kb));
  std::printf(
      "  resident        %lld kB anonymous, %lld kB of files (%lld and %lld kB after the "
      "first tenth)\n",
      static_cast<long long>(f.anon_memory_kb), static_cast<long long>(f.file_memory_kb),
      static_cast<long long>(f.early_anon_memory_kb),
      static_cast<long long>(f.early_file_memory_kb));
  std::printf("  open handles    %lld (%lld after the first tenth, %lld before the service ran)\n",
              static_cast<long long>(f.open_handles), static_cast<long long>(f.early_open_handles),
              static_cast<long long>(f.start_open_handles));
  for (const std::string& h : f.handle_names) std::printf("    %s\n", h.c_str());
  std::printf("  temp. passes    %llu\n", static_cast<unsigned long long>(f.temperature_passes));
  std::printf("  daily rows      %llu\n", static_cast<unsigned long long>(f.daily_rows));
  std::printf("  annual rows     %llu\n", static_cast<unsigned long long>(f.annual_rows));
  std::printf("  service runs    %llu\n", static_cast<unsigned long long>(f.sessions));
  std::printf("  SNMP queries    %llu\n", static_cast<unsigned long long>(f.snmp_queries));
  std::printf("  datagrams sent  %llu\n", static_cast<unsigned long long>(f.datagrams));
  std::printf("  writes refused  %llu (locked history file)\n",
              static_cast<unsigned long long>(f.refused_writes));
  std::printf("  mails           %llu\n", static_cast<unsigned long long>(f.mails));
  for (const std::string& s : f.mail_subjects) std::printf("    %s\n", s.c_str());
  if (!options.directory.empty()) std::printf("Files in %s\n", result.directory.c_str());

  std::printf("Checks:\n");
  for (const tw::CheckResult& c : result.checks) {
    std::printf("  %s %s: %s\n", c.passed ? "PASS" : "FAIL", c.name.c_str(), c.detail.c_str());
  }
  const bool passed = result.Passed();
  std::printf("%s\n", passed ? "All checks passed." : "Some checks FAILED.");
  return passed ? 0 : 1;
}
