#include "toolbelt/datetime.h"

#include <cmath>

#include "toolbelt/failure.h"

namespace tw {
namespace {

// The pattern letters are ASCII; other bytes are copied as they stand, so the locale's idea of
// their case does not matter (and std::tolower was a tenth of the formatting's time).
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// `value` in decimal, zero-padded to at least `digits` digits.
void AppendNumber(std::string* out, int value, int digits) {
  if (value < 0) {
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) < digits) text.insert(0, digits - text.size(), '0');
    *out += text;
    return;
  }
  char buffer[16];
  int n = 0;
  do {
    buffer[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (n < digits) out->append(static_cast<size_t>(digits - n), '0');
  while (n > 0) *out += buffer[--n];
}

bool StartsWithNoCase(const std::string& s, size_t at, const char* word) {
  for (size_t i = 0; word[i] != '\0'; ++i) {
    if (at + i >= s.size() || Lower(s[at + i]) != word[i]) return false;
  }
  return true;
}

// True when the pattern asks for the 12-hour clock (an AM/PM marker outside quotes).
bool HasAmPm(const std::string& p) {
  char quote = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    if (quote != 0) {
      if (p[i] == quote) quote = 0;
    } else if (p[i] == '"' || p[i] == '\'') {
      quote = p[i];
    } else if (StartsWithNoCase(p, i, "ampm") || StartsWithNoCase(p, i, "am/pm") ||
               StartsWithNoCase(p, i, "a/p")) {
      return true;
    }
  }
  return false;
}

class Formatter {
 public:
  Formatter(const CalendarTime& t, const FormatSettings& s) : t_(t), s_(s) {}

  void Run(const std::string& p, int depth) {
    // Locale formats may name each other ("c" inside a short date); stop after two levels.
    if (depth > 2) return;
    const bool twelve_hour = HasAmPm(p);
    bool last_was_hour = false;
    size_t i = 0;
    while (i < p.size()) {
      const char c = p[i];
      const char lc = Lower(c);
      size_t count = 1;
      while (i + count < p.size() && Lower(p[i + count]) == lc) ++count;
      bool hour_token = false;
      switch (lc) {
        case '"':
        case '\'': {
          const size_t end = p.find(c, i + 1);
          out_ += p.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
          i = end == std::string::npos ? p.size() : end + 1;
          continue;
        }
        case 'y':
          if (count <= 2) {
            AppendNumber(&out_, t_.year % 100, 2);
          } else {
            AppendNumber(&out_, t_.year, 4);
          }
          break;
        case 'm':
          if (last_was_hour && count <= 2) {
            AppendNumber(&out_, t_.minute, static_cast<int>(count));
          } else if (count <= 2) {
            AppendNumber(&out_, t_.month, static_cast<int>(count));
          } else {
            out_ +=
                count == 3 ? s_.short_month_names[t_.month - 1] : s_.long_month_names[t_.month - 1];
          }
          break;
        case 'd':
          if (count <= 2) {
            AppendNumber(&out_, t_.day, static_cast<int>(count));
          } else if (count <= 4) {
            const int dow = DayOfWeek(t_);
            out_ += count == 3 ? s_.short_day_names[dow] : s_.long_day_names[dow];
          } else {
            Run(s_.short_date_format, depth + 1);
          }
          break;
        case 'h': {
          int hour = t_.hour;
          if (twelve_hour) hour = hour % 12 == 0 ? 12 : hour % 12;
          AppendNumber(&out_, hour, count >= 2 ? 2 : 1);
          hour_token = true;
          break;
        }
        case 'n':
          AppendNumber(&out_, t_.minute, count >= 2 ? 2 : 1);
          break;
        case 's':
          AppendNumber(&out_, t_.second, count >= 2 ? 2 : 1);
          break;
        case 'z':
          AppendNumber(&out_, t_.millisecond, count >= 3 ? 3 : static_cast<int>(count));
          break;
        case 't':
          Run(count == 1 ? std::string("hh:nn") : s_.long_time_format, depth + 1);
          break;
        case 'c':
          Run(s_.short_date_format, depth + 1);
          if (t_.hour != 0 || t_.minute != 0 || t_.second != 0 || t_.millisecond != 0) {
            out_ += ' ';
            Run(s_.long_time_format, depth + 1);
          }
          count = 1;
          break;
        case 'a':
          count = AmPm(p, i);
          break;
        case '/':
          out_ += s_.date_separator;
          count = 1;
          break;
        case ':':
          out_ += s_.time_separator;
          count = 1;
          break;
        default:
          out_.append(p, i, count);
          break;
      }
      last_was_hour = hour_token || (last_was_hour && (lc == ' ' || lc == ':'));
      i += count;
    }
  }

  const std::string& out() const { return out_; }

 private:
  // Writes the AM/PM marker at p[i]; returns how many pattern characters it used.
  size_t AmPm(const std::string& p, size_t i) {
    const bool pm = t_.hour >= 12;
    if (StartsWithNoCase(p, i, "ampm")) {
      out_ += pm ? s_.time_pm : s_.time_am;
      return 4;
    }
    if (StartsWithNoCase(p, i, "am/pm")) {
      const bool upper = p[i] == 'A';
      out_ += pm ? (upper ? "PM" : "pm") : (upper ? "AM" : "am");
      return 5;
    }
    if (StartsWithNoCase(p, i, "a/p")) {
      const bool upper = p[i] == 'A';
      out_ += pm ? (upper ? 'P' : 'p') : (upper ? 'A' : 'a');
      return 3;
    }
    out_ += p[i];
    return 1;
  }

  const CalendarTime& t_;
  const FormatSettings& s_;
  std::string out_;
};

}  // namespace

CalendarTime DecodeOrThrow(TDateTime value) {
  CalendarTime t;
  if (!DecodeDateTime(value, &t)) {
    throw Fault("EConvertError", "Invalid argument to date encode");
  }
  return t;
}

std::string FormatDateTime(const std::string& pattern, TDateTime value,
                           const FormatSettings& settings) {
  const CalendarTime t = DecodeOrThrow(value);
  Formatter f(t, settings);
  f.Run(pattern, 0);
  return f.out();
}

TDateTime EncodeDateTimeOrThrow(int year, int month, int day, int hour, int minute, int second,
                                int millisecond) {
  CalendarTime t{year, month, day, hour, minute, second, millisecond};
  TDateTime out = 0;
  if (!EncodeDateTime(t, &out)) throw Fault("EConvertError", "Invalid argument to date encode");
  return out;
}

TDateTime EncodeDate(int year, int month, int day) {
  return EncodeDateTimeOrThrow(year, month, day, 0, 0, 0, 0);
}

}  // namespace tw
