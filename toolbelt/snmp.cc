#include "toolbelt/snmp.h"

namespace tw {

std::string SNMPSend(Context& ctx, tSNMPRec rec) {
  (void)ctx;
  (void)rec;
  return std::string();
}

}  // namespace tw
