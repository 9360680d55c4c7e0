#include "service/status_line.h"

#include "toolbelt/items.h"
#include "toolbelt/numbers.h"
#include "toolbelt/text_time.h"

namespace tw {

std::string ReadingStatusLine(const Context& ctx, const tUPSAttributes& ups) {
  return Items()
      .Add("UPSTemp", FloatToStr(ups.InternalTemp, ctx.fmt()))
      .Add("UPSInputVoltage", FloatToStr(ups.InputVoltage, ctx.fmt()))
      .Add("UPSState", ups.UPSState)
      .str();
}

std::string ServiceStatusLine(Context& ctx, const tUPSAttributes& ups,
                              const tServiceStatus& status) {
  if (!status.Configured) return "No UPS configured (UPSHost is empty)";
  if (!status.Answering) return "UPS not answering since " + DateTimeToStr(ctx, status.SilentSince);
  if (status.ReadingAt == 0) return "Waiting for the first reading";
  return ReadingStatusLine(ctx, ups) + "[At=" + DateTimeToStr(ctx, status.ReadingAt) + "]";
}

}  // namespace tw
