// Dates and times as the pages and the database write them, across the
// whole range of years the calendar stores.
#include <gtest/gtest.h>

#include "base/datetime.h"
#include "base/format.h"

namespace wo {
namespace {

TEST(Formats, DatesAndTimesAreZeroPadded) {
  struct Case {
    int y, mo, d, h, mi;
    const char* sep;
    const char* date;
    const char* time;
    const char* stored;
  };
  const Case cases[] = {
      {2024, 1, 5, 8, 3, ":", "05.01.2024", "08:03", "2024-01-05 08:03:00"},
      {1, 12, 31, 0, 0, ".", "31.12.0001", "00.00", "0001-12-31 00:00:00"},
      {999, 10, 10, 23, 59, "", "10.10.0999", "2359", "0999-10-10 23:59:00"},
      {9999, 12, 31, 10, 45, " h ", "31.12.9999", "10 h 45", "9999-12-31 10:45:00"},
      {10000, 1, 2, 7, 5, ":", "02.01.10000", "07:05", "10000-01-02 07:05:00"},
  };
  for (const Case& c : cases) {
    const DateTime t = EncodeDate(c.y, c.mo, c.d) + EncodeTime(c.h, c.mi, 0);
    EXPECT_EQ(FormatDate(t), c.date);
    EXPECT_EQ(FormatTime(t, c.sep), c.time);
    EXPECT_EQ(FormatDateTimeShort(t, c.sep), std::string(c.date) + " " + c.time);
    EXPECT_EQ(ToStoredDateTime(t), c.stored);
    std::string span = "<td>";
    AppendTimeSpan(span, t, t + EncodeTime(0, 1, 0), c.sep);
    EXPECT_EQ(span, "<td>" + std::string(c.time) + "-" + FormatTime(t + EncodeTime(0, 1, 0), c.sep));
  }
}

// A date-time's day is the day its calendar date names, also where the
// time rounds up to the next day's midnight and before 30.12.1899.
TEST(Formats, DateOfIsTheDayOfTheDecodedDate) {
  const DateTime lastMs = EncodeTime(23, 59, 59, 999);
  const DateTime cases[] = {0,
                            EncodeDate(2024, 2, 29) + EncodeTime(12, 0, 0),
                            EncodeDate(2024, 2, 29) + lastMs,
                            EncodeDate(2024, 2, 29) + lastMs + 0.6 / 86400000,  // rounds to 1 March
                            EncodeDate(1899, 12, 29) + EncodeTime(6, 0, 0),
                            EncodeDate(1, 1, 1) + EncodeTime(0, 0, 1),
                            EncodeDate(9999, 12, 31) + lastMs};
  for (const DateTime t : cases) {
    const DateParts p = Decode(t);
    EXPECT_EQ(DateOf(t), EncodeDate(p.year, p.month, p.day)) << t;
    std::string shown;
    AppendDateTimeShort(shown, t, ":");
    EXPECT_EQ(shown, FormatDateTimeShort(t, ":"));
  }
}

}  // namespace
}  // namespace wo
