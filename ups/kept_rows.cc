#include "ups/kept_rows.h"

#include <utility>

#include "toolbelt/activity_log.h"
#include "toolbelt/files.h"
#include "toolbelt/items.h"

namespace tw {
namespace {

// Writes the rows kept for `file` followed by `row` (may be empty); on success nothing is
// kept for the file any more, and `written` (may be null) receives what was written.
bool Flush(Context& ctx, const std::string& file, const std::string& row,
           std::string* written = nullptr) {
  auto& kept = ctx.faults.kept_rows;
  std::string text;
  const auto it = kept.find(file);
  if (it != kept.end()) {
    for (const tKeptRow& r : it->second) text += r.text;
  }
  text += row;
  if (WriteStringToFile(ctx, text, file, true) != kWriteOk) return false;
  kept.erase(file);
  if (written != nullptr) *written = std::move(text);
  return true;
}

void DropStale(Context& ctx, uint32_t tick) {
  auto& kept = ctx.faults.kept_rows;
  for (auto it = kept.begin(); it != kept.end();) {
    auto& rows = it->second;
    while (!rows.empty() && (rows.size() > kMaxKeptRows ||
                             static_cast<uint32_t>(tick - rows.front().tick) >= kMaxKeptRowAgeMs)) {
      rows.pop_front();
    }
    it = rows.empty() ? kept.erase(it) : std::next(it);
  }
}

void LogKept(Context& ctx, const std::string& file, uint32_t tick) {
  int32_t held_back = 0;
  if (!ctx.faults.kept_rows_notices.Admit(file, tick, &held_back)) return;
  tLogRec entry;
  entry.Code = kKeptRowCode;
  entry.Msg = Items()
                  .Add("Function", "toolbelt.AppendRowKeeping")
                  .Add("Note", "File cannot be written, rows kept")
                  .Add("File", file)
                  .Add("Kept", ctx.faults.kept_rows[file].size())
                  .str();
  std::string log_file;
  LogEntry(ctx, entry, log_file);
}

}  // namespace

int32_t AppendRowKeeping(Context& ctx, const std::string& row, const std::string& file,
                         std::string* written) {
  try {
    const uint32_t tick = ctx.env.clock->TickCount();
    DropStale(ctx, tick);
    std::vector<std::string> others;
    for (const auto& k : ctx.faults.kept_rows) {
      if (k.first != file) others.push_back(k.first);
    }
    for (const std::string& other : others) Flush(ctx, other, std::string());

    if (Flush(ctx, file, row, written)) return kWriteOk;
    ctx.faults.kept_rows[file].push_back(tKeptRow{tick, row});
    DropStale(ctx, tick);
    LogKept(ctx, file, tick);
    return kWriteFailed;
  } catch (...) {
    // Out of memory: this row is lost, as it would have been without keeping.
    return kWriteFailed;
  }
}

}  // namespace tw
