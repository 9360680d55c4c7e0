// Number texts in the regional form.
#ifndef TEMPWARDEN_TOOLBELT_NUMBERS_H_
#define TEMPWARDEN_TOOLBELT_NUMBERS_H_

#include <cstdint>
#include <string>

#include "platform/regional.h"

namespace tw {

// The general number form: shortest decimal text with up to 15 significant digits, no
// trailing zeros, the regional decimal separator; exponent form ("1E20", "1E-5") where the
// plain form would need more than 15 digits or more than four leading zeros.
// NaN and infinities give "NAN", "INF" and "-INF".
std::string FloatToStr(double value, const FormatSettings& settings);

// The formats "#,##0" (decimals 0), "#,##0.0" (1) and "#,##0.00" (2): rounded half away from
// zero, thousands grouped with the regional separator.
std::string FormatGrouped(double value, int decimals, const FormatSettings& settings);

// Decimal text with at least `digits` digits, zero-padded after any minus sign
// (-5 with 5 digits is "-00005").
std::string ZeroPadded(int64_t value, int digits);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_NUMBERS_H_
