// How dates, times and amounts read on a page. The separators are the
// site's (INI [Site] TimeSeparator and DecimalSeparator), passed by the
// caller; nothing here keeps any.
#pragma once

#include <string>
#include <string_view>

#include "base/datetime.h"

namespace wo {

// "dd.mm.yyyy".
std::string FormatDate(DateTime t);
// "hh:nn" with `timeSep` between the hour and the minute.
std::string FormatTime(DateTime t, std::string_view timeSep = ":");
// FormatTime(from) "-" FormatTime(to) appended to `out`.
void AppendTimeSpan(std::string& out, DateTime from, DateTime to, std::string_view timeSep = ":");
// "dd.mm.yyyy hh:nn".
std::string FormatDateTimeShort(DateTime t, std::string_view timeSep = ":");
// FormatTime and FormatDateTimeShort appended to `out`.
void AppendTime(std::string& out, DateTime t, std::string_view timeSep = ":");
void AppendDateTimeShort(std::string& out, DateTime t, std::string_view timeSep = ":");

// The Finnish name of a day of the week, 1 = "Sunnuntai" ... 7 =
// "Lauantai" (DayOfWeek's numbering); "Tuntematon" for any other number.
std::string FinnishWeekdayName(int day);

// Amounts of money are whole cents: `v` rounded to two decimals, halves
// away from zero (a half cent that the binary form holds a hair below,
// as in 0.285, counts as a half). Never -0. The booking rounds every fee,
// balance and limit with it where they are compared or stored.
double RoundCents(double v);

// printf("%10.2f") of RoundCents(v) with `decimalSep` for the point (so
// "-0.00" never shows).
std::string FormatAmount10_2(double v, std::string_view decimalSep);

}  // namespace wo
