// Reading settings out of the XML-like configuration file by plain text search.
//
// The file is not parsed as XML: a setting is the text between the first "<Key>" and the first
// "</Key>" after it, found by exact, case-sensitive search. Nothing is trimmed. The file is
// read anew for every key; the reader keeps no state.
#ifndef TEMPWARDEN_TOOLBELT_XML_PARAM_H_
#define TEMPWARDEN_TOOLBELT_XML_PARAM_H_

#include <string>

#include "toolbelt/settings.h"

namespace tw {

// The result of reading one key. The caller owns it and passes it in and out, so that a read
// that finds nothing leaves the value of the last read that did.
struct tXMLParam {
  std::string Value;
  bool Found = false;
};

// Looks up `Name` in the file `FileName`. The file must exist in the executable's directory
// (settings.ExePath + FileName) and is read through FileToStr under the name as given.
// Found: `Value` is the text after the first opening tag up to the first closing tag after it,
// or to the end of the file when every closing tag comes before the opening tag (a pair
// counts as present when both tags occur anywhere). Not found, missing file or failure:
// `Found` false and `Value` untouched. A failure is reported as "toolbelt.GetParamFromXMLFile";
// nothing is thrown.
void GetParamFromXMLFile(Context& ctx, const std::string& FileName, const std::string& Name,
                         tXMLParam& Param);

// The same search in a file's text read before (empty text: not found). For a caller that
// looks up many keys of one file at once. Never throws but for lack of memory.
void GetParamFromXMLText(const std::string& text, const std::string& Name, tXMLParam& Param);

// The whole file `FileName` (relative names resolve against the working directory), byte for
// byte. `Result` stays as it came in when no plain file of that name exists; it becomes empty
// when the file exists but cannot be opened or read (reported as "toolbelt.FileToStr()", stage
// 3000). Never throws.
void FileToStr(Context& ctx, const std::string& FileName, std::string& Result);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_XML_PARAM_H_
