#include "toolbelt/activity_log.h"

namespace tw {

void LogEntry(Context& ctx, tLogRec rec, std::string& file_name) {
  (void)ctx;
  (void)rec;
  (void)file_name;
}

}  // namespace tw
