#include "toolbelt/text_time.h"

#include <cstdlib>

#include "toolbelt/datetime.h"
#include "toolbelt/failure.h"
#include "toolbelt/numbers.h"

namespace tw {

std::string Between(Context& ctx, const std::string& text, const std::string& start_marker,
                    const std::string& end_marker) {
  std::string result;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.Between", trace, [&] {
    size_t from = 0;
    if (!start_marker.empty()) {
      const size_t at = text.find(start_marker);
      if (at == std::string::npos) return;
      from = at + start_marker.size();
    }
    size_t to = std::string::npos;
    if (!end_marker.empty()) to = text.find(end_marker, from);
    result = text.substr(from, to == std::string::npos ? std::string::npos : to - from);
  });
  return result;
}

std::string BooleanTStr(Context& ctx, bool flag, const std::string& if_true,
                        const std::string& if_false) {
  std::string result;
  const int32_t trace = 0;
  if (!Guarded(ctx, "toolbelt.BooleanTStr", trace, [&] { result = flag ? if_true : if_false; })) {
    result = "Exception";
  }
  return result;
}

std::string FormattedTime(Context& ctx, TDateTime value) {
  std::string result;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.FormattedTime", trace, [&] {
    const TDateTime when = value == -1 ? ctx.env.clock->Now() : value;
    result = FormatDateTime("hh:nn:ss.zzz", when, ctx.fmt());
  });
  return result;
}

std::string StringOfString(Context& ctx, TDateTime value) {
  std::string result;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.StringOfString", trace, [&] {
    if (value == 0) return;
    const CalendarTime t = DecodeOrThrow(value);
    std::string text = FormatDateTime(ctx.fmt().short_date_format, value, ctx.fmt());
    if (t.hour != 0 || t.minute != 0 || t.second != 0) {
      text += " " + FormatDateTime(ctx.fmt().long_time_format, value, ctx.fmt());
    }
    result = text;
  });
  return result;
}

std::string DateTimeToStr(Context& ctx, TDateTime value) {
  std::string result;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.DateTimeToStr", trace,
          [&] { result = FormatDateTime("c", value, ctx.fmt()); });
  return result;
}

std::string DateTimeToRFC822(Context& ctx, int32_t zone, TDateTime value) {
  std::string result;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.DateTimeToRFC822", trace, [&] {
    const int64_t magnitude = std::llabs(static_cast<int64_t>(zone));
    const std::string zone_text = (zone < 0 ? "-" : "+") + ZeroPadded(magnitude, 4);
    // Mail headers need English names and colons whatever the account's regional settings;
    // they are used for this text only, so file names elsewhere keep the regional names.
    FormatSettings rfc = FormatSettings::English();
    rfc.time_separator = ':';
    result = FormatDateTime("ddd, d mmm yyyy hh:nn:ss ", value, rfc) + zone_text;
  });
  return result;
}

TDateTime LocalTimeToGMT(Context& ctx, TDateTime local) {
  TDateTime result = 0;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.LocalTimeToGMT", trace, [&] {
    const CalendarTime fields = DecodeOrThrow(local);
    CalendarTime utc;
    if (!ctx.env.clock->LocalToUtc(fields, &utc)) {
      result = local;
      return;
    }
    result = EncodeDateTimeOrThrow(utc.year, utc.month, utc.day, utc.hour, utc.minute, utc.second,
                                   utc.millisecond);
  });
  return result;
}

int32_t Year(Context& ctx, TDateTime value) {
  int32_t result = 0;
  const int32_t trace = 0;
  Guarded(ctx, "toolbelt.Year", trace, [&] { result = DecodeOrThrow(value).year; });
  return result;
}

}  // namespace tw
