#include "mailer/render.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "frame/html.h"
#include "frame/page_producer.h"
#include "base/format.h"
#include "base/text.h"
#include "mail/mail_facts.h"
#include "mail/mail_queue.h"
#include "base/icalendar.h"
#include "mailer/mime.h"
#include "store/win1252.h"

namespace wo::mailer {

namespace {

using store::MailKind;
namespace fact = mail::fact;

// Stands for a tag in the expanded text until the lines are sorted out.
constexpr char kTagMark = '\x01';

// The language's folder below the template root, as the pages pick it.
std::string LanguageFolder(std::string_view lang, bool& english) {
  std::string dir = TemplateDirectory(lang);  // "..\WebOrvane\Eng\"
  dir.pop_back();
  dir = dir.substr(dir.rfind('\\') + 1);
  english = dir == "Eng";
  return dir + "/";
}

std::string ReadTemplate(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw TemplateError("Cannot open file " + path);
  std::ostringstream s;
  s << f.rdbuf();
  if (f.bad()) throw TemplateError("Cannot open file " + path);
  return s.str();
}

bool ValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return false;
    i += n;
  }
  return true;
}

// A text of the INI file in UTF-8: taken as UTF-8 when it is valid UTF-8,
// as Windows-1252 (the file's own form) otherwise.
std::string IniUtf8(std::string_view s) { return ValidUtf8(s) ? std::string(s) : store::Win1252ToUtf8(s); }

const char* WeekdayName(DateTime t, bool english) {
  static const char* const kFin[] = {"sunnuntai", "maanantai", "tiistai", "keskiviikko",
                                     "torstai",   "perjantai", "lauantai"};
  static const char* const kEng[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  return (english ? kEng : kFin)[DayOfWeek(t) - 1];
}

std::string Clock(DateTime t, const std::string& sep) { return FormatTime(t, sep); }

// "tiistai 11.6.2030" / "Tuesday, 11 June 2030"
std::string Day(DateTime t, bool english) {
  static const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                        "July",    "August",   "September", "October", "November", "December"};
  const DateParts p = Decode(t);
  char buf[80];
  if (english)
    std::snprintf(buf, sizeof buf, "%s, %d %s %d", WeekdayName(t, true), p.day, kMonths[p.month - 1], p.year);
  else
    std::snprintf(buf, sizeof buf, "%s %d.%d.%d", WeekdayName(t, false), p.day, p.month, p.year);
  return buf;
}

// The start and end of a slot: "tiistai 11.6.2030 klo 18:00–19:00" (the
// dash is Windows-1252's en dash), the end's date too when it is another day.
std::string When(DateTime start, DateTime end, bool english, const std::string& sep) {
  const std::string joiner = english ? ", " : " klo ";
  std::string s = Day(start, english) + joiner + Clock(start, sep) + "\x96";
  if (DateOf(end) != DateOf(start)) s += Day(end, english) + joiner;
  return s + Clock(end, sep);
}

std::string Moment(DateTime t, bool english, const std::string& sep) {
  return Day(t, english) + (english ? ", " : " klo ") + Clock(t, sep);
}

// A stored amount ("-12.50") with the site's decimal separator and currency.
std::string Money(const std::string& amount, const std::string& decimalSep) {
  if (amount.empty()) return {};
  std::string s = amount;
  const size_t dot = s.find('.');
  if (dot != std::string::npos) s.replace(dot, 1, decimalSep);
  return s + " EUR";
}

DateTime StoredTime(const mail::Facts& f, const char* name) {
  DateTime t = 0;
  const std::string v = mail::FactOf(f, name);
  if (v.empty() || !ParseStoredDateTime(v, t)) return 0;
  return t;
}

std::string BaseUrl(const SiteIni& ini) {
  std::string u = Trim(ini.SiteUrl);
  while (!u.empty() && u.back() == '/') u.pop_back();
  return u;
}

std::string OwnReservationsLink(const SiteIni& ini, const std::string& lang) {
  const std::string base = BaseUrl(ini);
  return base.empty() ? std::string() : base + std::string(kProgramUrl) + "Login?Lang=" + UrlEncode(lang);
}

std::string ResetLink(const SiteIni& ini, const std::string& lang, const std::string& token) {
  const std::string base = BaseUrl(ini);
  if (base.empty() || token.empty()) return {};
  return base + std::string(kProgramUrl) + "Palauta?Lang=" + UrlEncode(lang) + "&T=" + UrlEncode(token);
}

// The one-click link of an offer: the commit of its slot, which books the
// place held for the user (after a login, when their session has ended).
std::string OfferLink(const SiteIni& ini, const std::string& lang, const store::ReservationKey& key) {
  const std::string base = BaseUrl(ini);
  if (base.empty() || key.Empty()) return {};
  return base + std::string(kProgramUrl) + "Var?Lang=" + UrlEncode(lang) + "&Kau=" + UrlEncode(Trim(key.kausi)) +
         "&Vuo=" + UrlEncode(Trim(key.vuoroNo)) + "&Seq=" + UrlEncode(Trim(key.vuoroNoSeq));
}

// The value of a mail tag; "" for an unknown one.
std::string TagValue(std::string_view tag, const store::OutboxMessage& m, const mail::Facts& f,
                     const MailSite& site, bool english) {
  const std::string name = Upper(tag);
  const SiteIni& ini = site.ini;
  auto is = [&name](const char* n) { return name == n; };
  if (is("YRITYS")) return ini.CompanyName;
  if (is("YRPUHELIN")) return site.phone;
  if (is("YREMAIL")) return site.email;
  if (is("NIMI") || is("ETUNIMI") || is("TUNNUS") || is("MITA") || is("MISSA") || is("OHJAAJA") || is("VOIMASSA"))
    return mail::FactOf(f, name.c_str());
  if (is("AIKA")) {
    const DateTime start = StoredTime(f, fact::kStart), end = StoredTime(f, fact::kEnd);
    return start == 0 ? std::string() : When(start, end, english, ini.TimeSeparator);
  }
  if (is("PERUUTUSASTI") || is("TARJOUSASTI")) {
    const DateTime until = StoredTime(f, is("PERUUTUSASTI") ? fact::kCancelUntil : fact::kOfferUntil);
    return until == 0 ? std::string() : Moment(until, english, ini.TimeSeparator);
  }
  if (is("MAKSU")) return Money(mail::FactOf(f, fact::kFee), ini.DecimalSeparator);
  if (is("SALDO")) return Money(mail::FactOf(f, fact::kBalance), ini.DecimalSeparator);
  if (is("OMATLINKKI")) return OwnReservationsLink(ini, m.language);
  if (is("PALAUTUSLINKKI")) return ResetLink(ini, m.language, mail::FactOf(f, fact::kToken));
  if (is("TARJOUSLINKKI")) return OfferLink(ini, m.language, m.key);
  return {};
}

// Lines whose tags all came out empty and that hold nothing else but
// blanks go; the marks go from the others.
std::string SettleLines(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    const size_t end = lf == std::string::npos ? text.size() : lf + 1;
    const std::string line = text.substr(start, end - start);
    start = end;
    if (line.find(kTagMark) == std::string::npos) {
      out += line;
      continue;
    }
    std::string kept;
    for (char c : line)
      if (c != kTagMark) kept += c;
    if (!Trim(kept).empty()) out += kept;
  }
  return out;
}

std::string Expand(const store::OutboxMessage& m, const MailSite& site, bool& english) {
  const std::string folder = LanguageFolder(m.language, english);
  const std::string text = ReadTemplate(site.templateRoot + folder + MailTemplateFile(m.kind));
  const mail::Facts f = mail::DecodeFacts(m.facts);
  const bool eng = english;
  const std::string expanded = ExpandTemplate(text, [&](std::string_view tag, const std::vector<std::string>& params) {
    const std::string value = TagValue(tag, m, f, site, eng);
    std::string out(1, kTagMark);
    if (!value.empty()) out += (params.size() > 0 ? params[0] : "") + value + (params.size() > 1 ? params[1] : "");
    return out;
  });
  return SettleLines(expanded);
}

}  // namespace

const char* MailTemplateFile(MailKind k) {
  switch (k) {
    case MailKind::Confirmation: return "mail_varaus.txt";
    case MailKind::Cancellation: return "mail_peruutus.txt";
    case MailKind::Reminder: return "mail_muistutus.txt";
    case MailKind::Reset: return "mail_salasana.txt";
    case MailKind::Offer: return "mail_tarjous.txt";
  }
  return "";
}

const std::vector<std::string_view>& KnownMailTags() {
  static const std::vector<std::string_view> tags = {
      "AIKA",   "ETUNIMI", "MAKSU",  "MISSA",  "MITA",     "NIMI",      "OHJAAJA", "OMATLINKKI", "PALAUTUSLINKKI",
      "PERUUTUSASTI", "SALDO", "TARJOUSASTI", "TARJOUSLINKKI", "TUNNUS", "VOIMASSA", "YREMAIL", "YRITYS",
      "YRPUHELIN"};
  return tags;
}

Sender SenderOf(const SiteIni& ini) {
  Sender s;
  const std::string from = Trim(ini.MailFrom);
  const size_t lt = from.find('<'), gt = from.rfind('>');
  if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
    s.address = Trim(from.substr(lt + 1, gt - lt - 1));
    std::string name = Trim(from.substr(0, lt));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    s.name = IniUtf8(name);
  } else {
    s.address = from;
  }
  if (s.name.empty()) s.name = IniUtf8(Trim(ini.CompanyName));
  return s;
}

RenderedMail RenderMail(const store::OutboxMessage& m, const MailSite& site) {
  const Sender from = SenderOf(site.ini);
  if (!mail::IsMailAddress(from.address))
    throw std::runtime_error("[Mail] From holds no sender's address (\"addr@host\" or \"Name <addr@host>\")");
  bool english = false;
  const std::string text = store::Win1252ToUtf8(Expand(m, site, english));

  // The first line is the subject; blank lines after it are dropped.
  const size_t lf = text.find('\n');
  std::string subject = text.substr(0, lf);
  if (!subject.empty() && subject.back() == '\r') subject.pop_back();
  std::string body = lf == std::string::npos ? std::string() : text.substr(lf + 1);
  size_t skip = 0;
  while (skip < body.size() && (body[skip] == '\n' || body[skip] == '\r')) ++skip;
  body.erase(0, skip);

  const mail::Facts f = mail::DecodeFacts(m.facts);
  const std::string host = SiteHost(site.ini);
  MimeMessage mime;
  mime.fromName = from.name;
  mime.fromAddress = from.address;
  mime.toName = store::Win1252ToUtf8(mail::FactOf(f, fact::kName));
  mime.toAddress = m.recipient;
  mime.subject = Trim(subject);
  mime.body = body;
  mime.date = m.created;
  mime.utcOffsetMinutes = ical::UtcOffsetMinutes(site.ini.TimeZone, m.created);
  std::string stamp;
  for (char c : ToStoredDateTime(m.created))
    if (c >= '0' && c <= '9') stamp += c;
  mime.messageId = "weborvane." + std::to_string(m.id) + "." + stamp + "@" + host;

  const bool cancel = m.kind == MailKind::Cancellation;
  if ((m.kind == MailKind::Confirmation || cancel) && !m.key.Empty()) {
    ical::Event e;
    e.uid = ical::ReservationUid(m.key.kausi, m.key.vuoroNo, m.key.vuoroNoSeq, m.key.asNo, host);
    e.sequence = static_cast<int>(m.id);
    e.start = StoredTime(f, fact::kStart);
    e.end = StoredTime(f, fact::kEnd);
    e.stamp = m.created;
    e.summary = store::Win1252ToUtf8(mail::FactOf(f, fact::kWhat));
    e.location = store::Win1252ToUtf8(mail::FactOf(f, fact::kWhere));
    e.description = body;
    e.url = store::Win1252ToUtf8(OwnReservationsLink(site.ini, m.language));
    e.cancelled = cancel;
    e.organizer = from.address;
    e.organizerName = from.name;
    e.attendee = m.recipient;
    e.attendeeName = mime.toName;
    ical::CalendarOptions o;
    o.method = cancel ? ical::CalendarOptions::Method::Cancel : ical::CalendarOptions::Method::Request;
    o.timeZone = site.ini.TimeZone;
    mime.attachment = Attachment{std::string("text/calendar; method=") + (cancel ? "CANCEL" : "REQUEST") +
                                     "; charset=utf-8",
                                 "event.ics", ical::BuildCalendar({e}, o)};
  }
  return RenderedMail{from.address, m.recipient, mime.subject, FormatMessage(mime)};
}

}  // namespace wo::mailer
