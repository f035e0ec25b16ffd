#include "base/icalendar.h"

#include <dlfcn.h>
#include <libical/ical.h>

#include <cstdlib>
#include <memory>
#include <utility>

// The functions of libical that the builder calls.
#define WO_ICAL_FUNCTIONS(X) \
  X(icalcomponent_add_component) \
  X(icalcomponent_add_property) \
  X(icalcomponent_as_ical_string_r) \
  X(icalcomponent_free) \
  X(icalcomponent_get_first_property) \
  X(icalcomponent_new) \
  X(icalcomponent_new_clone) \
  X(icaldurationtype_from_int) \
  X(icalerrno_return) \
  X(icalerror_clear_errno) \
  X(icalerror_strerror) \
  X(icalparameter_new_cn) \
  X(icalparameter_new_partstat) \
  X(icalparameter_new_role) \
  X(icalparameter_new_rsvp) \
  X(icalparameter_new_tzid) \
  X(icalproperty_add_parameter) \
  X(icalproperty_new_action) \
  X(icalproperty_new_attendee) \
  X(icalproperty_new_calscale) \
  X(icalproperty_new_description) \
  X(icalproperty_new_dtend) \
  X(icalproperty_new_dtstamp) \
  X(icalproperty_new_dtstart) \
  X(icalproperty_new_location) \
  X(icalproperty_new_method) \
  X(icalproperty_new_organizer) \
  X(icalproperty_new_prodid) \
  X(icalproperty_new_sequence) \
  X(icalproperty_new_status) \
  X(icalproperty_new_summary) \
  X(icalproperty_new_transp) \
  X(icalproperty_new_trigger) \
  X(icalproperty_new_uid) \
  X(icalproperty_new_url) \
  X(icalproperty_new_version) \
  X(icalproperty_new_x) \
  X(icalproperty_set_tzid) \
  X(icalproperty_set_x_name) \
  X(icaltime_convert_to_zone) \
  X(icaltime_null_time) \
  X(icaltimezone_get_builtin_timezone) \
  X(icaltimezone_get_component) \
  X(icaltimezone_get_utc_offset) \
  X(icaltimezone_get_utc_timezone)

namespace wo::ical {

namespace {

// libical, with ICU under it, is loaded with dlopen by the first calendar
// built: a process that merely links it starts several times slower, and
// only a calendar request or the mail sender needs it.
struct IcalApi {
#define WO_ICAL_MEMBER(name) decltype(&::name) name = nullptr;
  WO_ICAL_FUNCTIONS(WO_ICAL_MEMBER)
#undef WO_ICAL_MEMBER
};

// The loaded library's functions; throws CalendarError when it cannot be
// loaded or lacks one of them (the first failure is kept, so every later
// call tells the same).
const IcalApi& L() {
  static const std::pair<IcalApi, std::string> lib = [] {
    std::pair<IcalApi, std::string> r;
    void* handle = dlopen("libical.so.3", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* e = dlerror();
      r.second = std::string("the calendar library libical.so.3 cannot be loaded: ") + (e ? e : "");
      return r;
    }
#define WO_ICAL_LOAD(name)                                                            \
  r.first.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));           \
  if (!r.first.name && r.second.empty()) r.second = "the calendar library lacks " #name;
    WO_ICAL_FUNCTIONS(WO_ICAL_LOAD)
#undef WO_ICAL_LOAD
    return r;
  }();
  if (!lib.second.empty()) throw CalendarError(lib.second);
  return lib.first;
}

struct ComponentFree {
  void operator()(icalcomponent* c) const { L().icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

icaltimezone* Zone(const std::string& name) {
  icaltimezone* z = name.empty() ? nullptr : L().icaltimezone_get_builtin_timezone(name.c_str());
  if (!z) throw CalendarError("unknown time zone \"" + name + "\" (not in the system's zone data)");
  return z;
}

bool IsUtc(icaltimezone* z) { return z == L().icaltimezone_get_utc_timezone(); }

// A wall-clock time without a zone, to the second.
icaltimetype Floating(DateTime t) {
  const DateParts p = Decode(t);
  icaltimetype tt = L().icaltime_null_time();
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
  return L().icaltime_convert_to_zone(tt, L().icaltimezone_get_utc_timezone());
}

// DTSTART or DTEND in the calendar's zone: with its TZID, or in UTC when
// the zone is UTC itself.
icalproperty* ZonedTime(icalproperty* (*make)(icaltimetype), DateTime t, icaltimezone* zone,
                        const std::string& tzid) {
  if (IsUtc(zone)) return make(ToUtc(t, zone));
  icalproperty* p = make(Floating(t));
  L().icalproperty_add_parameter(p, L().icalparameter_new_tzid(tzid.c_str()));
  return p;
}

void AddText(icalcomponent* c, icalproperty* (*make)(const char*), const std::string& v) {
  if (!v.empty()) L().icalcomponent_add_property(c, make(v.c_str()));
}

icalproperty* Person(icalproperty* (*make)(const char*), const std::string& address, const std::string& name) {
  icalproperty* p = make(("mailto:" + address).c_str());
  if (!name.empty()) L().icalproperty_add_parameter(p, L().icalparameter_new_cn(name.c_str()));
  return p;
}

// The zone's VTIMEZONE, its TZID the zone's own name, which is what
// calendars recognise.
Component TimeZoneComponent(icaltimezone* zone, const std::string& tzid) {
  icalcomponent* source = L().icaltimezone_get_component(zone);
  if (!source) throw CalendarError("no time zone data for \"" + tzid + "\"");
  Component c(L().icalcomponent_new_clone(source));
  icalproperty* p = L().icalcomponent_get_first_property(c.get(), ICAL_TZID_PROPERTY);
  if (p) L().icalproperty_set_tzid(p, tzid.c_str());
  return c;
}

void AddAlarm(icalcomponent* ev, int minutesBefore, const std::string& text) {
  icalcomponent* alarm = L().icalcomponent_new(ICAL_VALARM_COMPONENT);
  L().icalcomponent_add_property(alarm, L().icalproperty_new_action(ICAL_ACTION_DISPLAY));
  icaltriggertype trigger;
  trigger.time = L().icaltime_null_time();
  trigger.duration = L().icaldurationtype_from_int(-60 * minutesBefore);
  L().icalcomponent_add_property(alarm, L().icalproperty_new_trigger(trigger));
  L().icalcomponent_add_property(alarm, L().icalproperty_new_description(text.c_str()));
  L().icalcomponent_add_component(ev, alarm);
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
  Component cal(L().icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
  L().icalcomponent_add_property(cal.get(), L().icalproperty_new_version("2.0"));
  L().icalcomponent_add_property(cal.get(), L().icalproperty_new_prodid("-//WebOrvane//Booking//EN"));
  L().icalcomponent_add_property(cal.get(), L().icalproperty_new_calscale("GREGORIAN"));
  if (o.method != CalendarOptions::Method::None)
    L().icalcomponent_add_property(cal.get(), L().icalproperty_new_method(MethodOf(o.method)));
  if (!o.name.empty()) {
    icalproperty* n = L().icalproperty_new_x(o.name.c_str());
    L().icalproperty_set_x_name(n, "X-WR-CALNAME");
    L().icalcomponent_add_property(cal.get(), n);
  }
  if (!IsUtc(zone)) L().icalcomponent_add_component(cal.get(), TimeZoneComponent(zone, o.timeZone).release());

  for (const Event& e : events) {
    icalcomponent* ev = L().icalcomponent_new(ICAL_VEVENT_COMPONENT);
    L().icalcomponent_add_component(cal.get(), ev);  // owned by the calendar from here
    L().icalcomponent_add_property(ev, L().icalproperty_new_uid(e.uid.c_str()));
    L().icalcomponent_add_property(ev, L().icalproperty_new_sequence(e.sequence));
    L().icalcomponent_add_property(ev, L().icalproperty_new_dtstamp(ToUtc(e.stamp, zone)));
    L().icalcomponent_add_property(ev, ZonedTime(L().icalproperty_new_dtstart, e.start, zone, o.timeZone));
    L().icalcomponent_add_property(ev, ZonedTime(L().icalproperty_new_dtend, e.end, zone, o.timeZone));
    AddText(ev, L().icalproperty_new_summary, e.summary);
    AddText(ev, L().icalproperty_new_location, e.location);
    AddText(ev, L().icalproperty_new_description, e.description);
    AddText(ev, L().icalproperty_new_url, e.url);
    L().icalcomponent_add_property(
        ev, L().icalproperty_new_status(e.cancelled ? ICAL_STATUS_CANCELLED : ICAL_STATUS_CONFIRMED));
    L().icalcomponent_add_property(ev, L().icalproperty_new_transp(ICAL_TRANSP_OPAQUE));
    if (!e.organizer.empty())
      L().icalcomponent_add_property(ev, Person(L().icalproperty_new_organizer, e.organizer, e.organizerName));
    if (!e.attendee.empty()) {
      icalproperty* a = Person(L().icalproperty_new_attendee, e.attendee, e.attendeeName);
      L().icalproperty_add_parameter(a, L().icalparameter_new_role(ICAL_ROLE_REQPARTICIPANT));
      L().icalproperty_add_parameter(
          a, L().icalparameter_new_partstat(e.cancelled ? ICAL_PARTSTAT_DECLINED : ICAL_PARTSTAT_ACCEPTED));
      L().icalproperty_add_parameter(a, L().icalparameter_new_rsvp(ICAL_RSVP_FALSE));
      L().icalcomponent_add_property(ev, a);
    }
    if (e.cancelled) continue;  // a cancelled event rings no alarm
    for (int minutes : o.alarmMinutesBefore) AddAlarm(ev, minutes, o.alarmText.empty() ? e.summary : o.alarmText);
    for (const Alarm& a : e.alarms) AddAlarm(ev, a.minutesBefore, a.text.empty() ? e.summary : a.text);
  }
  if ((*L().icalerrno_return()) != ICAL_NO_ERROR) {
    const std::string why = L().icalerror_strerror((*L().icalerrno_return()));
    L().icalerror_clear_errno();
    throw CalendarError("cannot build the calendar: " + why);
  }
  char* text = L().icalcomponent_as_ical_string_r(cal.get());
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
  return L().icaltimezone_get_utc_offset(zone, &tt, &daylight) / 60;
}

}  // namespace wo::ical
