#include "toolbelt/number_text.h"

#include <charconv>
#include <cmath>

namespace tw {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Checks the floating-point form and builds the same number in the form std::from_chars reads
// ("." as the decimal mark, no blanks, no "+"), which does not depend on the C locale.
bool ScanFloat(const std::string& text, char separator, std::string* plain) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') *plain += '-';
    ++i;
  }
  bool mantissa = false;
  while (i < n && IsDigit(text[i])) {
    *plain += text[i++];
    mantissa = true;
  }
  if (i < n && text[i] == separator) {
    *plain += '.';
    ++i;
    mantissa = true;
    while (i < n && IsDigit(text[i])) *plain += text[i++];
  }
  if (!mantissa) return false;
  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    *plain += 'e';
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) *plain += text[i++];
    bool exponent = false;
    while (i < n && IsDigit(text[i])) {
      *plain += text[i++];
      exponent = true;
    }
    if (!exponent) return false;
  }
  while (i < n && text[i] == ' ') ++i;
  return i == n;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool IsNumeric(Context& ctx, const std::string& text) {
  std::string plain;
  return ScanFloat(text, ctx.fmt().decimal_separator, &plain);
}

bool TryStrToFloat(Context& ctx, const std::string& text, double* value) {
  try {
    std::string plain;
    if (text.empty() || !ScanFloat(text, ctx.fmt().decimal_separator, &plain)) return false;
    double parsed = 0;
    const char* end = plain.data() + plain.size();
    const auto result = std::from_chars(plain.data(), end, parsed);
    // A lone separator ("." or "-.") passes the form but is no number; out-of-range
    // exponents fail here too.
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(parsed)) return false;
    *value = parsed == 0 ? 0 : parsed;  // no negative zero in texts written from it later
    return true;
  } catch (...) {
    return false;
  }
}

double SafeStrToFloat(Context& ctx, const std::string& text) {
  double value = 0;
  return TryStrToFloat(ctx, text, &value) ? value : 0;
}

int32_t StrToIntDef(const std::string& text, int32_t default_value) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool hex = false;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == n) return default_value;
  uint64_t magnitude = 0;
  for (; i < n; ++i) {
    const int digit = hex ? HexValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
    if (digit < 0) return default_value;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (magnitude > 0xFFFFFFFFull) return default_value;
  }
  if (hex) {
    const uint32_t bits = static_cast<uint32_t>(magnitude);
    return static_cast<int32_t>(negative ? 0u - bits : bits);
  }
  if (magnitude > (negative ? 2147483648ull : 2147483647ull)) return default_value;
  const int64_t value =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return static_cast<int32_t>(value);
}

}  // namespace tw
