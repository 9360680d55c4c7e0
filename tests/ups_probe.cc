// Test driver for the chart-page and phone-home system tests: runs the service's own code on
// the real file system (and, for phone-home, the real network) of a test directory.
//
//   tw_ups_probe pages DIR english|german
//       Records three days and the first sample of a fourth from 10 March 2025 on a test
//       clock, one sample per five-minute point with fractional temperatures, so DIR holds
//       day files, pages and the annual file and page of 2025. Prints the files it wrote.
//   tw_ups_probe phonehome DIR SERVER COLLECTOR UPSHOST
//       PhoneHome with the real network, temperature 26.5, maximum 29, 230 V, on line.
//       Prints the summary that was sent.
//
// phonehome sends datagrams: run it only inside a private network namespace.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/host_facts.h"
#include "platform/network.h"
#include "tests/test_settings.h"
#include "toolbelt/datetime.h"
#include "toolbelt/fake_context.h"
#include "toolbelt/host_info.h"
#include "ups/chart.h"
#include "ups/history.h"
#include "ups/phone_home.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: tw_ups_probe pages DIR english|german\n"
               "       tw_ups_probe phonehome DIR SERVER COLLECTOR UPSHOST\n");
  return 2;
}

struct RealFiles {
  explicit RealFiles(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    files = tw::NewSystemFileSystem();
    ok = files->SetWorkingDirectory(dir);
    env.ctx.env.files = files.get();
    env.ctx.settings.ExePath = dir;
  }
  tw::FakeEnv env;  // clock, regional settings and settings record; files and network real
  std::unique_ptr<tw::FileSystem> files;
  bool ok = false;
};

int Pages(int argc, char** argv) {
  if (argc < 4) return Usage();
  RealFiles real(argv[2]);
  if (!real.ok) return 1;
  const bool german = std::strcmp(argv[3], "german") == 0;
  real.env.regional.mutable_settings() = german ? tw::GermanSettings() : tw::EnglishSettings();
  tw::Context& ctx = real.env.ctx;
  const tw::TDateTime start = tw::EncodeDateTimeOrThrow(2025, 3, 10, 0, 1, 0, 0);
  real.env.clock.Set(start);
  tw::tGoogleChart chart;
  chart.Period = 1.0;
  chart.EndPeriod = start;
  tw::WriteDayChartPages(ctx, chart, tw::DayPageSet::kStartUp);
  for (int sample = 0; sample <= 3 * 288; ++sample) {
    real.env.clock.Set(start + sample * 300.0 / 86400.0);
    // Quarter degrees, so that most rows carry a decimal mark.
    const double temp = 22 + (sample % 37) * 0.25 + (sample / 288);
    tw::RecordTemperature(ctx, temp, chart, nullptr);
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(argv[2], ec)) {
    std::printf("%s\n", entry.path().filename().string().c_str());
  }
  return 0;
}

int PhoneHomeOnce(int argc, char** argv) {
  if (argc < 6) return Usage();
  RealFiles real(argv[2]);
  if (!real.ok) return 1;
  std::unique_ptr<tw::Network> network = tw::NewSystemNetwork();
  std::unique_ptr<tw::HostFacts> host = tw::NewSystemHostFacts();
  tw::Context& ctx = real.env.ctx;
  ctx.env.network = network.get();
  ctx.env.host = host.get();
  ctx.settings.HostName = tw::GetHostName(ctx);
  ctx.settings.Version = "1.0.0.5";
  tw::tUPSAttributes ups;
  ups.HostName = argv[5];
  ups.UPSState = "OnLine";
  ups.InternalTemp = 26.5;
  ups.MaxTemp = 29;
  ups.InputVoltage = 230;
  std::printf("%s\n", tw::PhoneHomeTexts(ctx, argv[3], ups).Summary.c_str());
  tw::PhoneHome(ctx, argv[3], ups, argv[4]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "pages") return Pages(argc, argv);
  if (command == "phonehome") return PhoneHomeOnce(argc, argv);
  return Usage();
}
