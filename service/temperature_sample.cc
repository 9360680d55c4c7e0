#include "service/temperature_sample.h"

#include "toolbelt/number_text.h"

namespace tw {

int32_t RecordTemperatureSample(Context& ctx, tSNMPRec snmp, tUPSAttributes& ups,
                                tGoogleChart chart, const std::function<void()>& after_temp_file) {
  snmp.OID = kOidUpsTemperature;
  const std::string answer = SNMPSend(ctx, snmp);
  // A silent card is not a room at 0 degrees: that row would spoil the history, the pages
  // and the annual average.
  if (answer.empty()) return kNoReading;
  ups.InternalTemp = SafeStrToFloat(ctx, answer);
  return RecordTemperature(ctx, ups.InternalTemp, chart, after_temp_file);
}

}  // namespace tw
