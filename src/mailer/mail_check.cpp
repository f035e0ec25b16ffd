#include "mailer/mail_check.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "base/text.h"
#include "frame/page_producer.h"
#include "mail/mail_facts.h"
#include "mail/mail_queue.h"
#include "base/icalendar.h"
#include "mailer/render.h"

namespace wo::mailer {

namespace {

using L = site::CheckLine;
using store::MailKind;

bool StartsWithText(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

// A message of `kind` in `lang` with facts of every kind, as a booking
// tomorrow at 18:00 would give them.
store::OutboxMessage Sample(MailKind kind, const char* lang) {
  const DateTime start = DateOf(Now()) + 1 + EncodeTime(18, 0, 0);
  mail::Facts f = {{mail::fact::kUserName, "tunnus"},
                   {mail::fact::kFirstName, "Etunimi"},
                   {mail::fact::kName, "Etunimi Sukunimi"},
                   {mail::fact::kWhat, "Laji"},
                   {mail::fact::kWhere, "Resurssi"},
                   {mail::fact::kInstructor, "Ohjaaja"},
                   {mail::fact::kStart, ToStoredDateTime(start)},
                   {mail::fact::kEnd, ToStoredDateTime(start + EncodeTime(1, 0, 0))},
                   {mail::fact::kCancelUntil, ToStoredDateTime(start - 1)},
                   {mail::fact::kFee, "2.00"},
                   {mail::fact::kBalance, "-2.00"},
                   {mail::fact::kToken, "0123456789abcdef0123456789abcdef01234567"},
                   {mail::fact::kValidMinutes, "60"}};
  store::OutboxMessage m;
  m.id = 1;
  m.kind = kind;
  m.recipient = "asiakas@example.org";
  m.language = lang;
  m.facts = mail::EncodeFacts(f);
  m.key = {"2030", "    1", "    1", "1"};
  m.created = Now();
  return m;
}

void CheckServer(const SiteIni& ini, std::vector<L>& out) {
  const std::string url = Trim(ini.SmtpUrl);
  if (url.empty()) {
    out.push_back({L::Warn, "mail: no SMTP server ([Mail] SmtpUrl): the mails wait in the outbox until one is set"});
  } else if (!StartsWithText(url, "smtp://") && !StartsWithText(url, "smtps://")) {
    out.push_back({L::Fail, "mail: [Mail] SmtpUrl \"" + url + "\" is neither smtp://host:port nor smtps://host:port"});
  } else {
    out.push_back({L::Ok, "mail: SMTP server " + url + (Trim(ini.SmtpUser).empty() ? "" : " as " + Trim(ini.SmtpUser))});
    if (!Trim(ini.SmtpUser).empty() && ini.SmtpPassword.empty())
      out.push_back({L::Warn, "mail: [Mail] SmtpUser is set but SmtpPassword is empty"});
  }
  const std::string from = SenderOf(ini).address;
  if (!mail::IsMailAddress(from))
    out.push_back({url.empty() ? L::Warn : L::Fail,
                   "mail: [Mail] From holds no sender's address (\"addr@host\" or \"Name <addr@host>\")"});
  else
    out.push_back({L::Ok, "mail: sent from " + from});

  const std::string site = Trim(ini.SiteUrl);
  const bool https = StartsWithText(site, "https://"), http = StartsWithText(site, "http://");
  if ((!https && !http) || site.size() <= std::string_view(https ? "https://" : "http://").size())
    out.push_back({L::Fail, "mail: [Mail] SiteUrl \"" + site +
                                "\" is no http:// or https:// address: the mails' links and the reset link lead nowhere"});
  else if (http)
    out.push_back({L::Warn, "mail: [Mail] SiteUrl " + site + " is not https://: the reset links travel unencrypted"});
  else
    out.push_back({L::Ok, "mail: links lead to " + site});

  try {
    ical::UtcOffsetMinutes(ini.TimeZone, Now());
    out.push_back({L::Ok, "time zone " + ini.TimeZone});
  } catch (const ical::CalendarError& e) {
    out.push_back({L::Fail, std::string("time zone ([Site] TimeZone): ") + e.what()});
  }
}

// Tags of the template at `path` that the mails do not know.
std::set<std::string> UnknownTags(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream text;
  text << f.rdbuf();
  const std::vector<std::string_view>& known = KnownMailTags();
  std::set<std::string> unknown;
  ExpandTemplate(text.str(), [&](std::string_view tag, const std::vector<std::string>&) {
    if (std::find(known.begin(), known.end(), Upper(tag)) == known.end()) unknown.insert("<#" + std::string(tag) + ">");
    return std::string();
  });
  return unknown;
}

void CheckTemplates(const SiteIni& ini, const std::string& templateRoot, std::vector<L>& out) {
  MailSite site;
  site.ini = ini;
  site.templateRoot = templateRoot;
  // The sender and the zone are reported above; the templates are tried
  // apart from them.
  if (!mail::IsMailAddress(SenderOf(ini).address)) site.ini.MailFrom = "check@weborvane.invalid";
  site.ini.TimeZone = "UTC";
  const MailKind kinds[] = {MailKind::Confirmation, MailKind::Cancellation, MailKind::Reminder, MailKind::Reset};
  for (const char* lang : {"Fin", "Eng"}) {
    const std::string dir = templateRoot + lang + "/";
    bool ok = true;
    for (MailKind kind : kinds) {
      const std::string path = dir + MailTemplateFile(kind);
      try {
        RenderMail(Sample(kind, lang), site);
        std::set<std::string> unknown = UnknownTags(path);
        std::string names;
        for (const std::string& u : unknown) names += (names.empty() ? "" : ", ") + u;
        if (!unknown.empty())
          out.push_back({L::Warn, "mail template " + path + ": tags the mails do not know (they show as nothing): " +
                                      names});
      } catch (const std::exception& e) {
        out.push_back({L::Fail, "mail template " + path + ": " + e.what()});
        ok = false;
      }
    }
    if (ok) out.push_back({L::Ok, "mail templates " + dir + ": all " + std::to_string(std::size(kinds)) + " render"});
  }
}

}  // namespace

std::vector<site::CheckLine> CheckMailSetup(const SiteIni& ini, const std::string& templateRoot) {
  std::vector<L> out;
  if (!ini.Mail) {
    out.push_back({L::Ok, "mail: off ([Features] Mail), nothing is queued"});
    return out;
  }
  CheckServer(ini, out);
  CheckTemplates(ini, templateRoot, out);
  return out;
}

}  // namespace wo::mailer
