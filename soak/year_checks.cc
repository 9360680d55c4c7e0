// The checks of the simulated year that need its record (the times of the faults, the mails,
// the copies of files taken on the way); those of the files alone are in checks.cc.
#include <algorithm>
#include <map>
#include <set>

#include "soak/year_run.h"

namespace tw {
namespace soak {

void Year::Analyse(SoakResult* r) {
  // The peak resident set also counts the pages of the program's code, which grow as paths
  // run for the first time (the faults after the first tenth): it is shown, not checked.
  const CheckResult memory = CheckMemory(
      {figures_.early_heap_in_use_kb, figures_.early_anon_memory_kb, figures_.early_open_handles,
       early_kept_kb_},
      {figures_.heap_in_use_kb, figures_.anon_memory_kb, figures_.open_handles, KeptKb()});

  std::set<int64_t> takeable;
  for (const auto& s : segments_) {
    for (int64_t w = (s.first + kWindow - 1) / kWindow; (w + 1) * kWindow <= s.second; ++w) {
      takeable.insert(w);
    }
  }
  const DailyFiles daily = ReadDailyFiles(*disk_);
  for (const auto& d : daily) figures_.daily_rows += d.second.points.size();
  const int64_t last_day = clock_.LocalMs() / kMsPerDay;

  r->checks.push_back(CheckDayFiles(*disk_, daily));
  r->checks.push_back(CheckNoLostSamples(daily, takeable));
  if (slow_from_ >= 0 && slow_until_ > slow_from_) {
    std::set<int64_t> while_slow;
    for (int64_t w : takeable) {
      if (w * kWindow >= slow_from_ && (w + 1) * kWindow <= slow_until_) while_slow.insert(w);
    }
    CheckResult late = CheckNoLostSamples(daily, while_slow);
    late.name = "every point sampled while passes run 4 minutes late";
    late.detail = std::to_string(held_up_passes_) + " passes held up; " + late.detail;
    if (held_up_passes_ == 0 || while_slow.empty()) late.passed = false;
    r->checks.push_back(late);
  }
  r->checks.push_back(CheckNoZeroReadings(daily));
  r->checks.push_back(CheckAnnualRows(*disk_, daily));
  r->checks.push_back(CheckSnapshots());
  figures_.annual_rows = 0;
  for (const std::string& name : disk_->FindFiles("APCUPSTempLog_????.csv")) {
    std::string text, error;
    disk_->ReadFile(name, &text, &error);
    const int64_t lines = std::count(text.begin(), text.end(), '\n');
    figures_.annual_rows += lines > 0 ? lines - 1 : 0;
  }
  r->checks.push_back(CheckActivityLogs(*disk_, daily, last_day, kPurgeDays));
  r->checks.push_back(CheckExceptionReports(*disk_, last_day, kPurgeDays, session_starts_local_));

  CheckResult passes{"passes keep running through every clock change", true, ""};
  passes.detail = "longest wait between voltage queries " +
                  std::to_string(longest_voltage_gap_ / 1000) + " s" +
                  (longest_voltage_gap_ > 0 ? " (at " + LocalText(longest_gap_at_) + ")" : "");
  passes.passed = long_gaps_.empty();
  for (const std::string& gap : long_gaps_) passes.detail += "; " + gap;
  r->checks.push_back(passes);

  CheckResult kept_on{"temperature passes keep coming", true, ""};
  kept_on.detail =
      std::to_string(figures_.temperature_passes) + " passes, longest time without one " +
      std::to_string(longest_pass_gap_ / kSecond) + " s" +
      (longest_pass_gap_ > 0 ? " (until " + LocalText(longest_pass_gap_at_) + ")" : "");
  r->checks.push_back(kept_on);

  CheckResult stops{"the service ran until each stop request", self_ended_.empty(), ""};
  stops.detail = std::to_string(figures_.sessions) + " runs";
  for (const std::string& when : self_ended_) stops.detail += "; ended by itself at " + when;
  r->checks.push_back(stops);
  CheckMails(r);
  r->checks.push_back(memory);
}

void Year::Snapshot() {
  const int64_t now = clock_.LocalMs();
  const std::string stamp = DateStamp(now);
  for (const std::string& part : {stamp, DateStamp(now - kMsPerDay), stamp.substr(0, 4)}) {
    const std::string name = "APCUPSTempLog_" + part + ".csv";
    std::string text, error;
    if (disk_->ReadFile(directory_ + "/" + name, &text, &error)) {
      snapshots_.push_back({name, text, now});
    }
  }
}

int64_t Year::KeptKb() const {
  size_t bytes = 0;
  for (const Kept& k : snapshots_) bytes += k.name.capacity() + k.text.capacity() + sizeof k;
  return static_cast<int64_t>(bytes / 1024);
}

CheckResult Year::CheckSnapshots() {
  CheckResult r{"history rows are never taken back", true, ""};
  std::vector<std::string> lost;
  for (const Kept& k : snapshots_) {
    std::string text, error;
    disk_->ReadFile(directory_ + "/" + k.name, &text, &error);
    if (text.compare(0, k.text.size(), k.text) != 0) {
      lost.push_back(k.name + " as of " + LocalText(k.local_ms));
    }
  }
  r.detail = std::to_string(snapshots_.size()) +
             " daily and annual files seen at stops and clock steps, all still there as seen";
  if (!lost.empty()) {
    r.passed = false;
    r.detail = std::to_string(lost.size()) + " files lost rows they held earlier:";
    for (const std::string& l : lost) r.detail += " " + l + ";";
    r.detail.pop_back();
  }
  return r;
}

void Year::CheckMails(SoakResult* r) {
  std::map<std::string, int> by_subject;
  for (const Mail& m : mails_) ++by_subject[m.subject];
  figures_.mails = mails_.size();
  for (const auto& s : by_subject) {
    figures_.mail_subjects.push_back(s.first + " x" + std::to_string(s.second));
  }
  if (heat_on_ < 0) return;  // a run too short for the alarm episode
  CheckResult alarm{"the alarm reaches people once the relay is back, and clears", true, ""};
  std::vector<int64_t> alarms, cleared;
  for (const Mail& m : mails_) {
    if (m.subject == "APC UPS: High Temp Alarm!") alarms.push_back(m.local_ms);
    if (m.subject == "APC UPS: High Temp condition cleared") cleared.push_back(m.local_ms);
  }
  std::string problems;
  if (alarms.size() != 1) {
    problems += "; " + std::to_string(alarms.size()) + " alarm mails delivered, 1 expected";
  } else if (relay_up_ >= 0 && (alarms[0] < relay_up_ || alarms[0] > relay_up_ + 10 * kMinute)) {
    problems += "; the alarm mail went out at " + LocalText(alarms[0]) +
                ", not within ten minutes after the relay came back at " + LocalText(relay_up_);
  }
  if (cleared.size() != 1) {
    problems += "; " + std::to_string(cleared.size()) + " cleared mails delivered, 1 expected";
  } else if (heat_off_ >= 0 && (cleared[0] < heat_off_ || cleared[0] > heat_off_ + 2 * kHour)) {
    problems += "; the cleared mail went out at " + LocalText(cleared[0]) +
                ", not within two hours after the heat ended at " + LocalText(heat_off_);
  }
  if (problems.empty()) {
    alarm.detail =
        "alarm delivered at " + LocalText(alarms[0]) + ", cleared at " + LocalText(cleared[0]);
  } else {
    alarm.passed = false;
    alarm.detail = problems.substr(2);
  }
  r->checks.push_back(alarm);
}

}  // namespace soak
}  // namespace tw
