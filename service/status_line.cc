#include "service/status_line.h"

#include "toolbelt/items.h"
#include "toolbelt/numbers.h"

namespace tw {

std::string ReadingStatusLine(const Context& ctx, const tUPSAttributes& ups) {
  return Items()
      .Add("UPSTemp", FloatToStr(ups.InternalTemp, ctx.fmt()))
      .Add("UPSInputVoltage", FloatToStr(ups.InputVoltage, ctx.fmt()))
      .Add("UPSState", ups.UPSState)
      .str();
}

}  // namespace tw
