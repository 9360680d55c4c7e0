#include "service/status_line.h"

#include "toolbelt/numbers.h"

namespace tw {

std::string ReadingStatusLine(const Context& ctx, const tUPSAttributes& ups) {
  return "[UPSTemp=" + FloatToStr(ups.InternalTemp, ctx.fmt()) +
         "][UPSInputVoltage=" + FloatToStr(ups.InputVoltage, ctx.fmt()) +
         "][UPSState=" + ups.UPSState + "]";
}

}  // namespace tw
