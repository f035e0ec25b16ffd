#include "booking/calendar_feed.h"

#include <cstdint>
#include <cstdio>

#include "base/icalendar.h"
#include "booking/common.h"
#include "booking/login_throttle.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/secret_token.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"
#include "store/calendar_feed.h"
#include "store/win1252.h"

namespace wo {

using namespace booking;

namespace {

// How far back the private feed reaches, for reservations and cancellations.
constexpr int kFeedDaysBack = 30;
// Random bytes of a token; it travels as twice as many hex digits.
constexpr size_t kTokenBytes = 32;
constexpr size_t kTokenWidth = 2 * kTokenBytes;

bool IsToken(const std::string& t) {
  if (t.size() != kTokenWidth) return false;
  for (char c : t)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

// The stored form of a token: its SHA-256 in hexadecimal.
std::string TokenHash(const std::string& token) { return SecretTokenHash(token); }

std::string NewToken() { return NewSecretToken(kTokenBytes); }

// [Mail] SiteUrl without a closing "/": what makes the program's paths
// absolute; "" when the site has not set it.
std::string SiteBase(const SiteIni& ini) {
  std::string base = Trim(ini.SiteUrl);
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::string Utf8(const std::string& win1252) { return store::Win1252ToUtf8(win1252); }

std::string FirstOf(const std::string& a, const std::string& b, const std::string& c = {}) {
  if (!Trim(a).empty()) return Trim(a);
  if (!Trim(b).empty()) return Trim(b);
  return Trim(c);
}

// What the site shows of an instructor (WEBPARAM.NaytaOhjaaja): nothing,
// the short name (1) or the name.
std::string Instructor(RequestContext& ctx, const store::FeedEntry& e) {
  switch (ctx.settings.NaytaOhjaaja) {
    case 0: return {};
    case 1: return FirstOf(e.instructorShort, e.instructorName);
    default: return FirstOf(e.instructorName, e.instructorShort);
  }
}

std::string KindName(const store::FeedEntry& e) { return FirstOf(e.kindName, e.kindShort, e.kindCode); }

// The end of the span that can hold reservations: the last day of the
// booking horizon.
DateTime HorizonEnd(RequestContext& ctx) {
  const int days = ctx.settings.MaxVarausPv > 0 ? ctx.settings.MaxVarausPv : 0;
  return DateOf(ctx.Now()) + days + 1 - 1.0 / kSecondsPerDay;
}

// A DTSTAMP that changes only with the event: when it was booked or
// cancelled, or the start of today when that is unknown.
DateTime Stamp(RequestContext& ctx, DateTime changed) { return changed > 0 ? changed : DateOf(ctx.Now()); }

// A reservation as an event, with the UID of its mail's attachment.
ical::Event ReservationEvent(RequestContext& ctx, const store::FeedEntry& e, const std::string& deadlineText) {
  ical::Event ev;
  ev.uid = ical::ReservationUid(e.key.kausi, e.key.vuoroNo, e.key.vuoroNoSeq, e.key.asNo, SiteHost(ctx.ini));
  ev.sequence = e.cancelled ? 1 : 0;
  ev.start = e.start;
  ev.end = e.end;
  ev.stamp = Stamp(ctx, e.changed);
  const std::string kind = KindName(e);
  ev.summary = Utf8(kind);
  ev.location = Utf8(Trim(e.resource));
  std::string description = ctx.TranslatedText(texts::C48) + ": " + kind;
  const std::string instructor = Instructor(ctx, e);
  if (!instructor.empty()) {
    description += '\n';
    description += ctx.TranslatedText(texts::C48a);
    description += ": ";
    description += instructor;
  }
  ev.description = Utf8(description);
  ev.cancelled = e.cancelled;
  const int deadlineMinutes = ctx.settings.PoistaEnnenPv * 60;
  if (deadlineMinutes > 60) ev.alarms.push_back({deadlineMinutes, Utf8(deadlineText)});
  ev.alarms.push_back({60, {}});
  return ev;
}

// FNV-1a of the content: the entity tag of a feed.
std::string EntityTag(const std::string& content) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : content) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  char buf[24];
  std::snprintf(buf, sizeof buf, "\"%016llx\"", static_cast<unsigned long long>(h));
  return buf;
}

// Whether If-None-Match names `tag` (or is "*"), weak tags counting.
bool Matches(const std::string& ifNoneMatch, const std::string& tag) {
  size_t i = 0;
  while (i < ifNoneMatch.size()) {
    size_t comma = ifNoneMatch.find(',', i);
    if (comma == std::string::npos) comma = ifNoneMatch.size();
    std::string t = Trim(ifNoneMatch.substr(i, comma - i));
    if (t.rfind("W/", 0) == 0) t = t.substr(2);
    if (t == "*" || t == tag) return true;
    i = comma + 1;
  }
  return false;
}

// Answers `calendar` (UTF-8 text), or 304 when the client holds it.
Answer SendCalendar(RequestContext& ctx, const std::string& calendar, const std::string& cacheControl,
                    const std::string& fileName = {}) {
  Response& resp = ctx.resp;
  const std::string tag = EntityTag(calendar);
  resp.SetContentType("text/calendar; charset=utf-8");
  resp.AddHeader("ETag", tag);
  resp.AddHeader("Cache-Control", cacheControl);
  if (!fileName.empty()) resp.AddHeader("Content-Disposition", std::string("attachment; filename=\"") + fileName + "\"");
  if (Matches(ctx.req.ifNoneMatch(), tag)) {
    resp.SetStatus(304);
    resp.SetContent({});
  } else {
    resp.SetContent(calendar);
  }
  return Answer::Written();
}

Answer NotFound(RequestContext& ctx) {
  ctx.resp.SetStatus(404);
  ctx.resp.SetContentType("text/plain; charset=utf-8");
  ctx.resp.SetContent("Not Found\n");
  return Answer::Written();
}

LoginLimits Limits(const SiteIni& ini) {
  return {ini.LoginFailuresPerUser, ini.LoginFailuresPerAddress, ini.LoginLockMinutes};
}

Answer OwnFeed(RequestContext& ctx) {
  const std::string token = ctx.req.Field("T");
  const std::string address = Cut(ctx.req.remoteAddr(), kRemoteHostWidth);
  const DateTime now = ctx.Now();
  bool locked = false;
  {
    LoginThrottle throttle(ctx.conn, Limits(ctx.ini), now);
    locked = throttle.AddressLocked(address);
  }
  std::optional<std::vector<store::FeedEntry>> entries;
  if (!locked && IsToken(token))
    entries = store::ReadOwnFeed(ctx.conn, TokenHash(token), now - kFeedDaysBack, HorizonEnd(ctx),
                                 now - kFeedDaysBack);
  if (!entries) {
    if (!locked)
      store::InWriteTransaction(ctx.conn, [&] {
        LoginThrottle throttle(ctx.conn, Limits(ctx.ini), now);
        throttle.RecordFailure("", address);
      });
    return NotFound(ctx);
  }
  const std::string deadlineText = ctx.TranslatedText(texts::C100);
  std::vector<ical::Event> events;
  events.reserve(entries->size());
  for (const store::FeedEntry& e : *entries) events.push_back(ReservationEvent(ctx, e, deadlineText));
  ical::CalendarOptions o;
  o.method = ical::CalendarOptions::Method::Publish;
  o.timeZone = ctx.ini.TimeZone;
  std::string name = Trim(ctx.page.CompanyName);
  if (!name.empty()) name += ": ";
  name += ctx.TranslatedText(texts::C03);
  o.name = Utf8(name);
  return SendCalendar(ctx, ical::BuildCalendar(events, o), "private, no-cache");
}

// The session of a management request or a download, tested as the
// IdleTested rule does; `writes` lets a timed-out session be closed.
std::optional<Answer> SessionRefusal(RequestContext& ctx, bool writes) {
  if (writes) {
    switch (IdleTestedSession(ctx)) {
      case SessionState::None: return Answer::Redirect(ProgramUrl("index", {{"Lang", ctx.page.Lang}}));
      case SessionState::TimedOut: return Answer::Redirect(ProgramUrl("Login", {{"Lang", ctx.page.Lang}}));
      case SessionState::Valid: return std::nullopt;
    }
  }
  if (!PlainSessionLookup(ctx)) return Answer::Redirect(ProgramUrl("index", {{"Lang", ctx.page.Lang}}));
  if (SessionTimedOut(ctx.tbl->TblWebReg.Date("Aika"), ctx.Now()))
    return Answer::Redirect(ProgramUrl("Login", {{"Lang", ctx.page.Lang}}));
  return std::nullopt;
}

Answer ManageFeed(RequestContext& ctx, const std::string& what) {
  if (what != "avaa" && what != "pois") return Answer::Error(PageError::Search);
  std::string token;
  std::optional<Answer> refusal = store::InWriteTransaction(ctx.conn, [&]() -> std::optional<Answer> {
    std::optional<Answer> r = SessionRefusal(ctx, true);
    if (r) return r;
    const std::string tunnus = ctx.tbl->TblWebReg.Text("Tunnus");
    if (what == "avaa") {
      token = NewToken();
      store::SetFeedToken(ctx.conn, tunnus, TokenHash(token), ctx.Now());
    } else {
      store::DropFeedToken(ctx.conn, tunnus);
    }
    RefreshSession(ctx);
    return std::nullopt;
  });
  if (refusal) return *refusal;
  ctx.tbl->TblWebReg.Close();
  LoadRegistrationDetails(ctx);
  if (!token.empty()) ctx.page.FeedAddress = SiteBase(ctx.ini) + ProgramUrl("Kalenteri", {{"T", token}, {"Lang", ctx.page.Lang}});
  return Answer::Page(ctx.pages.PageProdRegin, "regin.html");
}

Answer OneEvent(RequestContext& ctx) {
  std::optional<Answer> refusal = SessionRefusal(ctx, false);
  if (refusal) return *refusal;
  const SlotKey key = SlotKey::FromQuery(ctx.req);
  const std::optional<store::FeedEntry> e =
      store::ReadOwnReservation(ctx.conn, ctx.tbl->TblWebReg.Text("AsNo"), key.kau, key.vuo, key.seq);
  if (!e || Trim(e->key.asNo).empty()) return Answer::Error(PageError::NotFound);
  ical::CalendarOptions o;
  o.timeZone = ctx.ini.TimeZone;
  return SendCalendar(ctx, ical::BuildCalendar({ReservationEvent(ctx, *e, ctx.TranslatedText(texts::C100))}, o),
                      "private, no-cache", "varaus.ics");
}

}  // namespace

Answer WebModOrvaneWebActKalenteriAction(RequestContext& ctx) {
  const Request& rq = ctx.req;
  if (const std::string what = rq.Field("Tee"); !what.empty()) return ManageFeed(ctx, what);
  if (!rq.Field("Kau").empty()) return OneEvent(ctx);
  return OwnFeed(ctx);
}

Answer WebModOrvaneWebActVapaatAction(RequestContext& ctx) {
  const std::string resNo = Cut(ctx.req.Field("Resurssi"), kCodeWidth);
  const DateTime now = ctx.Now();
  const std::optional<store::FreeFeed> feed =
      resNo.empty() ? std::nullopt : store::ReadFreeFeed(ctx.conn, resNo, now, HorizonEnd(ctx));
  if (!feed) return NotFound(ctx);
  const std::string freeWord = ctx.TranslatedText(texts::C101);
  std::vector<ical::Event> events;
  events.reserve(feed->slots.size());
  for (const store::FreeSlot& f : feed->slots) {
    ical::Event ev;
    ev.uid = std::string("vapaat.") + ical::ReservationUid(f.slot.key.kausi, f.slot.key.vuoroNo, f.slot.key.vuoroNoSeq, "",
                                              SiteHost(ctx.ini));
    ev.start = f.slot.start;
    ev.end = f.slot.end;
    ev.stamp = Stamp(ctx, f.slot.changed);
    // "Spinning \x96 3 vapaana": the en dash of Windows-1252.
    ev.summary = Utf8(KindName(f.slot) + " \x96 " + std::to_string(f.places - f.taken) + " " + freeWord);
    ev.location = Utf8(Trim(f.slot.resource));
    const std::string instructor = Instructor(ctx, f.slot);
    if (!instructor.empty()) ev.description = Utf8(ctx.TranslatedText(texts::C48a) + ": " + instructor);
    // The booking pages, for a calendar that shows links; only absolute.
    if (const std::string base = SiteBase(ctx.ini); !base.empty())
      ev.url = base + ProgramUrl("ResVal", {{"Lang", ctx.page.Lang}});
    events.push_back(std::move(ev));
  }
  ical::CalendarOptions o;
  o.method = ical::CalendarOptions::Method::Publish;
  o.timeZone = ctx.ini.TimeZone;
  o.name = Utf8(Trim(feed->resource));
  return SendCalendar(ctx, ical::BuildCalendar(events, o), "public, max-age=300");
}

std::string CalendarFeedSection(RequestContext& ctx) {
  const PageState& p = ctx.page;
  if (!ctx.ini.CalendarFeed || !ShowsMenu(p.SessionId) || p.RegDetails.Tunnus.empty()) return {};
  const bool on = store::HasFeedToken(ctx.conn, p.RegDetails.Tunnus);
  std::string out;
  auto link = [&](const char* what, const TextDef& label, const char* cls) {
    out += "<a class=\"";
    out += cls;
    out += "\" href=\"";
    out += HtmlEscape(ProgramUrl("Kalenteri", {{"ID", p.SessionId}, {"Lang", p.Lang}, {"Tee", what}}));
    out += "\">";
    out += ctx.TranslatedText(label);
    out += "</a>";
  };
  auto paragraph = [&](const TextDef& text) {
    out += "<p>";
    out += ctx.TranslatedText(text);
  };
  out += "\r<section class=\"card feed\" aria-labelledby=\"kalenteri\">\r<h2 id=\"kalenteri\">";
  out += ctx.TranslatedText(texts::C103);
  out += "</h2>\r";
  if (!p.FeedAddress.empty()) {
    paragraph(texts::C107);
    out += "<br><a class=\"feed-address\" href=\"";
    out += HtmlEscape(p.FeedAddress);
    out += "\">";
    out += HtmlEscape(p.FeedAddress);
    out += "</a></p>\r";
  }
  paragraph(on ? texts::C108 : texts::C109);
  out += "</p>\r<div class=\"actions\">";
  if (on) {
    link("avaa", texts::C105, "btn btn-secondary");
    out += '\r';
    link("pois", texts::C106, "btn btn-secondary");
  } else {
    link("avaa", texts::C104, "btn");
  }
  out += "</div>\r</section>";
  return out;
}

std::string AddToCalendarLink(RequestContext& ctx, const std::string& kausi, const std::string& vuoroNo,
                              const std::string& vuoroNoSeq) {
  if (!ctx.ini.CalendarFeed || kausi.empty()) return {};
  const PageState& p = ctx.page;
  std::string out = "<a class=\"calendar-link\" href=\"";
  out += HtmlEscape(ProgramUrl("Kalenteri", {{"ID", p.SessionId},
                                             {"Lang", p.Lang},
                                             {"Kau", Trim(kausi)},
                                             {"Vuo", Trim(vuoroNo)},
                                             {"Seq", Trim(vuoroNoSeq)}}));
  out += "\" download>";
  out += ctx.TranslatedText(texts::C102);
  out += "</a>";
  return out;
}

void NoteCancellation(RequestContext& ctx, const std::string& kausi, const std::string& vuoroNo,
                      const std::string& vuoroNoSeq, const std::string& asNo, long long jno) {
  if (!ctx.ini.CalendarFeed) return;
  store::RecordCancellation(ctx.conn, {kausi, vuoroNo, vuoroNoSeq, asNo}, jno, ctx.Now(), ctx.Now() - kFeedDaysBack);
}

}  // namespace wo
