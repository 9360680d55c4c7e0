#include "toolbelt/files.h"

#include "toolbelt/failure.h"

namespace tw {

int32_t WriteStringToFile(Context& ctx, const std::string& text, const std::string& File,
                          bool bAppend) {
  if (text.empty()) return kWriteNothing;
  try {
    const bool append = bAppend && ctx.env.files->IsPlainFile(File);
    return ctx.env.files->WriteFile(File, text, append) ? kWriteOk : kWriteFailed;
  } catch (...) {
    return kWriteFailed;
  }
}

bool FileExists(Context& ctx, const std::string& name) {
  bool found = false;
  const int32_t trace = 100;
  Guarded(ctx, "toolbelt.FileExists", trace, [&] {
    // A full path (a settings file named on the command line) stands for itself.
    const std::string delimiters = ctx.env.files->PathDelimiters();
    const bool full =
        !name.empty() &&
        (delimiters.find(name[0]) != std::string::npos ||
         (name.size() > 1 && name[1] == ':' && delimiters.find(':') != std::string::npos));
    found = !ctx.env.files->FindFiles(full ? name : ctx.settings.ExePath + name).empty();
  });
  return found;
}

}  // namespace tw
