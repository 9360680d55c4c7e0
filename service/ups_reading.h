// The card's answers as readings: a reading is a number of a numeric type (or text that is
// wholly a decimal number) inside what the object can plausibly report. Anything else is no
// reading, as silence is: an agent's text, an OID or an address must never become a 0 in the
// history or a false change to battery.
#ifndef TEMPWARDEN_SERVICE_UPS_READING_H_
#define TEMPWARDEN_SERVICE_UPS_READING_H_

#include <string>

#include "snmp/snmp.h"
#include "toolbelt/settings.h"

namespace tw {

// An object the service reads, with its plausible range (inclusive, in scaled units).
struct tUpsObject {
  const char* Name;  // in messages: "temperature", "input voltage"
  std::string OID;
  double Min;
  double Max;
  // What one unit of the card's number is worth: 0.1 for an object that counts tenths.
  double Scale = 1;
  // The Notes of the exception reports of its queries: empty for the objects the service has
  // always read, so that those reports stay as they were.
  std::string ReportNotes{};
};

extern const tUpsObject kUpsTemperature;   // -50 to 150 degrees Celsius
extern const tUpsObject kUpsInputVoltage;  // 0 to 600 volts

// The temperature object "TemperatureOID" and "TemperatureScale" choose: kUpsTemperature's
// name and range, the object's OID and scale; its reports name the object when it is not the
// default one.
tUpsObject TemperatureObject(const std::string& oid, double scale);

enum class tReadingKind {
  kNumber,       // Value holds the reading
  kNotANumber,   // an answer of another type, text that is no number, or out of range
  kNotProvided,  // noSuchName, noSuchObject, noSuchInstance: the card lacks the object
  kSilent,       // no answer (or nothing to ask)
};

struct tUpsReading {
  tReadingKind Kind = tReadingKind::kSilent;
  double Value = 0;
  std::string Text;  // the value text as it came (SnmpValueText)
  std::string Type;  // the value's type: "INTEGER", "Gauge32", "OctetString", ...
  double Raw = 0;    // the card's number before the scale (kNumber, and kNotANumber when a
                     // number fell out of range)
  tSNMPOutcome Outcome = tSNMPOutcome::kNoAnswer;  // what the query came to
};

// The name of an SNMP value type for messages ("tag 0x.." for types without one).
std::string SnmpTypeName(uint8_t tag);

// Whether `text` is wholly a decimal number: an optional sign, digits, and optionally a decimal
// mark ("." or ",") and digits; nothing else, no blanks. Sets `value` when it is.
bool DecimalNumber(const std::string& text, double* value);

// What `result` (a query of `object`) comes to. INTEGER, Gauge32 and Counter32 are numbers
// (Gauge32 and Counter32 unsigned), an OCTET STRING when it is DecimalNumber; the number times
// the object's scale is the value, which must lie inside the object's range.
tUpsReading ReadingOf(const tUpsObject& object, const tSNMPResult& result);

// Queries `object` (snmp's OID is set here) with SNMPRead's failure handling, then ReadingOf.
// Never throws.
tUpsReading ReadUpsObject(Context& ctx, tSNMPRec snmp, const tUpsObject& object);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_UPS_READING_H_
