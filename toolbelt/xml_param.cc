#include "toolbelt/xml_param.h"

#include "toolbelt/failure.h"
#include "toolbelt/files.h"

namespace tw {

void GetParamFromXMLFile(Context& ctx, const std::string& FileName, const std::string& Name,
                         tXMLParam& Param) {
  Param.Found = false;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.GetParamFromXMLFile", trace, [&] {
    if (!FileExists(ctx, FileName)) return;
    std::string text;
    FileToStr(ctx, FileName, text);
    GetParamFromXMLText(text, Name, Param);
  });
}

void GetParamFromXMLText(const std::string& text, const std::string& Name, tXMLParam& Param) {
  Param.Found = false;
  const std::string open = "<" + Name + ">";
  const std::string close = "</" + Name + ">";
  const size_t open_at = text.find(open);
  if (open_at == std::string::npos || text.find(close) == std::string::npos) return;
  const size_t start = open_at + open.size();
  const size_t end = text.find(close, start);
  // Commit only once the value is complete, so a failure leaves Param as it came in.
  std::string value =
      end == std::string::npos ? text.substr(start) : text.substr(start, end - start);
  Param.Value = std::move(value);
  Param.Found = true;
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
