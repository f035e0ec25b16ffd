// The calendar feeds served in this process on a real SQLite site: every
// feed read back by libical and by Python's icalendar, the token's life
// (made, renewed, revoked), the next fetch after a booking and a
// cancellation, 304 for a client that has the feed, the login throttle
// for failed tokens, the public free-places feed and the switch.
#include <gtest/gtest.h>
#include <libical/ical.h>

#include <fstream>
#include <map>
#include <regex>

#include "base/icalendar.h"
#include "mailer/render.h"
#include "module/ini.h"
#include "support/test_db.h"
#include "unit/booking_fixture.h"

namespace wo::booking_test {
namespace {

const char* kFeaturesOn =
    "[Features]\nCalendarFeed=1\n[Mail]\nSiteUrl=https://booking.example.org\nFrom=varaukset@example.org\n";

// The events of a calendar: UID -> STATUS, as libical reads it; the
// calendar must parse without an error property.
std::map<std::string, std::string> LibicalEvents(const std::string& text) {
  std::map<std::string, std::string> out;
  icalcomponent* cal = icalparser_parse_string(text.c_str());
  if (!cal) {
    ADD_FAILURE() << "libical cannot parse:\n" << text;
    return out;
  }
  EXPECT_EQ(icalcomponent_count_errors(cal), 0) << text;
  EXPECT_NE(icalcomponent_get_first_component(cal, ICAL_VTIMEZONE_COMPONENT), nullptr);
  for (icalcomponent* ev = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT); ev;
       ev = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT))
    out[icalcomponent_get_uid(ev)] = icalproperty_status_to_string(icalcomponent_get_status(ev));
  icalcomponent_free(cal);
  return out;
}

// The lines of tests/feeds/read_calendar.py for `files`.
std::string PythonEvents(const std::vector<std::string>& files) {
  std::string cmd = "/usr/bin/python3 '" + std::string(WO_SOURCE_DIR) + "/tests/feeds/read_calendar.py'";
  for (const std::string& f : files) cmd += " '" + f + "'";
  const auto [rc, out] = test::Shell(cmd + " 2>&1");
  EXPECT_EQ(rc, 0) << out;
  return out;
}

class CalendarFeedSite : public BookingSite {
 protected:
  CalendarFeedSite() {
    site().WriteIni(kFeaturesOn);
    site().WriteTemplate("Fin", "regin.html", "REGIN<#KALENTERI>");
    site().WriteTemplate("Fin", "varok.html", "VAROK <#ID><#KALENTERILINKKI>");
    site().WriteTemplate("Fin", "index.html", "INDEX <#ID>");
    Params({{"PoistaEnnenPv", "2"}, {"NaytaOhjaaja", "2"}});
    anna = User("anna", "70");
    bert = User("bert", "71");
    for (int n = 1; n <= 4; ++n) Slot(std::to_string(n), now + n, 2, "2030", "1", "OH1");
    Booking("1", 1, "70");
    Booking("2", 1, "71");
  }

  // Turns the feed of the session `id` on or renews it; the new token.
  std::string NewToken(const std::string& id) {
    const CgiResult r = Get("/Kalenteri", "ID=" + id + "&Lang=Fin&Tee=avaa");
    std::smatch m;
    if (!std::regex_search(r.body, m, std::regex("Kalenteri\\?T=([0-9a-f]{64})&amp;Lang=Fin"))) {
      ADD_FAILURE() << r.body;
      return {};
    }
    EXPECT_NE(r.body.find("https://booking.example.org/cgi-bin/WebOrvane.exe/Kalenteri?T="), std::string::npos);
    return m[1];
  }
  CgiResult Feed(const std::string& token, const std::map<std::string, std::string>& env = {}) {
    return site().RunInProcess("/Kalenteri", "T=" + token + "&Lang=Fin", env);
  }
  // The events of a feed that must answer 200, read by both parsers.
  std::map<std::string, std::string> Events(const CgiResult& r) {
    EXPECT_EQ(r.status, 200) << r.raw;
    EXPECT_EQ(r.Header("Content-Type"), "text/calendar; charset=utf-8");
    const std::string file = site().root() + "/feed.ics";
    std::ofstream(file, std::ios::binary) << r.body;
    std::map<std::string, std::string> events = LibicalEvents(r.body), python;
    for (const std::string& line : Split(PythonEvents({file}))) {
      const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
      python[line.substr(0, t1)] = line.substr(t1 + 1, t2 - t1 - 1);
    }
    EXPECT_EQ(python, events) << "Python's icalendar reads the same events";
    return events;
  }
  static std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> out;
    size_t b = 0;
    for (size_t e; (e = s.find('\n', b)) != std::string::npos; b = e + 1) out.push_back(s.substr(b, e - b));
    return out;
  }
  std::string Uid(const std::string& vuo, const std::string& asNo) {
    return ical::ReservationUid("2030", PadLeft(vuo), PadLeft("1"), asNo, "booking.example.org");
  }
  static void ExpectNotFound(const CgiResult& r) {
    EXPECT_EQ(r.status, 404) << r.raw;
    EXPECT_EQ(r.body.find("VCALENDAR"), std::string::npos);
    EXPECT_EQ(r.body.find("varaus."), std::string::npos);
  }
  std::string anna, bert;
};

TEST_F(CalendarFeedSite, TokenLifecycleAndIsolation) {
  EXPECT_NE(Get("/Regin", "ID=" + anna + "&Lang=Fin").body.find("Tee=avaa"), std::string::npos);
  const std::string a1 = NewToken(anna), b = NewToken(bert);
  EXPECT_EQ(Events(Feed(a1)), (std::map<std::string, std::string>{{Uid("1", "70"), "CONFIRMED"}}));
  EXPECT_EQ(Events(Feed(b)), (std::map<std::string, std::string>{{Uid("2", "71"), "CONFIRMED"}}));
  const std::string body = Feed(a1).body;
  EXPECT_NE(body.find("LOCATION:Sali 1"), std::string::npos);
  EXPECT_NE(body.find("Ohjaaja: Olli Ohjaaja"), std::string::npos);
  EXPECT_NE(body.find("TRIGGER:-PT2H"), std::string::npos) << "the cancellation deadline";
  EXPECT_NE(body.find("TRIGGER:-PT1H"), std::string::npos);
  EXPECT_NE(body.find("Viimeinen peruutushetki"), std::string::npos);

  const std::string a2 = NewToken(anna);
  ExpectNotFound(Feed(a1));
  EXPECT_EQ(Events(Feed(a2)).size(), 1u);
  Get("/Kalenteri", "ID=" + anna + "&Lang=Fin&Tee=pois");
  ExpectNotFound(Feed(a2));
  for (const std::string& bad : {std::string(), std::string(64, '0'), a2.substr(1), a2 + "0", bert})
    ExpectNotFound(Feed(bad));
  EXPECT_EQ(Events(Feed(b)).size(), 1u);
  // Managing a feed needs the session.
  EXPECT_EQ(Get("/Kalenteri", "ID=nobody00000000077&Lang=Fin&Tee=avaa").status, 302);
}

TEST_F(CalendarFeedSite, NextFetchShowsCancellationAndNewBookingAnd304InBetween) {
  const std::string token = NewToken(anna);
  const CgiResult first = Feed(token);
  const std::string etag = first.Header("ETag");
  ASSERT_FALSE(etag.empty());
  const CgiResult again = Feed(token, {{"HTTP_IF_NONE_MATCH", etag}});
  EXPECT_EQ(again.status, 304);
  EXPECT_TRUE(again.body.empty());
  EXPECT_EQ(Feed(token, {{"HTTP_IF_NONE_MATCH", "\"other\""}}).status, 200);

  ASSERT_EQ(Get("/PoisVar", Key(anna, "1", "&JNo=1")).status, 302);
  const CgiResult booked = Get("/Var", Key(anna, "3"));
  ASSERT_EQ(booked.status, 302);
  EXPECT_NE(booked.Header("Location").find("VarOk?ID=" + anna + "&Lang=Fin&Kau=2030&Vuo=3&Seq=1"), std::string::npos);
  const CgiResult next = Feed(token, {{"HTTP_IF_NONE_MATCH", etag}});
  EXPECT_EQ(Events(next), (std::map<std::string, std::string>{{Uid("1", "70"), "CANCELLED"},
                                                             {Uid("3", "70"), "CONFIRMED"}}));
  EXPECT_NE(next.Header("ETag"), etag);

  // The booked page and the own list offer the one-event file, whose UID
  // is the feed's and the mail's.
  EXPECT_NE(Get("/VarOk", "ID=" + anna + "&Lang=Fin&Kau=2030&Vuo=3&Seq=1").body.find("Kau=2030&amp;Vuo=3&amp;Seq=1"),
            std::string::npos);
  EXPECT_NE(Get("/Omat", "ID=" + anna + "&Lang=Fin").body.find("Lis\xe4\xe4 kalenteriin"), std::string::npos);
  const CgiResult one = Get("/Kalenteri", Key(anna, "3"));
  EXPECT_EQ(Events(one), (std::map<std::string, std::string>{{Uid("3", "70"), "CONFIRMED"}}));
  EXPECT_NE(one.Header("Content-Disposition").find("attachment"), std::string::npos);
  EXPECT_EQ(Get("/Kalenteri", Key(bert, "3")).body, ErrorPageWith(kMsgNotFound)) << "not bert's reservation";

  mailer::MailSite ms;
  ms.templateRoot = std::string(WO_SOURCE_DIR) + "/site/";
  ms.ini = ParseSiteIni(kFeaturesOn, "");
  store::OutboxMessage m;
  m.id = 1;
  m.kind = store::MailKind::Confirmation;
  m.recipient = "anna@example.org";
  m.language = "Fin";
  m.facts = "ALKAA=2030-06-13 12:00:00\nPAATTYY=2030-06-13 13:00:00\n";
  m.key = {"2030", PadLeft("3"), PadLeft("1"), "70"};
  m.created = now;
  const std::string mailFile = site().root() + "/mail.eml";
  std::ofstream(mailFile, std::ios::binary) << mailer::RenderMail(m, ms).message;
  EXPECT_EQ(PythonEvents({mailFile}).substr(0, Uid("3", "70").size() + 1), Uid("3", "70") + "\t");
}

TEST_F(CalendarFeedSite, FailedTokensFallUnderTheLoginThrottle) {
  site().WriteIni(std::string(kFeaturesOn) + "[Security]\nLoginFailuresPerAddress=3\n");
  const std::string token = NewToken(anna);
  auto failures = [&] {
    store::Table t(conn(), store::TableNamed("WEBLOGINFAIL"), "", "Aika");
    t.Open();
    const int n = t.RecordCount();
    t.Close();
    return n;
  };
  EXPECT_EQ(Feed(token).status, 200);
  EXPECT_EQ(failures(), 0) << "a good fetch writes nothing";
  const std::map<std::string, std::string> guesser = {{"REMOTE_ADDR", "192.0.2.9"}};
  for (int i = 0; i < 3; ++i) ExpectNotFound(Feed(std::string(64, 'a' + i), guesser));
  EXPECT_EQ(failures(), 3);
  ExpectNotFound(Feed(token, guesser));
  EXPECT_EQ(failures(), 3) << "a locked address is refused without a lookup";
  EXPECT_EQ(Feed(token).status, 200) << "other addresses go on";
}

TEST_F(CalendarFeedSite, PublicFeedListsFreePlacesOnly) {
  Booking("2", 2, "70");  // slot 2 full
  const CgiResult r = Get("/Vapaat", "Resurssi=R1&Lang=Fin");
  const std::map<std::string, std::string> events = Events(r);
  EXPECT_EQ(events.size(), 3u);
  EXPECT_NE(r.body.find("SUMMARY:Sulkapallo \xe2\x80\x93 1 vapaana"), std::string::npos) << r.body;
  EXPECT_NE(r.body.find("SUMMARY:Sulkapallo \xe2\x80\x93 2 vapaana"), std::string::npos);
  for (const char* secret : {"Virtanen", "Ville", "Joku"}) EXPECT_EQ(r.body.find(secret), std::string::npos);
  // The program itself loads libical for it; on its own clock (before
  // 2030) the slots are beyond the horizon.
  EXPECT_TRUE(Events(site().Run("/Vapaat", "Resurssi=R1&Lang=Fin")).empty());
  const CgiResult cached = site().RunInProcess("/Vapaat", "Resurssi=R1&Lang=Fin", {{"HTTP_IF_NONE_MATCH", r.Header("ETag")}});
  EXPECT_EQ(cached.status, 304);
  for (const char* q : {"Resurssi=R9", "Resurssi=", ""}) ExpectNotFound(Get("/Vapaat", q));
}

TEST_F(CalendarFeedSite, SwitchedOffTheyAnswerAsAnUnknownPath) {
  const std::string token = NewToken(anna);
  const std::string regin = Get("/Regin", "ID=" + anna + "&Lang=Fin").body;
  site().WriteIni("");
  for (const std::string& q : {"T=" + token, std::string("Resurssi=R1"), "ID=" + anna + "&Lang=Fin&Tee=avaa"}) {
    const std::string unknown = Get("/Tuntematon", q).raw;
    EXPECT_EQ(Get("/Kalenteri", q).raw, unknown) << q;
    EXPECT_EQ(Get("/Vapaat", q).raw, unknown) << q;
  }
  EXPECT_EQ(Get("/Regin", "ID=" + anna + "&Lang=Fin").body, "REGIN");
  EXPECT_NE(regin, "REGIN");
  EXPECT_EQ(Get("/Var", Key(anna, "3")).Header("Location"), "/cgi-bin/WebOrvane.exe/VarOk?ID=" + anna + "&Lang=Fin");
}

}  // namespace
}  // namespace wo::booking_test
