// Conversion of POSIX locale formats (strftime directives) into the service's date and time
// patterns. Exposed for tests.
#ifndef TEMPWARDEN_PLATFORM_REGIONAL_POSIX_H_
#define TEMPWARDEN_PLATFORM_REGIONAL_POSIX_H_

#include <string>

namespace tw {

// Turns a strftime format ("%d.%m.%Y", "%r") into a pattern ("dd/mm/yyyy" with '.' as the
// separator, "hh:nn:ss ampm"). The first literal punctuation character becomes `*separator`
// (untouched when there is none) and is written as `sep_symbol` ('/' for dates, ':' for
// times). `ampm_format` expands "%r". Literal text that holds letters is quoted.
std::string StrftimeToPattern(const std::string& format, const std::string& ampm_format,
                              char sep_symbol, char* separator);

}  // namespace tw

#endif  // TEMPWARDEN_PLATFORM_REGIONAL_POSIX_H_
