// The commands an administrator runs from a prompt to check the settings without waiting for
// an alarm. Neither starts the service, and both may run while it runs: they read
// the settings file of the command line (TEMPWARDEN.XML beside the program by default) and
// write no file of the service's.
#ifndef TEMPWARDEN_SERVICE_COMMANDS_H_
#define TEMPWARDEN_SERVICE_COMMANDS_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "service/ups_reading.h"
#include "snmp/snmp.h"
#include "toolbelt/settings.h"

namespace tw {

// "/testmail": sends "APC UPS: test mail" with a summary of the settings to "EmailToAddr" and
// "EmailCCAddr" through the configured relay, lets the SMTP client's progress lines through
// to `out` (the password stays masked), and ends with the result and its meaning. Returns the
// exit status: 0 when the relay took the mail, 1 otherwise.
int TestMailCommand(Context& ctx, std::ostream& out);

// "/query": one query of the temperature (the object "TemperatureOID" names) and one of the
// input voltage, with the configured "UPSHost" and "SNMPCommunity", each printed with its time,
// the object, the value's type and the value (scaled by "TemperatureScale"). Returns 0 when both
// answered with a reading (a number in range, service/ups_reading.h), 1 otherwise.
int QueryCommand(Context& ctx, std::ostream& out);

// "/set KEY=VALUE...": writes the values into the settings file (toolbelt/settings_edit.h);
// a secret key's non-empty value is stored as "/protect" stores it (StoreSecret), after the
// others. Returns 0 when all were written; otherwise 1, with why on `err` (a refused value
// leaves the file unchanged).
int SetCommand(Context& ctx, const std::vector<std::string>& assignments, std::ostream& err);

// What a mail delivery result means, for a person reading it at a prompt.
std::string MailResultMeaning(int32_t result);

// One query as /query reports it.
struct tQueryLine {
  std::string Name;  // "temperature", "input voltage"
  std::string OID;
  std::string At;  // date-time text of the moment the query ended
  tSNMPResult Result;
  std::string Failure;                  // the failure's text when the query itself failed
  uint16_t Port = kSnmpPort;            // the card's port asked ("UPSPort")
  tUpsObject Object = kUpsTemperature;  // what was asked: its range and scale
};

// The line /query prints for one query: its time, what was asked and, for a reading, its type
// (and for a scale other than 1 the card's number " x " the scale), then the value or why
// there is none: "... temperature (1.3.6.1.4.1.318.1.1.1.2.3.2.0, Gauge32 275 x 0.1): 27.5".
void PrintQueryLine(std::ostream& out, const tQueryLine& line);

}  // namespace tw

#endif  // TEMPWARDEN_SERVICE_COMMANDS_H_
