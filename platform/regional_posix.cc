#include "platform/regional_posix.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstring>

#include "platform/regional.h"

namespace tw {
namespace {

const char* Directive(char c, const std::string& ampm_format, std::string* scratch) {
  switch (c) {
    case 'd':
      return "dd";
    case 'e':
      return "d";
    case 'm':
      return "mm";
    case 'Y':
      return "yyyy";
    case 'y':
      return "yy";
    case 'b':
    case 'h':
      return "mmm";
    case 'B':
      return "mmmm";
    case 'a':
      return "ddd";
    case 'A':
      return "dddd";
    case 'H':
    case 'I':
      return "hh";
    case 'k':
    case 'l':
      return "h";
    case 'M':
      return "nn";
    case 'S':
      return "ss";
    case 'p':
    case 'P':
      return "ampm";
    case 'T':
      return "hh:nn:ss";
    case 'R':
      return "hh:nn";
    case 'D':
      return "mm/dd/yy";
    case 'F':
      return "yyyy-mm-dd";
    case 'n':
    case 't':
      return " ";
    case '%':
      return "%";
    case 'r': {
      char unused = 0;
      *scratch =
          StrftimeToPattern(ampm_format.empty() ? "%I:%M:%S %p" : ampm_format, "", ':', &unused);
      return scratch->c_str();
    }
    default:
      return "";
  }
}

}  // namespace

std::string StrftimeToPattern(const std::string& format, const std::string& ampm_format,
                              char sep_symbol, char* separator) {
  std::string out;
  std::string literal;
  bool have_separator = false;
  auto flush_literal = [&] {
    if (literal.empty()) return;
    bool letters = false;
    for (unsigned char c : literal) letters = letters || std::isalpha(c) || c >= 0x80;
    out += letters ? "\"" + literal + "\"" : literal;
    literal.clear();
  };
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '%' && i + 1 < format.size()) {
      char d = format[++i];
      while ((d == 'E' || d == 'O' || d == '-' || d == '_' || d == '0' || d == '^' || d == '#') &&
             i + 1 < format.size()) {
        d = format[++i];
      }
      flush_literal();
      std::string scratch;
      out += Directive(d, ampm_format, &scratch);
      if (d == 'r' && !have_separator) {
        // "%r" stands for the locale's 12-hour format; its separator is the time separator.
        char nested = 0;
        StrftimeToPattern(ampm_format.empty() ? "%I:%M:%S %p" : ampm_format, "", ':', &nested);
        if (nested != 0) {
          have_separator = true;
          *separator = nested;
        }
      }
    } else if (std::ispunct(static_cast<unsigned char>(c)) && c != '"' && c != '\'' &&
               (!have_separator || c == *separator)) {
      flush_literal();
      have_separator = true;
      *separator = c;
      out += sep_symbol;
    } else {
      literal += c;
    }
  }
  flush_literal();
  return out;
}

namespace {

class PosixRegional : public Regional {
 public:
  PosixRegional() : settings_(FormatSettings::English()) {
    // Under the plain C locale (no language configured) the English settings stand, as on
    // a default English Windows installation.
    // A private locale object: the process-wide C locale stays "C", so the number conversions
    // of the C library keep their "." whatever the account's language.
    locale_t loc = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return;
    const char* lang = getenv("LC_ALL");
    if (lang == nullptr || *lang == '\0') lang = getenv("LC_TIME");
    if (lang == nullptr || *lang == '\0') lang = getenv("LANG");
    const bool plain_c = lang == nullptr || *lang == '\0' || std::strcmp(lang, "C") == 0 ||
                         std::strcmp(lang, "POSIX") == 0 || std::strncmp(lang, "C.", 2) == 0;
    if (!plain_c) Load(loc);
    freelocale(loc);
  }

  const FormatSettings& Settings() override { return settings_; }

 private:
  void Load(locale_t loc) {
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    if (radix != nullptr && std::strlen(radix) == 1) settings_.decimal_separator = radix[0];
    settings_.thousand_separator = nl_langinfo_l(THOUSEP, loc);
    const std::string ampm = nl_langinfo_l(T_FMT_AMPM, loc);
    settings_.short_date_format =
        StrftimeToPattern(nl_langinfo_l(D_FMT, loc), ampm, '/', &settings_.date_separator);
    settings_.long_time_format =
        StrftimeToPattern(nl_langinfo_l(T_FMT, loc), ampm, ':', &settings_.time_separator);
    settings_.time_am = nl_langinfo_l(AM_STR, loc);
    settings_.time_pm = nl_langinfo_l(PM_STR, loc);
    for (int i = 0; i < 7; ++i) {
      settings_.short_day_names[i] = nl_langinfo_l(static_cast<nl_item>(ABDAY_1 + i), loc);
      settings_.long_day_names[i] = nl_langinfo_l(static_cast<nl_item>(DAY_1 + i), loc);
    }
    for (int i = 0; i < 12; ++i) {
      settings_.short_month_names[i] = nl_langinfo_l(static_cast<nl_item>(ABMON_1 + i), loc);
      settings_.long_month_names[i] = nl_langinfo_l(static_cast<nl_item>(MON_1 + i), loc);
    }
  }

  FormatSettings settings_;
};

}  // namespace

std::unique_ptr<Regional> NewSystemRegional() { return std::make_unique<PosixRegional>(); }

}  // namespace tw
