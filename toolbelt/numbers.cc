#include "toolbelt/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tw {
namespace {

std::string NonFinite(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

}  // namespace

std::string FloatToStr(double value, const FormatSettings& settings) {
  if (!std::isfinite(value)) return NonFinite(value);
  char buffer[64];
  // to_chars is independent of the C locale, so only the regional separator is ever used.
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string text(buffer, result.ptr);
  const size_t e = text.find('e');
  std::string mantissa = e == std::string::npos ? text : text.substr(0, e);
  std::string exponent;
  if (e != std::string::npos) {
    const int exp = std::atoi(text.c_str() + e + 1);
    exponent = "E" + std::to_string(exp);
  }
  if (mantissa.find('.') != std::string::npos) {
    while (!mantissa.empty() && mantissa.back() == '0') mantissa.pop_back();
    if (!mantissa.empty() && mantissa.back() == '.') mantissa.pop_back();
  }
  if (mantissa == "-0") mantissa = "0";
  const size_t dot = mantissa.find('.');
  if (dot != std::string::npos) mantissa[dot] = settings.decimal_separator;
  return mantissa + exponent;
}

std::string FormatGrouped(double value, int decimals, const FormatSettings& settings) {
  if (!std::isfinite(value)) return NonFinite(value);
  if (decimals < 0) decimals = 0;
  if (decimals > 15) decimals = 15;
  // Round half away from zero once, on the exact decimal expansion of the double: every
  // double's fraction ends within kExactDigits places, so the digit after the last one kept
  // decides alone (2.5 gives 3, 26.04996 gives 26.0, not 26.05 and then 26.1). A first
  // rounding to fewer places could carry into that digit.
  constexpr int kExactDigits = 1074;
  char buffer[310 + 1 + kExactDigits + 8];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::fixed, kExactDigits);
  // Only the digits up to the deciding one are needed from here on.
  const char* end = result.ptr;
  const char* dot_at = std::find(static_cast<const char*>(buffer), end, '.');
  const size_t keep =
      std::min<size_t>(static_cast<size_t>(end - dot_at), static_cast<size_t>(decimals) + 2);
  std::string digits(static_cast<const char*>(buffer), dot_at + keep);
  const size_t dot = digits.find('.');
  std::string whole = digits.substr(0, dot);
  std::string frac = dot == std::string::npos ? std::string() : digits.substr(dot + 1);
  frac.resize(static_cast<size_t>(decimals) + 3, '0');
  const bool round_up = frac[static_cast<size_t>(decimals)] >= '5';
  frac.resize(static_cast<size_t>(decimals));
  std::string number = whole + frac;
  if (round_up) {
    int i = static_cast<int>(number.size()) - 1;
    while (i >= 0 && number[static_cast<size_t>(i)] == '9') number[static_cast<size_t>(i--)] = '0';
    if (i < 0) {
      number.insert(0, "1");
    } else {
      ++number[static_cast<size_t>(i)];
    }
  }
  whole = number.substr(0, number.size() - static_cast<size_t>(decimals));
  frac = number.substr(number.size() - static_cast<size_t>(decimals));
  std::string grouped;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped += settings.thousand_separator;
    grouped += whole[i];
  }
  const bool zero = number.find_first_not_of('0') == std::string::npos;
  std::string text = (value < 0 && !zero ? "-" : "") + grouped;
  if (decimals > 0) text += settings.decimal_separator + frac;
  return text;
}

std::string ZeroPadded(int64_t value, int digits) {
  const bool negative = value < 0;
  // Work on the unsigned magnitude so the lowest int64 does not overflow.
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string text = std::to_string(magnitude);
  if (static_cast<int>(text.size()) < digits)
    text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
  return negative ? "-" + text : text;
}

}  // namespace tw
