// Rendering mails: header and body encodings, the iCalendar file as libical
// reads it back, and the default templates of both languages expanded with
// a reservation's facts.
#include <gtest/gtest.h>
#include <libical/ical.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "frame/page_producer.h"
#include "mail/mail_facts.h"
#include "base/icalendar.h"
#include "mailer/mail_check.h"
#include "mailer/mime.h"
#include "mailer/render.h"
#include "support/test_db.h"

namespace wo::mailer {
namespace {

TEST(MailMime, HeaderTextsAndBodiesAreEncoded) {
  struct Case {
    std::string in;
    bool phrase;
    std::string out;
  };
  const Case headers[] = {
      {"Booking confirmed", false, "Booking confirmed"},
      {"Centre, Ltd", true, "\"Centre, Ltd\""},
      {"\xc3\x84\xc3\xa4nekoski", false, "=?UTF-8?B?w4TDpG5la29za2k=?="},
  };
  for (const Case& c : headers) EXPECT_EQ(EncodeHeaderText(c.in, c.phrase), c.out) << c.in;
  // A long text becomes words of 36 bytes (48 of base64), each on a line
  // of its own.
  std::string longText;
  for (int i = 0; i < 40; ++i) longText += "\xc3\xa4";
  EXPECT_EQ(EncodeHeaderText(longText, false).find("?=\r\n =?UTF-8?B?"), 58u);

  const Case bodies[] = {
      {"a=b\n", false, "a=3Db\r\n"},
      {".line\nend", false, "=2Eline\r\nend\r\n"},
      {"\xc3\xa4 \r\ntrail \n", false, "=C3=A4=20\r\ntrail=20\r\n"},
      {std::string(100, 'a'), false, std::string(75, 'a') + "=\r\n" + std::string(25, 'a') + "\r\n"},
  };
  for (const Case& c : bodies) EXPECT_EQ(QuotedPrintable(c.in), c.out) << c.in;
}

// The single VEVENT of a calendar libical parsed.
icalcomponent* OnlyEvent(icalcomponent* cal) {
  EXPECT_EQ(icalcomponent_count_components(cal, ICAL_VEVENT_COMPONENT), 1);
  return icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT);
}

TEST(MailCalendar, LibicalReadsBackWhatWasBuilt) {
  ical::Event e;
  e.uid = ical::ReservationUid("2030", "   12", "    1", "1001", "booking.example.org");
  EXPECT_EQ(e.uid, "varaus.2030.12.1.1001@booking.example.org");
  EXPECT_NE(ical::ReservationUid("20.3", "1", "1", "1", "h"), ical::ReservationUid("20", "3.1", "1", "1", "h"));
  e.sequence = 7;
  e.start = EncodeDate(2030, 6, 11) + EncodeTime(18, 0, 0);
  e.end = e.start + 1.0 / 24;
  e.stamp = EncodeDate(2030, 6, 10) + EncodeTime(12, 0, 0);
  e.summary = "Sulkapallo \xc3\xa4";
  e.location = "Sali 1, Rantapuisto";
  e.description = "Line one\nline two; with, specials";
  e.organizer = "booking@example.org";
  e.attendee = "maija@example.org";

  for (bool cancel : {false, true}) {
    e.cancelled = cancel;
    ical::CalendarOptions o;
    o.method = cancel ? ical::CalendarOptions::Method::Cancel : ical::CalendarOptions::Method::Request;
    o.alarmMinutesBefore = {30};
    const std::string text = ical::BuildCalendar({e}, o);
    EXPECT_NE(text.find("\r\n"), std::string::npos);
    icalcomponent* cal = icalparser_parse_string(text.c_str());
    ASSERT_NE(cal, nullptr);
    EXPECT_EQ(icalcomponent_get_method(cal), cancel ? ICAL_METHOD_CANCEL : ICAL_METHOD_REQUEST);
    icalcomponent* tz = icalcomponent_get_first_component(cal, ICAL_VTIMEZONE_COMPONENT);
    ASSERT_NE(tz, nullptr);
    EXPECT_STREQ(icalproperty_get_tzid(icalcomponent_get_first_property(tz, ICAL_TZID_PROPERTY)), "Europe/Helsinki");
    icalcomponent* ev = OnlyEvent(cal);
    EXPECT_STREQ(icalcomponent_get_uid(ev), e.uid.c_str());
    EXPECT_STREQ(icalcomponent_get_summary(ev), e.summary.c_str());
    EXPECT_STREQ(icalcomponent_get_description(ev), e.description.c_str());
    EXPECT_EQ(icalcomponent_get_sequence(ev), 7);
    EXPECT_EQ(icalcomponent_get_status(ev), cancel ? ICAL_STATUS_CANCELLED : ICAL_STATUS_CONFIRMED);
    icalproperty* start = icalcomponent_get_first_property(ev, ICAL_DTSTART_PROPERTY);
    EXPECT_STREQ(icalparameter_get_tzid(icalproperty_get_first_parameter(start, ICAL_TZID_PARAMETER)),
                 "Europe/Helsinki");
    EXPECT_STREQ(icaltime_as_ical_string(icalproperty_get_dtstart(start)), "20300611T180000");
    // Noon in Helsinki in June is 09:00 UTC.
    EXPECT_STREQ(icaltime_as_ical_string(icalcomponent_get_dtstamp(ev)), "20300610T090000Z");
    EXPECT_EQ(icalcomponent_count_components(ev, ICAL_VALARM_COMPONENT), cancel ? 0 : 1);
    icalcomponent_free(cal);
  }
  ical::CalendarOptions mars;
  mars.timeZone = "Mars/Olympus";
  EXPECT_THROW(ical::BuildCalendar({e}, mars), ical::CalendarError);
  EXPECT_EQ(ical::UtcOffsetMinutes("Europe/Helsinki", EncodeDate(2030, 1, 10)), 120);
}

// Quoted-printable decoded wherever it occurs (headers and base64 pass).
std::string DecodeQp(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '=' && i + 2 < s.size() && s[i + 1] == '\r') {
      i += 2;  // soft break
    } else if (s[i] == '=' && i + 2 < s.size() && isxdigit(static_cast<unsigned char>(s[i + 1])) &&
               isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The default templates of the repository, rendered as the sender does.
class MailTemplates : public ::testing::Test {
 protected:
  MailTemplates() {
    site.templateRoot = std::string(WO_SOURCE_DIR) + "/site/";
    site.ini.CompanyName = "Liikuntakeskus Rantapuisto";
    site.ini.MailFrom = "varaukset@example.org";
    site.ini.SiteUrl = "https://booking.example.org/";
    site.phone = "09 123 456";
  }
  store::OutboxMessage Message(store::MailKind kind, const char* lang, bool instructor) {
    mail::Facts f = {{"ETUNIMI", "Maija"}, {"NIMI", "Maija M\xe4kinen"}, {"TUNNUS", "maija"},
                     {"MITA", "Sulkapallo"}, {"MISSA", "Sali 1, Rantapuisto"},
                     {"ALKAA", "2030-06-11 18:00:00"}, {"PAATTYY", "2030-06-11 19:00:00"},
                     {"PERUUTUSASTI", "2030-06-10 18:00:00"}, {"MAKSU", "2.00"}, {"SALDO", "-4.50"},
                     {"KOODI", "tok3n"}, {"VOIMASSA", "60"}, {"TARJOUSASTI", "2030-06-10 13:00:00"}};
    if (instructor) f["OHJAAJA"] = "Olli Ohjaaja";
    store::OutboxMessage m;
    m.id = 42;
    m.kind = kind;
    m.recipient = "maija@example.org";
    m.language = lang;
    m.facts = mail::EncodeFacts(f);
    if (kind != store::MailKind::Reset) m.key = {"2030", "   12", "    1", "1001"};
    m.created = EncodeDate(2030, 6, 10) + EncodeTime(12, 0, 0);
    return m;
  }
  MailSite site;
};

TEST_F(MailTemplates, EveryKindRendersInBothLanguages) {
  using K = store::MailKind;
  struct Case {
    K kind;
    const char* lang;
    const char* subject;    // its start
    const char* inText;     // something the text must say
    bool calendar;
  };
  const Case cases[] = {
      {K::Confirmation, "Fin", "Varausvahvistus: Sulkapallo, tiistai 11.6.2030 klo 18:00\xe2\x80\x93" "19:00",
       "Saldosi varauksen j\xc3\xa4lkeen: -4.50 EUR", true},
      {K::Confirmation, "Eng", "Booking confirmed: Sulkapallo, Tuesday, 11 June 2030, 18:00", "please cancel by Monday, 10 June 2030, 18:00", true},
      {K::Cancellation, "FIN", "Varaus peruttu", "Varausmaksu 2.00 EUR on palautettu saldollesi.", true},
      {K::Cancellation, "ENG", "Booking cancelled", "https://booking.example.org/cgi-bin/WebOrvane.exe/Login?Lang=ENG", true},
      {K::Reminder, "", "Muistutus: Sulkapallo", "viimeist\xc3\xa4\xc3\xa4n maanantai 10.6.2030 klo 18:00", false},
      {K::Reminder, "eng", "Reminder: Sulkapallo", "Where: Sali 1, Rantapuisto", false},
      {K::Reset, "Fin", "Uusi salasana", "https://booking.example.org/cgi-bin/WebOrvane.exe/Palauta?Lang=Fin&T=tok3n", false},
      {K::Reset, "Eng", "A new password", "valid for 60 minutes", false},
      {K::Offer, "Fin", "Paikka vapautui: Sulkapallo",
       "https://booking.example.org/cgi-bin/WebOrvane.exe/Var?Lang=Fin&Kau=2030&Vuo=12&Seq=1", false},
      {K::Offer, "Eng", "A place is free: Sulkapallo", "held for you until Monday, 10 June 2030, 13:00", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(store::MailKindName(c.kind)) + " " + c.lang);
    for (bool instructor : {false, true}) {
      const RenderedMail r = RenderMail(Message(c.kind, c.lang, instructor), site);
      EXPECT_EQ(r.subject.rfind(c.subject, 0), 0u) << r.subject;
      EXPECT_EQ(r.from, "varaukset@example.org");
      const std::string& msg = r.message;
      EXPECT_NE(msg.find("From: Liikuntakeskus Rantapuisto <varaukset@example.org>\r\n"), std::string::npos);
      EXPECT_NE(msg.find("Message-ID: <weborvane.42.20300610120000@booking.example.org>\r\n"), std::string::npos);
      EXPECT_NE(msg.find("Date: Mon, 10 Jun 2030 12:00:00 +0300\r\n"), std::string::npos);
      EXPECT_EQ(msg.find("multipart/mixed") != std::string::npos, c.calendar);
      EXPECT_EQ(msg.find("text/calendar; method=") != std::string::npos, c.calendar);
      const std::string text = DecodeQp(msg);
      EXPECT_NE(text.find(c.inText), std::string::npos) << text;
      EXPECT_EQ(text.find('\x01'), std::string::npos);
      // The instructor's line is there only with an instructor.
      const bool shown = text.find("Olli Ohjaaja") != std::string::npos;
      EXPECT_EQ(shown, instructor && c.kind != K::Reset);
      EXPECT_EQ(text.find("Ohjaaja: \r\n"), std::string::npos);
      EXPECT_EQ(text.find("Instructor: \r\n"), std::string::npos);
      for (size_t start = 0, lf; (lf = msg.find("\r\n", start)) != std::string::npos; start = lf + 2)
        EXPECT_LE(lf - start, 78u) << "a line longer than 78";
    }
  }
  site.templateRoot = "/nonexistent/";
  EXPECT_THROW(RenderMail(Message(K::Reminder, "Fin", false), site), TemplateError);
}

TEST_F(MailTemplates, DefaultTemplatesUseOnlyKnownTags) {
  const std::vector<std::string_view>& known = KnownMailTags();
  for (const char* lang : {"Fin", "Eng"})
    for (const char* file : {"mail_varaus.txt", "mail_peruutus.txt", "mail_muistutus.txt", "mail_salasana.txt",
                             "mail_tarjous.txt"}) {
      std::ifstream f(site.templateRoot + lang + "/" + file, std::ios::binary);
      ASSERT_TRUE(f) << lang << "/" << file;
      std::stringstream s;
      s << f.rdbuf();
      std::set<std::string> unknown;
      ExpandTemplate(s.str(), [&](std::string_view tag, const std::vector<std::string>&) {
        if (std::find(known.begin(), known.end(), tag) == known.end()) unknown.insert(std::string(tag));
        return std::string();
      });
      EXPECT_TRUE(unknown.empty()) << lang << "/" << file << ": " << *unknown.begin();
    }
}

// `check`'s mail lines: each setting's problem on a line of its own, the
// default templates of both languages rendering, a missing one failing.
TEST(MailCheck, ReportsEachMailSettingsProblem) {
  test::TempDir dir;
  namespace fs = std::filesystem;
  for (const char* lang : {"Fin", "Eng"}) fs::copy(fs::path(WO_SOURCE_DIR) / "site" / lang, fs::path(dir.path()) / lang);
  const std::string root = dir.path() + "/";
  SiteIni good;
  good.Mail = true;
  good.SmtpUrl = "smtp://127.0.0.1:2525";
  good.MailFrom = "Keskus <varaukset@example.org>";
  good.SiteUrl = "https://varaus.example.org";
  struct Case {
    const char* what;
    void (*change)(SiteIni&);
    std::vector<std::string> expected;  // the lines that are not OK
  };
  const Case cases[] = {
      {"all set", [](SiteIni&) {}, {}},
      {"mail off", [](SiteIni& i) { i = SiteIni(); }, {}},
      {"no server, no sender", [](SiteIni& i) { i.SmtpUrl = i.MailFrom = ""; },
       {"WARN mail: no SMTP server", "WARN mail: [Mail] From holds no sender's address"}},
      {"a server, no sender", [](SiteIni& i) { i.MailFrom = "varaukset"; },
       {"FAIL mail: [Mail] From holds no sender's address"}},
      {"another scheme", [](SiteIni& i) { i.SmtpUrl = "http://127.0.0.1"; }, {"FAIL mail: [Mail] SmtpUrl"}},
      {"plain http links", [](SiteIni& i) { i.SiteUrl = "http://varaus.example.org"; },
       {"WARN mail: [Mail] SiteUrl http://varaus.example.org is not https://"}},
      {"no links", [](SiteIni& i) { i.SiteUrl = ""; }, {"FAIL mail: [Mail] SiteUrl"}},
      {"unknown zone", [](SiteIni& i) { i.TimeZone = "Europe/Atlantis"; }, {"FAIL time zone ([Site] TimeZone)"}},
  };
  for (const Case& c : cases) {
    SiteIni ini = good;
    c.change(ini);
    std::vector<std::string> found;
    for (const site::CheckLine& l : CheckMailSetup(ini, root))
      if (l.level != site::CheckLine::Ok) found.push_back(site::FormatCheckLine(l));
    ASSERT_EQ(found.size(), c.expected.size()) << c.what << ": " << (found.empty() ? "" : found[0]);
    for (size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i].rfind(c.expected[i], 0), 0u) << c.what << ": " << found[i];
  }
  fs::remove(root + "Eng/mail_salasana.txt");
  std::vector<std::string> found;
  for (const site::CheckLine& l : CheckMailSetup(good, root))
    if (l.level != site::CheckLine::Ok) found.push_back(site::FormatCheckLine(l));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].rfind("FAIL mail template " + root + "Eng/mail_salasana.txt", 0), 0u) << found[0];
}

}  // namespace
}  // namespace wo::mailer
