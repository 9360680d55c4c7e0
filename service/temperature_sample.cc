#include "service/temperature_sample.h"

namespace tw {

int32_t RecordTemperatureSample(Context& ctx, tSNMPRec snmp, tUPSAttributes& ups,
                                tGoogleChart chart, const std::function<void()>& after_temp_file,
                                tUpsReading* reading, const tKnownDayFile* read_before,
                                const tUpsObject& object) {
  const tUpsReading got = ReadUpsObject(ctx, snmp, object);
  if (reading != nullptr) *reading = got;
  // A silent card, or one that answers text, is not a room at 0 degrees: that row would
  // spoil the history, the pages and the annual average.
  if (got.Kind != tReadingKind::kNumber) return kNoReading;
  ups.InternalTemp = got.Value;
  return RecordTemperature(ctx, ups.InternalTemp, chart, after_temp_file, read_before);
}

}  // namespace tw
