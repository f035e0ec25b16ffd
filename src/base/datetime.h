// Date-time values: a day count with the time of day as the fraction, day 0
// being 30 December 1899 (so 1.5 is noon on 31 December 1899). Durations and
// times of day ("time" fields) are fractions of a day. The conversions
// between this form, calendar fields and stored text live here; how a
// date or a time reads on a page is base/format.h.
#pragma once

#include <string>
#include <string_view>

namespace wo {

using DateTime = double;

constexpr double kSecondsPerDay = 86400.0;

struct DateParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, msec = 0;
};

// True for a valid Gregorian date (years 1..9999).
bool IsValidDate(int year, int month, int day);

// REQUIRES: IsValidDate(year, month, day).
DateTime EncodeDate(int year, int month, int day);
// A time of day (or duration) as a fraction of a day.
double EncodeTime(int hour, int minute, int second, int msec = 0);

// Calendar fields of a date-time, rounded to the nearest millisecond.
DateParts Decode(DateTime t);

// The date part (midnight) of t.
DateTime DateOf(DateTime t);

// Day of the week, 1 = Sunday ... 7 = Saturday.
int DayOfWeek(DateTime t);

// The current local date-time of the system clock.
DateTime Now();
// Where a request reads the time (RequestContext::Now); Now unless a test
// says otherwise.
using Clock = DateTime (*)();

// Writes the last `width` decimal digits of `v` at `p`, zero-padded: the
// digits of a date or time without printf. REQUIRES: v >= 0.
void PutDigits(char* p, int v, int width);

// Stored forms: "YYYY-MM-DD HH:MM:SS" and "HH:MM:SS" (whole seconds).
std::string ToStoredDateTime(DateTime t);
std::string ToStoredTime(double dayFraction);
// Parse the stored forms; a date alone ("YYYY-MM-DD") and a time with
// fractional seconds are accepted as well. Returns false when `s` is not one.
bool ParseStoredDateTime(std::string_view s, DateTime& out);
bool ParseStoredTime(std::string_view s, double& out);

}  // namespace wo
