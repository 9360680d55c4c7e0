// Reading the value column of a history row back. Stricter than SafeStrToFloat: a row whose
// value is no finite number with at least one digit is no sample at all (not a 0).
#ifndef TEMPWARDEN_UPS_READ_NUMBER_H_
#define TEMPWARDEN_UPS_READ_NUMBER_H_

#include <string>

#include "toolbelt/settings.h"

namespace tw {

// True, with `*value` set, when `text` is a number in the configuration file's form: optional
// spaces, an optional sign, digits with at most one regional decimal separator, an optional
// exponent, optional spaces, nothing else. No thousands separators, no other decimal mark.
// Never throws.
bool ReadRegionalNumber(const Context& ctx, const std::string& text, double* value);

}  // namespace tw

#endif  // TEMPWARDEN_UPS_READ_NUMBER_H_
