// Small text and time operations used everywhere: cutting a value out of a text, choosing a
// text, and formatting and converting date-times. None raises to its caller; after a caught
// failure (an invalid date-time, say) they report it and return the empty text or 0.
#ifndef TEMPWARDEN_TOOLBELT_TEXT_TIME_H_
#define TEMPWARDEN_TOOLBELT_TEXT_TIME_H_

#include <cstdint>
#include <string>

#include "toolbelt/settings.h"

namespace tw {

// The text between the first `start_marker` (the beginning when empty) and the first
// `end_marker` after it (the end when empty or absent); empty when the start marker is absent.
std::string Between(Context& ctx, const std::string& text, const std::string& start_marker,
                    const std::string& end_marker);

std::string BooleanTStr(Context& ctx, bool flag, const std::string& if_true,
                        const std::string& if_false);

// The time of day as "hh:nn:ss.zzz"; -1 means now.
std::string FormattedTime(Context& ctx, TDateTime value);

// Short date, then a blank and the long time unless hour, minute and second are all zero;
// empty for 0.
std::string StringOfString(Context& ctx, TDateTime value);

// The date-time text of messages: the short date, then a blank and the long time unless the
// time is exactly midnight. 0 gives the date of day 0 (30 December 1899).
std::string DateTimeToStr(Context& ctx, TDateTime value);

// "Mon, 5 Feb 2024 13:04:05 +0000": English names and ":" whatever the regional settings.
// `zone` is hours*100+minutes; the date-time is not converted.
std::string DateTimeToRFC822(Context& ctx, int32_t zone, TDateTime value);

// The UTC date-time of a local one, by the zone rule in force on that date. A date the
// platform cannot convert comes back unchanged.
TDateTime LocalTimeToGMT(Context& ctx, TDateTime local);

int32_t Year(Context& ctx, TDateTime value);

}  // namespace tw

#endif  // TEMPWARDEN_TOOLBELT_TEXT_TIME_H_
