// The site's INI file (Velmori.ini): where the database is and the site's
// regional and security settings. It is read the way Windows reads such
// files: blanks around section names, keys and values do not count; section
// and key names compare without regard to case; where a key appears twice
// in a section the first one counts; a line that is no section and has no
// "=" is ignored, as are unknown sections and keys. A value ends where " ;"
// or a tab before ";" begins a comment. Only ServerName and ServerAddress
// (and the cipher's PasswordKey, see below) are cut to 80 characters.
#pragma once

#include <functional>
#include <stdexcept>
#include <string_view>
#include <string>
#include <vector>

#include "store/database.h"

namespace wo {

struct SiteIni {
  std::string ServerName, ServerAddress;  // [DataBase], 80 characters each
  std::string User, Password;             // [DataBase]
  std::string DatabaseFile;               // [DataBase], resolved against the INI's folder
  std::string CompanyName;                // [Site]
  std::string DecimalSeparator = ".";     // [Site]
  std::string TimeSeparator = ":";        // [Site]
  // [Site] Languages: the languages whose missing texts are added to
  // KAANNOS, comma-separated; kept as written.
  std::string Languages = "ENG";
  // [Security] PasswordKey, empty: the built-in key. Its first 80
  // characters key the cipher, as they always have: stored passwords
  // depend on them.
  std::string PasswordKey;
  // [Security] login throttling: failed logins allowed for one user name
  // and from one address within LoginLockMinutes; 0 switches a limit off.
  // A value that is not a whole number from 0 up keeps its default.
  int LoginFailuresPerUser = 10;
  int LoginFailuresPerAddress = 30;
  int LoginLockMinutes = 15;
  // [Site] TimeZone: the zone of the slots' wall-clock times, as the
  // calendar files name it; empty keeps the default.
  std::string TimeZone = "Europe/Helsinki";

  // [Features]: the program's additions to the pages and answers, each on
  // with 1 and off with 0, absent or any other value. Off, every page and
  // answer is exactly what it was before the feature existed.
  bool SlotStates = false;
  bool PageLanguage = false;
  bool OwnListDetails = false;
  bool ClearMessages = false;
  bool Mail = false;  // booking, cancellation and reset mails (mail/mail_queue.h)
  bool WaitingList = false;
  bool CalendarFeed = false;
  // How long a freed place is held for the first in line, in minutes.
  int OfferMinutes = 60;

  // [Mail]: the SMTP server ("smtp://host:port", STARTTLS when offered, or
  // "smtps://host:port") with its user and password, the sender's address
  // (MailFrom, the key From: "addr@host" or "Name <addr@host>"), the site's
  // absolute base URL for links in mails ("https://booking.example.org"),
  // and how many hours before its start a reservation's reminder goes out
  // (0: no reminders).
  std::string SmtpUrl, SmtpUser, SmtpPassword, MailFrom, SiteUrl;
  int ReminderHours = 24;
  // The marker of a site closed for maintenance: data/maintenance beside
  // the INI file's folder (ConnectionSettings::closedFile).
  std::string ClosedFile;

  // The Languages list, each upper-cased and cut to kLanguageKeyWidth
  // characters (the form of KAANNOS.LGKieli), blanks around the names
  // dropped.
  std::vector<std::string> LanguageKeys() const;
};

// How many characters of a language KAANNOS.LGKieli keeps as its key.
inline constexpr size_t kLanguageKeyWidth = 10;

// A missing or unreadable INI file.
class IniError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads `path`. Throws IniError, naming the file and the reason, when it
// cannot be read: a site that has lost its INI file must not carry on with
// the defaults (another database, another password key).
// A key that a site's INI file may hold. Keys that this file does not read
// itself are read by the part of the program that uses them.
struct IniKey {
  const char* section;
  const char* name;
};
// Every key of the INI file, in the order of the documentation.
const std::vector<IniKey>& KnownIniKeys();

SiteIni ReadSiteIni(const std::string& path);

// The whole text of `path`. Throws IniError, naming the file and the
// reason, when it cannot be read.
std::string ReadIniText(const std::string& path);

// One line of an INI text that is neither blank, a comment nor a section
// header: a key (`isKey`, with its section, name and value as the program
// reads them) or a line without "=" (`isKey` false), which is ignored.
struct IniEntry {
  int line;  // 1-based
  std::string_view section, name, value;
  bool isKey;
};
using IniEntryHandler = std::function<void(const IniEntry&)>;
// Calls `entry` for each such line of `text`, in order.
void ScanIni(std::string_view text, const IniEntryHandler& entry);

// Reads INI text as ReadSiteIni reads a file; `folder` (ending in "/", or
// empty) is the folder a relative DatabaseFile is taken from.
SiteIni ParseSiteIni(std::string_view text, const std::string& folder);

// The site's host name, for the UIDs of calendar events and the
// Message-IDs of mails: the host of [Mail] SiteUrl, else the domain of the
// [Mail] From address, else "weborvane.invalid".
std::string SiteHost(const SiteIni& ini);

// The connection the INI describes.
store::ConnectionSettings ConnectionFromIni(const SiteIni& ini);

}  // namespace wo
