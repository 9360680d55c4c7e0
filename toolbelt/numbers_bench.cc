// The grouped number formats, which round from the exact decimal expansion of the double:
// the cost of one "#,##0.0" (an annual average) and one "#,##0" (a memory figure).
#include <benchmark/benchmark.h>

#include "toolbelt/numbers.h"

namespace tw {
namespace {

void BM_FormatGroupedOneDecimal(benchmark::State& state) {
  const FormatSettings fmt = FormatSettings::English();
  double value = 26.04996;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatGrouped(value, 1, fmt));
    value += 0.001;
  }
}
BENCHMARK(BM_FormatGroupedOneDecimal);

void BM_FormatGroupedWholeBytes(benchmark::State& state) {
  const FormatSettings fmt = FormatSettings::English();
  double value = 8589934592.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormatGrouped(value, 0, fmt));
    value += 4096;
  }
}
BENCHMARK(BM_FormatGroupedWholeBytes);

// The smallest double has the longest exact expansion (1074 decimals): the worst case.
void BM_FormatGroupedWorstCase(benchmark::State& state) {
  const FormatSettings fmt = FormatSettings::English();
  for (auto _ : state) benchmark::DoNotOptimize(FormatGrouped(5e-324, 2, fmt));
}
BENCHMARK(BM_FormatGroupedWorstCase);

}  // namespace
}  // namespace tw
