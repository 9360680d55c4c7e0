// Plain file output and the file-existence test.
#ifndef TEMPWARDEN_TOOLBELT_FILES_H_
#define TEMPWARDEN_TOOLBELT_FILES_H_

#include <cstdint>
#include <string>

#include "toolbelt/settings.h"

namespace tw {

constexpr int32_t kWriteOk = 0;
constexpr int32_t kWriteNothing = -1;
constexpr int32_t kWriteFailed = -5;

// Writes `text` byte for byte to `File` (no line end added) and closes it: appends when
// `bAppend` and a plain file of that name exists, otherwise creates or replaces the file. A
// replacement is whole: the text goes to a temporary file renamed over the old one
// (FileSystem::WriteFile), so readers never see a part and a failure leaves the old file.
// Returns kWriteOk, kWriteNothing for an empty text (the file is not touched) or kWriteFailed.
// Writes no report and no log entry: the activity log and the reports are written through it.
int32_t WriteStringToFile(Context& ctx, const std::string& text, const std::string& File,
                          bool bAppend);

// True when an entry (file or directory) matches `name` in the executable's directory
// (settings.ExePath, used as is when empty), or at `name` itself when it is a full path;
// wildcards in `name` act as wildcards.
bool FileExists(Context& ctx, const std::string& name);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_FILES_H_
