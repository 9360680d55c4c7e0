// Program entry: builds the real environment and hands it down.
//
// For now the program gathers the host facts and prints them with formatted samples; the
// service shell and the monitoring cycle take over this entry when they land.
#include <cstdio>
#include <memory>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/host_facts.h"
#include "platform/regional.h"
#include "toolbelt/datetime.h"
#include "toolbelt/host_info.h"
#include "toolbelt/numbers.h"
#include "toolbelt/settings.h"
#include "toolbelt/text_time.h"

int main() {
  std::unique_ptr<tw::Clock> clock = tw::NewSystemClock();
  std::unique_ptr<tw::Regional> regional = tw::NewSystemRegional();
  std::unique_ptr<tw::HostFacts> host = tw::NewSystemHostFacts();
  std::unique_ptr<tw::FileSystem> files = tw::NewSystemFileSystem();
  tw::Context ctx;
  ctx.env = {clock.get(), regional.get(), host.get(), files.get()};

  const std::string exe_path = tw::SetPathToEXEPath(ctx);
  ctx.settings.Version = tw::FileVersion2(ctx, "");
  ctx.settings.Company = "Brindle";
  ctx.settings.HostName = tw::GetHostName(ctx);
  ctx.settings.UnderWorkbench = tw::RunningUnderWorkbench(ctx);
  ctx.settings.SelfName = "VOZIvazure";
  ctx.settings.Started = clock->Now();

  tw::tMachineUpTime up;
  tw::MachineUpTime(ctx, up);
  tw::tMemoryStatusRec mem;
  tw::GetMemoryStatus(ctx, mem);
  const tw::FormatSettings& fs = ctx.fmt();
  const double now = clock->Now();

  std::printf("Tempwarden %s on %s\n", ctx.settings.Version.c_str(),
              ctx.settings.HostName.c_str());
  std::printf("  directory      %s\n", exe_path.c_str());
  std::printf("  started        %s\n", tw::StringOfString(ctx, ctx.settings.Started).c_str());
  std::printf("  time of day    %s\n", tw::FormattedTime(ctx, -1).c_str());
  std::printf("  mail date      %s\n",
              tw::DateTimeToRFC822(ctx, 0, tw::LocalTimeToGMT(ctx, now)).c_str());
  std::printf("  log stamp      %s\n",
              tw::FormatDateTime("YYYY-MM-DD HH:NN:SS.ZZZ", now, fs).c_str());
  std::printf("  machine up     %s (%s days)\n", up.UpTimeText.c_str(),
              tw::FloatToStr(up.Days, fs).c_str());
  std::printf("  memory load    %d%%, %s bytes physical, %s%% available\n", mem.MemoryLoad,
              tw::FormatGrouped(static_cast<double>(mem.TotalPhysical), 0, fs).c_str(),
              tw::FormatGrouped(mem.AvailPhysicalPct, 2, fs).c_str());
  std::printf("  debugger       %s\n", ctx.settings.UnderWorkbench ? "yes" : "no");
  return 0;
}
