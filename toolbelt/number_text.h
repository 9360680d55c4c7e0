// Reading numbers back from text: configuration values and SNMP answers.
#ifndef TEMPWARDEN_TOOLBELT_NUMBER_TEXT_H_
#define TEMPWARDEN_TOOLBELT_NUMBER_TEXT_H_

#include <cstdint>
#include <string>

#include "toolbelt/settings.h"

namespace tw {

// True when `text` is a floating-point number in this form: optional blanks (spaces only), an
// optional "+" or "-", digits, at most one regional decimal separator followed by digits,
// optionally "E" or "e" with an optional sign and at least one digit, optional blanks, and
// nothing else. At least one digit or the separator must be there. Thousands separators and
// any other decimal mark (a "." where the regional separator is ",") make it invalid.
bool IsNumeric(Context& ctx, const std::string& text);

// The number `text` denotes when IsNumeric accepts it; 0 for empty or invalid text and for
// text whose value lies outside the double range. Never throws, never reports.
double SafeStrToFloat(Context& ctx, const std::string& text);

// True, with `*value` set, when `text` is in IsNumeric's form and denotes a finite number (a
// lone separator does not). What SafeStrToFloat gives without the fallback to 0, for callers
// that must tell "0" from "no number". Never throws.
bool TryStrToFloat(Context& ctx, const std::string& text, double* value);

// The integer rule of the configuration file: optional leading blanks (spaces), an optional
// sign, then decimal digits, or hexadecimal digits introduced by "$", "x" or "0x" (either case
// of the x). Decimal values must fit a signed 32-bit number; hexadecimal ones may use all 32
// bits ("$FFFFFFFF" is -1). Anything else, trailing blanks and line breaks included, gives
// `default_value`.
int32_t StrToIntDef(const std::string& text, int32_t default_value);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_NUMBER_TEXT_H_
