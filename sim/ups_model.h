// The values the simulated UPS reports: a temperature that follows a daily curve with a little
// noise, or a script of values; an input voltage that sits near the mains voltage and drops to
// 0 during an occasional mains failure, or a script of values. Both are whole numbers, as the
// network cards give them (Gauge32).
//
// Time comes from the clock seam only, so tests drive the model with a fake clock: the curve
// follows the clock's local time of day (or a faster simulated day), the mains failures the
// time the model has been running, measured on the clock's tick count.
#ifndef TEMPWARDEN_SIM_UPS_MODEL_H_
#define TEMPWARDEN_SIM_UPS_MODEL_H_

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace tw {

struct UpsSimOptions {
  // Scripted values, one per query of the object; the last one stays once the script has run
  // out, so a single value is a fixed value. Empty: the curve, or the mains.
  std::vector<uint32_t> temps;
  std::vector<uint32_t> volts;

  // The daily curve: mean + swing x cos(2 pi (time of day - 15:00) / 24 h), so the warmest
  // hour is 15:00 and the coolest 03:00, plus noise drawn evenly from [-noise, +noise], then
  // rounded to whole degrees (never below 0).
  double mean_temp = 26;
  double swing = 4;
  double noise = 0.6;
  // Simulated seconds per second of the clock: 144 makes a day last ten minutes.
  double speed = 1;
  // Hour of the day (0 to 24) that the simulated day starts from; below 0: the clock's time.
  double start_hour = -1;

  // The mains: `mains` volts plus noise drawn evenly from [-mains_noise, +mains_noise]; it
  // fails (0 volts) for the last `outage_for_s` seconds of every `outage_every_s` seconds of
  // running time. `outage_every_s` 0: it never fails.
  uint32_t mains = 230;
  uint32_t mains_noise = 2;
  uint32_t outage_every_s = 3600;
  uint32_t outage_for_s = 60;

  uint32_t seed = 1;  // of the noise; the same seed gives the same values
};

class SimulatedUps {
 public:
  // Takes the start of running time and of the simulated day from `clock`, which must outlive
  // the model.
  SimulatedUps(const UpsSimOptions& options, Clock& clock);

  // The value of one query of the object; a scripted object moves on to its next value.
  uint32_t NextTemperature();
  uint32_t NextVoltage();

  // The simulated local date-time now (days since 30 December 1899).
  double SimulatedNow();
  // Whether the mains has failed now (scripts aside).
  bool MainsFailed();

  // The curve without noise at a time of day (fraction of a day, 0 is midnight).
  static double CurveAt(const UpsSimOptions& options, double day_fraction);

 private:
  uint64_t RunningMs();

  UpsSimOptions options_;
  Clock& clock_;
  double start_ = 0;  // simulated date-time at the start
  uint32_t last_tick_ = 0;
  uint64_t running_ms_ = 0;
  size_t temp_index_ = 0;
  size_t volt_index_ = 0;
  std::mt19937 random_;
};

// "25,29,31" as values, each a whole number from 0 to 4294967295. False for anything else
// (an empty list, an empty item, signs, fractions, blanks).
bool ParseValueList(const std::string& text, std::vector<uint32_t>* values);

}  // namespace tw

#endif  // TEMPWARDEN_SIM_UPS_MODEL_H_
