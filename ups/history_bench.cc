// One temperature sample's work as the service does it at the last point of a full day: three
// row appends, "UPS-Temp.txt" replaced, and three day pages each drawn from the daily file of
// 288 rows. Once on the in-memory test file system (the code's own cost) and once on the real
// file system in a temporary directory (what the service pays every five minutes).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "platform/file_system.h"
#include "tests/temp_dir.h"
#include "tests/test_settings.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"
#include "ups/history.h"
#include "ups/temp_log.h"

namespace tw {
namespace {

std::string FullDay() {
  std::string text = kDayHeader;
  const FormatSettings fmt = EnglishSettings();
  const TDateTime day = EncodeDate(2025, 3, 14);
  for (int p = 0; p < kPointsPerDay - 1; ++p) {
    const TDateTime at = day + (p * 300 + 10) / 86400.0;
    text += SampleRow(fmt, p, at, 22 + (p % 37) * 0.25);
  }
  return text;
}

void RunSamples(benchmark::State& state, FakeEnv& env) {
  env.regional.mutable_settings() = EnglishSettings();
  env.ctx.settings.Log.DebugLevel = 5;  // the default level: no 66065 entries per page
  const TDateTime at = EncodeDateTimeOrThrow(2025, 3, 14, 23, 55, 10, 0);
  const std::string day = FullDay();
  tGoogleChart chart{"", "", "", 1.0, at, 300};
  for (auto _ : state) {
    state.PauseTiming();
    // Start each round from the day as it stood before the last sample.
    env.ctx.env.files->WriteFile("APCUPSTempLog_20250314.csv", day, false);
    env.ctx.env.files->WriteFile("APCUPSTempLog_Fri.csv", day, false);
    env.ctx.env.files->WriteFile("APCUPSTempLog_Today.csv", day, false);
    env.clock.Set(at);
    state.ResumeTiming();
    benchmark::DoNotOptimize(RecordTemperature(env.ctx, 27.5, chart, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_OneSampleInMemory(benchmark::State& state) {
  FakeEnv env;
  RunSamples(state, env);
}
BENCHMARK(BM_OneSampleInMemory)->Unit(benchmark::kMicrosecond);

void BM_OneSampleOnDisk(benchmark::State& state) {
  TempDir dir;
  FakeEnv env;
  std::unique_ptr<FileSystem> files = NewSystemFileSystem();
  if (dir.path().empty() || !files->SetWorkingDirectory(dir.path())) {
    state.SkipWithError("no temporary directory");
    return;
  }
  env.ctx.env.files = files.get();
  env.ctx.settings.ExePath = dir.path();
  RunSamples(state, env);
  files->SetWorkingDirectory("/");
}
BENCHMARK(BM_OneSampleOnDisk)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tw
