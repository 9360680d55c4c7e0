#include "toolbelt/syslog.h"

namespace tw {

void PostSyslogMsg(Context& ctx, tSyslogRec rec, const std::string& host) {
  (void)ctx;
  (void)rec;
  (void)host;
}

}  // namespace tw
