// The SNMP version 1 query of one scalar object of the UPS's management card.
#ifndef TEMPWARDEN_TOOLBELT_SNMP_H_
#define TEMPWARDEN_TOOLBELT_SNMP_H_

#include <string>

#include "toolbelt/settings.h"

namespace tw {

struct tSNMPRec {
  std::string OID;  // dotted, instance included: "1.3.6.1.4.1.318.1.1.1.2.2.2.0"
  std::string Community;
  std::string Host;
};

// One GetRequest to Host:161; the value of the answer as text, or empty text when no usable
// answer came. Never throws.
std::string SNMPSend(Context& ctx, tSNMPRec rec);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_SNMP_H_
