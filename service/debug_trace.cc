#include "service/debug_trace.h"

#include "toolbelt/files.h"
#include "toolbelt/text_time.h"

namespace tw {

void DebugTraceLine(Context& ctx, const std::string& tail, bool replace) {
  WriteStringToFile(ctx, DateTimeToStr(ctx, ctx.env.clock->Now()) + tail + "\r\n", kDebugTraceFile,
                    !replace);
}

void DebugTraceStage(Context& ctx, tLogRec& rec, int32_t stage, bool replace) {
  rec.Trace = stage;
  DebugTraceLine(ctx,
                 std::string(" Function=") + kTraceName + " LogRec.Trace=" + std::to_string(stage),
                 replace);
}

void LogThrough(Context& ctx, tLogRec& rec, int32_t code, const std::string& msg) {
  rec.Code = code;
  rec.Msg = msg;
  std::string file;
  LogEntry(ctx, rec, file);
}

}  // namespace tw
