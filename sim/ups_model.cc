#include "sim/ups_model.h"

#include <cmath>

namespace tw {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kWarmestHour = 15;

double Frac(double x) { return x - std::floor(x); }

}  // namespace

SimulatedUps::SimulatedUps(const UpsSimOptions& options, Clock& clock)
    : options_(options), clock_(clock), random_(options.seed) {
  const double now = clock_.Now();
  start_ = options_.start_hour < 0 ? now : std::floor(now) + options_.start_hour / 24;
  last_tick_ = clock_.TickCount();
}

uint64_t SimulatedUps::RunningMs() {
  // Summed step by step, so the tick count's wrap after 49.7 days does no harm.
  const uint32_t tick = clock_.TickCount();
  running_ms_ += static_cast<uint32_t>(tick - last_tick_);
  last_tick_ = tick;
  return running_ms_;
}

double SimulatedUps::SimulatedNow() {
  return start_ + static_cast<double>(RunningMs()) * options_.speed / 86400000.0;
}

bool SimulatedUps::MainsFailed() {
  const uint64_t every = options_.outage_every_s;
  if (every == 0 || options_.outage_for_s == 0) return false;
  const uint64_t second = RunningMs() / 1000 % every;
  return second + options_.outage_for_s >= every;
}

double SimulatedUps::CurveAt(const UpsSimOptions& options, double day_fraction) {
  return options.mean_temp +
         options.swing * std::cos(2 * kPi * (Frac(day_fraction) - kWarmestHour / 24));
}

uint32_t SimulatedUps::NextTemperature() {
  if (!options_.temps.empty()) {
    const uint32_t value = options_.temps[temp_index_];
    if (temp_index_ + 1 < options_.temps.size()) ++temp_index_;
    return value;
  }
  // The engine's raw output mapped by hand: the library's distributions may differ between
  // platforms, and a seed should give the same values everywhere.
  const double unit = static_cast<double>(random_()) / 4294967296.0;  // [0, 1)
  const double value = CurveAt(options_, Frac(SimulatedNow())) + (2 * unit - 1) * options_.noise;
  const double rounded = std::round(value);
  if (!(rounded > 0)) return 0;  // a Gauge has no negative values (and NaN is no value)
  if (rounded >= 4294967295.0) return 4294967295u;
  return static_cast<uint32_t>(rounded);
}

uint32_t SimulatedUps::NextVoltage() {
  if (!options_.volts.empty()) {
    const uint32_t value = options_.volts[volt_index_];
    if (volt_index_ + 1 < options_.volts.size()) ++volt_index_;
    return value;
  }
  if (MainsFailed()) return 0;
  const uint64_t spread = uint64_t{options_.mains_noise} * 2 + 1;
  const int64_t offset = static_cast<int64_t>(random_() % spread) - options_.mains_noise;
  const int64_t value = int64_t{options_.mains} + offset;
  // Noise never fakes a failure: a live line reads at least 1 volt.
  return value < 1 ? 1u : static_cast<uint32_t>(value > 4294967295 ? 4294967295 : value);
}

bool ParseValueList(const std::string& text, std::vector<uint32_t>* values) {
  std::vector<uint32_t> out;
  uint64_t value = 0;
  bool digits = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ',') {
      if (!digits) return false;
      out.push_back(static_cast<uint32_t>(value));
      value = 0;
      digits = false;
    } else if (text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + static_cast<uint64_t>(text[i] - '0');
      if (value > 4294967295u) return false;
      digits = true;
    } else {
      return false;
    }
  }
  *values = std::move(out);
  return true;
}

}  // namespace tw
