#include "mailer/icalendar.h"

#include <libical/ical.h>

#include <cstdlib>
#include <memory>

namespace wo::ical {

namespace {

struct ComponentFree {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

icaltimezone* Zone(const std::string& name) {
  icaltimezone* z = name.empty() ? nullptr : icaltimezone_get_builtin_timezone(name.c_str());
  if (!z) throw CalendarError("unknown time zone \"" + name + "\" (not in the system's zone data)");
  return z;
}

bool IsUtc(icaltimezone* z) { return z == icaltimezone_get_utc_timezone(); }

// A wall-clock time without a zone, to the second.
icaltimetype Floating(DateTime t) {
  const DateParts p = Decode(t);
  icaltimetype tt = icaltime_null_time();
  tt.year = p.year;
  tt.month = p.month;
  tt.day = p.day;
  tt.hour = p.hour;
  tt.minute = p.minute;
  tt.second = p.second;
  tt.is_date = 0;
  return tt;
}

icaltimetype ToUtc(DateTime t, icaltimezone* zone) {
  icaltimetype tt = Floating(t);
  tt.zone = zone;
  return icaltime_convert_to_zone(tt, icaltimezone_get_utc_timezone());
}

// DTSTART or DTEND in the calendar's zone: with its TZID, or in UTC when
// the zone is UTC itself.
icalproperty* ZonedTime(icalproperty* (*make)(icaltimetype), DateTime t, icaltimezone* zone,
                        const std::string& tzid) {
  if (IsUtc(zone)) return make(ToUtc(t, zone));
  icalproperty* p = make(Floating(t));
  icalproperty_add_parameter(p, icalparameter_new_tzid(tzid.c_str()));
  return p;
}

void AddText(icalcomponent* c, icalproperty* (*make)(const char*), const std::string& v) {
  if (!v.empty()) icalcomponent_add_property(c, make(v.c_str()));
}

icalproperty* Person(icalproperty* (*make)(const char*), const std::string& address, const std::string& name) {
  icalproperty* p = make(("mailto:" + address).c_str());
  if (!name.empty()) icalproperty_add_parameter(p, icalparameter_new_cn(name.c_str()));
  return p;
}

// The zone's VTIMEZONE, its TZID the zone's own name, which is what
// calendars recognise.
Component TimeZoneComponent(icaltimezone* zone, const std::string& tzid) {
  icalcomponent* source = icaltimezone_get_component(zone);
  if (!source) throw CalendarError("no time zone data for \"" + tzid + "\"");
  Component c(icalcomponent_new_clone(source));
  icalproperty* p = icalcomponent_get_first_property(c.get(), ICAL_TZID_PROPERTY);
  if (p) icalproperty_set_tzid(p, tzid.c_str());
  return c;
}

icalproperty_method MethodOf(CalendarOptions::Method m) {
  switch (m) {
    case CalendarOptions::Method::Publish: return ICAL_METHOD_PUBLISH;
    case CalendarOptions::Method::Request: return ICAL_METHOD_REQUEST;
    case CalendarOptions::Method::Cancel: return ICAL_METHOD_CANCEL;
    case CalendarOptions::Method::None: break;
  }
  return ICAL_METHOD_NONE;
}

}  // namespace

std::string BuildCalendar(const std::vector<Event>& events, const CalendarOptions& o) {
  icaltimezone* zone = Zone(o.timeZone);
  Component cal(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
  icalcomponent_add_property(cal.get(), icalproperty_new_version("2.0"));
  icalcomponent_add_property(cal.get(), icalproperty_new_prodid("-//WebOrvane//Booking//EN"));
  icalcomponent_add_property(cal.get(), icalproperty_new_calscale("GREGORIAN"));
  if (o.method != CalendarOptions::Method::None)
    icalcomponent_add_property(cal.get(), icalproperty_new_method(MethodOf(o.method)));
  if (!o.name.empty()) {
    icalproperty* n = icalproperty_new_x(o.name.c_str());
    icalproperty_set_x_name(n, "X-WR-CALNAME");
    icalcomponent_add_property(cal.get(), n);
  }
  if (!IsUtc(zone)) icalcomponent_add_component(cal.get(), TimeZoneComponent(zone, o.timeZone).release());

  for (const Event& e : events) {
    icalcomponent* ev = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    icalcomponent_add_component(cal.get(), ev);  // owned by the calendar from here
    icalcomponent_add_property(ev, icalproperty_new_uid(e.uid.c_str()));
    icalcomponent_add_property(ev, icalproperty_new_sequence(e.sequence));
    icalcomponent_add_property(ev, icalproperty_new_dtstamp(ToUtc(e.stamp, zone)));
    icalcomponent_add_property(ev, ZonedTime(icalproperty_new_dtstart, e.start, zone, o.timeZone));
    icalcomponent_add_property(ev, ZonedTime(icalproperty_new_dtend, e.end, zone, o.timeZone));
    AddText(ev, icalproperty_new_summary, e.summary);
    AddText(ev, icalproperty_new_location, e.location);
    AddText(ev, icalproperty_new_description, e.description);
    AddText(ev, icalproperty_new_url, e.url);
    icalcomponent_add_property(
        ev, icalproperty_new_status(e.cancelled ? ICAL_STATUS_CANCELLED : ICAL_STATUS_CONFIRMED));
    icalcomponent_add_property(ev, icalproperty_new_transp(ICAL_TRANSP_OPAQUE));
    if (!e.organizer.empty())
      icalcomponent_add_property(ev, Person(icalproperty_new_organizer, e.organizer, e.organizerName));
    if (!e.attendee.empty()) {
      icalproperty* a = Person(icalproperty_new_attendee, e.attendee, e.attendeeName);
      icalproperty_add_parameter(a, icalparameter_new_role(ICAL_ROLE_REQPARTICIPANT));
      icalproperty_add_parameter(
          a, icalparameter_new_partstat(e.cancelled ? ICAL_PARTSTAT_DECLINED : ICAL_PARTSTAT_ACCEPTED));
      icalproperty_add_parameter(a, icalparameter_new_rsvp(ICAL_RSVP_FALSE));
      icalcomponent_add_property(ev, a);
    }
    if (e.cancelled) continue;  // a cancelled event rings no alarm
    for (int minutes : o.alarmMinutesBefore) {
      icalcomponent* alarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
      icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
      icaltriggertype trigger;
      trigger.time = icaltime_null_time();
      trigger.duration = icaldurationtype_from_int(-60 * minutes);
      icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
      const std::string text = o.alarmText.empty() ? e.summary : o.alarmText;
      icalcomponent_add_property(alarm, icalproperty_new_description(text.c_str()));
      icalcomponent_add_component(ev, alarm);
    }
  }
  if (icalerrno != ICAL_NO_ERROR) {
    const std::string why = icalerror_strerror(icalerrno);
    icalerror_clear_errno();
    throw CalendarError("cannot build the calendar: " + why);
  }
  char* text = icalcomponent_as_ical_string_r(cal.get());
  if (!text) throw CalendarError("cannot write the calendar");
  std::string out(text);
  std::free(text);
  return out;
}

std::string ReservationUid(const std::string& kausi, const std::string& vuoroNo, const std::string& vuoroNoSeq,
                           const std::string& asNo, const std::string& site) {
  auto part = [](const std::string& s) {
    // Blanks around a key part are padding (VuoroNo is right-aligned).
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    const std::string t = b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    std::string out;
    for (unsigned char c : t) {
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') {
        out += static_cast<char>(c);
      } else {
        static const char* hex = "0123456789ABCDEF";
        out += '_';
        out += hex[c >> 4];
        out += hex[c & 15];
      }
    }
    return out;
  };
  return "varaus." + part(kausi) + "." + part(vuoroNo) + "." + part(vuoroNoSeq) + "." + part(asNo) + "@" + site;
}

int UtcOffsetMinutes(const std::string& timeZone, DateTime t) {
  icaltimezone* zone = Zone(timeZone);
  icaltimetype tt = Floating(t);
  int daylight = 0;
  return icaltimezone_get_utc_offset(zone, &tt, &daylight) / 60;
}

}  // namespace wo::ical
