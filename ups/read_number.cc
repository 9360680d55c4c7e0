#include "ups/read_number.h"

#include <charconv>
#include <cmath>

namespace tw {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Checks the form and rewrites the number the way std::from_chars reads it ("." as the mark,
// no blanks, no "+"), which keeps the C locale out of it.
bool Normalise(const std::string& text, char separator, std::string* plain) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') *plain += '-';
    ++i;
  }
  bool digits = false;
  while (i < n && IsDigit(text[i])) {
    *plain += text[i++];
    digits = true;
  }
  if (i < n && text[i] == separator) {
    *plain += '.';
    ++i;
    while (i < n && IsDigit(text[i])) {
      *plain += text[i++];
      digits = true;
    }
  }
  if (!digits) return false;
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

}  // namespace

bool ReadRegionalNumber(const Context& ctx, const std::string& text, double* value) {
  try {
    std::string plain;
    if (!Normalise(text, ctx.fmt().decimal_separator, &plain)) return false;
    double parsed = 0;
    const char* end = plain.data() + plain.size();
    const auto result = std::from_chars(plain.data(), end, parsed);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(parsed)) return false;
    *value = parsed == 0 ? 0 : parsed;  // no "-0" in the files written from it
    return true;
  } catch (...) {
    return false;
  }
}


}  // namespace tw
