// Reading settings out of the XML-like configuration file by plain text search.
//
// The file is not parsed as XML: a setting is the text between the first "<Key>" and the first
// "</Key>" after it, found by exact, case-sensitive search, with the five predefined entities
// decoded (toolbelt/config_text.h, which also says which encodings are read). Nothing is
// trimmed. The reader keeps no state: ReadSettingsFile reads the file once for a whole set of
// keys, GetParamFromXMLFile once for one key.
#ifndef TEMPWARDEN_TOOLBELT_XML_PARAM_H_
#define TEMPWARDEN_TOOLBELT_XML_PARAM_H_

#include <cstdint>
#include <string>

#include "toolbelt/config_text.h"
#include "toolbelt/settings.h"

namespace tw {

// The result of reading one key. The caller owns it and passes it in and out, so that a read
// that finds nothing leaves the value of the last read that did.
struct tXMLParam {
  std::string Value;
  bool Found = false;
};

// One read of the settings file.
struct tSettingsFile {
  enum class Result {
    kMissing,     // no plain file of that name in the executable's directory
    kRead,        // `Text` holds the file, decoded
    kUnreadable,  // it is there but could not be opened or read; `Error` says why
    kTooLarge,    // longer than kConfigFileMaxBytes: not looked at
  };
  Result Read = Result::kMissing;
  tConfigText Text;
  uint64_t Bytes = 0;  // bytes read (kRead)
  std::string Error;
};

// Reads the file `FileName` once, at most kConfigFileMaxBytes of it (a larger file is not
// held in memory), when a plain file ExePath + FileName exists; the read goes under the name
// as given (the working directory). Reports nothing. Never throws except for want of memory.
tSettingsFile ReadSettingsFile(Context& ctx, const std::string& FileName);

// Reports an unreadable settings file as FileToStr does ("toolbelt.FileToStr()", stage 3000).
void ReportUnreadableSettings(Context& ctx, const tSettingsFile& file);

// Looks up `Name` in the file `FileName`, read once with ReadSettingsFile. The file must exist in
// the executable's directory (settings.ExePath + FileName) and is read through FileToStr under the
// name as given. Found: `Value` is the text after the first opening tag up to the first closing tag
// after it, or to the end of the file when every closing tag comes before the opening tag (a pair
// counts as present when both tags occur anywhere), entities decoded. An unreadable file is
// reported as by FileToStr. Not found, missing file, too large a file or failure:
// `Found` false and `Value` untouched. A failure is reported as "toolbelt.GetParamFromXMLFile";
// nothing is thrown.
void GetParamFromXMLFile(Context& ctx, const std::string& FileName, const std::string& Name,
                         tXMLParam& Param);

// The whole file `FileName` (relative names resolve against the working directory), byte for
// byte. `Result` stays as it came in when no plain file of that name exists; it becomes empty
// when the file exists but cannot be opened or read (reported as "toolbelt.FileToStr()", stage
// 3000). Never throws.
void FileToStr(Context& ctx, const std::string& FileName, std::string& Result);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_XML_PARAM_H_
