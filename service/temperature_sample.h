// One temperature sample of the monitoring cycle: the card's answer, read as a number, handed
// to the temperature history.
#ifndef TEMPWARDEN_SERVICE_TEMPERATURE_SAMPLE_H_
#define TEMPWARDEN_SERVICE_TEMPERATURE_SAMPLE_H_

#include <cstdint>
#include <functional>

#include "service/ups_reading.h"
#include "snmp/snmp.h"
#include "ups/apc.h"
#include "ups/history.h"

namespace tw {

// What RecordTemperatureSample returns when the card gave no reading.
constexpr int32_t kNoReading = -2;

// Queries the temperature `object` (snmp carries Host, Community, Port and Session; its OID is set
// here), stores it in ups.InternalTemp and records it as RecordTemperature does. Returns the
// five-minute point it recorded. An answer that is no reading (ReadingOf: silence, a missing
// object, no number, out of range) writes nothing, ups.InternalTemp keeps its value,
// `after_temp_file` is not called, and the result is kNoReading. `reading` (may be null)
// receives what the query came to. `read_before` is handed to RecordTemperature.
int32_t RecordTemperatureSample(Context& ctx, tSNMPRec snmp, tUPSAttributes& ups,
                                tGoogleChart chart, const std::function<void()>& after_temp_file,
                                tUpsReading* reading = nullptr,
                                const tKnownDayFile* read_before = nullptr,
                                const tUpsObject& object = kUpsTemperature);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_TEMPERATURE_SAMPLE_H_
