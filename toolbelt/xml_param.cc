#include "toolbelt/xml_param.h"

#include "toolbelt/failure.h"
#include "toolbelt/files.h"

namespace tw {

tSettingsFile ReadSettingsFile(Context& ctx, const std::string& FileName) {
  tSettingsFile file;
  if (!FileExists(ctx, FileName) || !ctx.env.files->IsPlainFile(FileName)) return file;
  std::string bytes;
  bool larger = false;
  if (!ctx.env.files->ReadFileHead(FileName, kConfigFileMaxBytes, &bytes, &larger, &file.Error)) {
    file.Read = tSettingsFile::Result::kUnreadable;
    return file;
  }
  if (larger) {
    file.Read = tSettingsFile::Result::kTooLarge;
    return file;
  }
  file.Read = tSettingsFile::Result::kRead;
  file.Bytes = bytes.size();
  file.Text = DecodeConfigBytes(bytes);
  return file;
}

void ReportUnreadableSettings(Context& ctx, const tSettingsFile& file) {
  const int32_t trace = 3000;
  Guarded(ctx, "toolbelt.FileToStr()", trace, [&] {
    // The seam's texts say which step failed: "Cannot open file ..." or "Read error. ...".
    throw Fault(file.Error.rfind("Read error", 0) == 0 ? "EReadError" : "EFOpenError", file.Error);
  });
}

void GetParamFromXMLFile(Context& ctx, const std::string& FileName, const std::string& Name,
                         tXMLParam& Param) {
  Param.Found = false;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.GetParamFromXMLFile", trace, [&] {
    const tSettingsFile file = ReadSettingsFile(ctx, FileName);
    if (file.Read == tSettingsFile::Result::kUnreadable) ReportUnreadableSettings(ctx, file);
    if (file.Read != tSettingsFile::Result::kRead) return;
    // Commit only once the value is complete, so a failure leaves Param as it came in.
    std::string value;
    if (!FindConfigValue(file.Text.Text, Name, &value)) return;
    Param.Value = std::move(value);
    Param.Found = true;
  });
}

void FileToStr(Context& ctx, const std::string& FileName, std::string& Result) {
  int32_t trace = 100;
  const bool ok = Guarded(ctx, "toolbelt.FileToStr()", trace, [&] {
    if (!ctx.env.files->IsPlainFile(FileName)) return;
    trace = 3000;
    std::string data, error;
    if (!ctx.env.files->ReadFile(FileName, &data, &error)) {
      // The seam's texts say which step failed: "Cannot open file ..." or "Read error. ...".
      throw Fault(error.rfind("Read error", 0) == 0 ? "EReadError" : "EFOpenError", error);
    }
    Result = std::move(data);
  });
  if (!ok) Result.clear();
}

}  // namespace tw
