// Rendering a queued mail: its template, expanded with its facts, becomes
// the MIME message that the sender delivers; a booking's confirmation and
// a cancellation carry the reservation's event as an iCalendar file.
//
// The templates are text files of the site's template folders, Windows-1252
// like the pages, in the language the mail was queued in (TemplateDirectory:
// Eng for "ENG" in any case, Fin for anything else):
//   mail_varaus.txt     booking confirmation
//   mail_peruutus.txt   cancellation
//   mail_muistutus.txt  reminder
//   mail_salasana.txt   password reset
//   mail_tarjous.txt    waiting-list offer
// The first line is the subject, the rest the text (blank lines right after
// the subject are dropped). Tags are written as in the pages, "<#NAME>":
//   YRITYS, YRPUHELIN, YREMAIL  the centre: [Site] CompanyName, the phone
//                               and e-mail of the site settings
//   NIMI, ETUNIMI, TUNNUS       the user: "first last", first name, user name
//   MITA, MISSA                 what (the activity) and where (resource, centre)
//   AIKA                        when: weekday, date and "start–end"
//   OHJAAJA                     the instructor, as the site shows instructors
//   MAKSU, SALDO                the reservation fee and the balance after the
//                               change, with the fee in use
//   PERUUTUSASTI                until when it can be cancelled (weekday, date, time)
//   OMATLINKKI                  the link to log in and see own reservations
//   PALAUTUSLINKKI, VOIMASSA    the password-reset link, its minutes of validity
//   TARJOUSLINKKI, TARJOUSASTI  a waiting-list offer: the link that books the
//                               held place, and until when it is held
// A tag may carry a text to write before its value and one to write after
// it, both only when it has a value: <#OHJAAJA "Instructor: ">,
// <#PERUUTUSASTI "Cancel by " ".">. As in the pages' tag parameters, "+"
// in them stands for a blank and "%" is written "%%". A line that has
// nothing but tags that came out empty (and blanks) is left out, so such a
// line vanishes with its texts. An unknown tag gives nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "module/ini.h"
#include "store/outbox.h"

namespace wo::mailer {

// What rendering needs of the site besides the message.
struct MailSite {
  SiteIni ini;                // CompanyName, separators, TimeZone, [Mail] From and SiteUrl
  std::string templateRoot;   // the folder holding Fin/ and Eng/, ending in "/"
  std::string phone, email;   // WEBPARAM "01" Puhelin and EMail
};

// The sender's address of [Mail] From ("addr" or "Name <addr>"), and the
// display name: the one given there, else [Site] CompanyName. UTF-8.
struct Sender {
  std::string name, address;
};
Sender SenderOf(const SiteIni& ini);

// SiteHost (module/ini.h) names the site in UIDs and Message-IDs.

struct RenderedMail {
  std::string from;     // the envelope sender (address only)
  std::string to;       // the recipient's address
  std::string subject;  // UTF-8, for reports
  std::string message;  // the whole message, ready for SMTP
};

// Renders `m`. Throws TemplateError when its template cannot be read,
// ical::CalendarError for an unknown time zone, std::runtime_error when the
// sender's address is missing or not an address.
RenderedMail RenderMail(const store::OutboxMessage& m, const MailSite& site);

// The template file of `kind` ("mail_varaus.txt"), as listed above.
const char* MailTemplateFile(store::MailKind kind);

// The tags of the mail templates, in upper case.
const std::vector<std::string_view>& KnownMailTags();

}  // namespace wo::mailer
