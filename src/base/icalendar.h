// iCalendar files (RFC 5545), built with libical: the attachment of the
// booking and cancellation mails, the calendar feeds and the single-event
// downloads. libical is loaded at the first calendar a process builds, so
// that a program that links this file starts as fast as one that does not.
// Event times are the site's wall-clock times, as the slots store them;
// the file names the site's time zone and carries its VTIMEZONE, so a
// calendar anywhere shows the slot at the right moment.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "base/datetime.h"

namespace wo::ical {

// A time zone that the system's zone data lacks, or an event libical
// refuses.
class CalendarError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A display alarm, `minutesBefore` the event's start, showing `text`
// (UTF-8; the event's summary when empty).
struct Alarm {
  int minutesBefore = 0;
  std::string text;
};

struct Event {
  // Stable for the thing the event stands for (ReservationUid): a later
  // file with the same UID and a higher sequence updates or cancels it.
  std::string uid;
  int sequence = 0;
  DateTime start = 0, end = 0;  // wall-clock times of the calendar's zone
  DateTime stamp = 0;           // when this version was made, wall clock of that zone
  // UTF-8 texts; empty ones are left out.
  std::string summary, location, description, url;
  bool cancelled = false;  // STATUS:CANCELLED, otherwise CONFIRMED
  // mailto: addresses of an invitation (METHOD:REQUEST or CANCEL wants
  // both); empty: left out.
  std::string organizer, organizerName, attendee, attendeeName;
  // This event's own alarms, after those of the calendar's options.
  std::vector<Alarm> alarms;
};

struct CalendarOptions {
  // METHOD of the calendar: none for a file to import or subscribe to;
  // Request and Cancel for the attachment of an invitation mail (RFC 5546).
  enum class Method { None, Publish, Request, Cancel } method = Method::None;
  std::string timeZone = "Europe/Helsinki";  // a zone of the system's zone data
  // One display alarm per entry, that many minutes before each event's start.
  std::vector<int> alarmMinutesBefore;
  std::string alarmText;  // the alarms' description (UTF-8); the summary when empty
  std::string name;       // X-WR-CALNAME, for a feed; left out when empty
};

// One VCALENDAR with the VTIMEZONE of options.timeZone and a VEVENT per
// event, as UTF-8 text with CRLF line ends and folded lines. Throws
// CalendarError for an unknown time zone, and when libical cannot be
// loaded.
std::string BuildCalendar(const std::vector<Event>& events, const CalendarOptions& options);

// The UID of a reservation: its season, slot number and sequence and the
// customer number, then "@" and `site` (the site's host name). Each part
// keeps its letters, digits and "-"; every other byte is written as "_XX"
// in hexadecimal, so that different keys never give the same UID.
std::string ReservationUid(const std::string& kausi, const std::string& vuoroNo, const std::string& vuoroNoSeq,
                           const std::string& asNo, const std::string& site);

// The offset of the zone from UTC, in minutes, at wall-clock time `t` of
// that zone (+120 for Helsinki in winter). Throws CalendarError for an
// unknown zone.
int UtcOffsetMinutes(const std::string& timeZone, DateTime t);

}  // namespace wo::ical
