#include "module/ini.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/text.h"

namespace wo {

namespace {

// Every key the program reads. `width` cuts a text value (0: kept whole);
// a number takes a whole number from 0 to kMaxNumber, anything else keeps
// the default; a switch is on for "1" and off for anything else.
struct KeyDef {
  const char* section;
  const char* name;
  std::string SiteIni::*text = nullptr;
  size_t width = 0;
  int SiteIni::*number = nullptr;
  bool SiteIni::*flag = nullptr;
};

constexpr long long kMaxNumber = 1000000;

const KeyDef kKeys[] = {
    {"DataBase", "ServerName", &SiteIni::ServerName, 80},
    {"DataBase", "ServerAddress", &SiteIni::ServerAddress, 80},
    {"DataBase", "User", &SiteIni::User},
    {"DataBase", "Password", &SiteIni::Password},
    {"DataBase", "DatabaseFile", &SiteIni::DatabaseFile},
    {"Site", "CompanyName", &SiteIni::CompanyName},
    {"Site", "DecimalSeparator", &SiteIni::DecimalSeparator},
    {"Site", "TimeSeparator", &SiteIni::TimeSeparator},
    {"Site", "Languages", &SiteIni::Languages},
    {"Security", "PasswordKey", &SiteIni::PasswordKey, 80},
    {"Security", "LoginFailuresPerUser", nullptr, 0, &SiteIni::LoginFailuresPerUser},
    {"Security", "LoginFailuresPerAddress", nullptr, 0, &SiteIni::LoginFailuresPerAddress},
    {"Security", "LoginLockMinutes", nullptr, 0, &SiteIni::LoginLockMinutes},
    {"Site", "TimeZone", &SiteIni::TimeZone},
    {"Features", "SlotStates", nullptr, 0, nullptr, &SiteIni::SlotStates},
    {"Features", "PageLanguage", nullptr, 0, nullptr, &SiteIni::PageLanguage},
    {"Features", "OwnListDetails", nullptr, 0, nullptr, &SiteIni::OwnListDetails},
    {"Features", "ClearMessages", nullptr, 0, nullptr, &SiteIni::ClearMessages},
    {"Features", "Mail", nullptr, 0, nullptr, &SiteIni::Mail},
    {"Features", "WaitingList", nullptr, 0, nullptr, &SiteIni::WaitingList},
    {"Features", "CalendarFeed", nullptr, 0, nullptr, &SiteIni::CalendarFeed},
    {"Features", "OfferMinutes", nullptr, 0, &SiteIni::OfferMinutes},
    {"Mail", "SmtpUrl", &SiteIni::SmtpUrl},
    {"Mail", "SmtpUser", &SiteIni::SmtpUser},
    {"Mail", "SmtpPassword", &SiteIni::SmtpPassword},
    {"Mail", "From", &SiteIni::MailFrom},
    {"Mail", "SiteUrl", &SiteIni::SiteUrl},
    {"Mail", "ReminderHours", nullptr, 0, &SiteIni::ReminderHours},
};
constexpr size_t kKeyCount = sizeof kKeys / sizeof kKeys[0];

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && Blank(s.back())) s.remove_suffix(1);
  return s;
}

// The value up to a ";" that follows a blank (an inline comment).
std::string_view WithoutComment(std::string_view v) {
  for (size_t i = 1; i < v.size(); ++i)
    if (v[i] == ';' && Blank(v[i - 1])) return TrimBlanks(v.substr(0, i));
  return v;
}

void Apply(SiteIni& ini, const KeyDef& k, std::string_view value) {
  if (k.flag) {
    ini.*k.flag = value == "1";
    return;
  }
  if (k.number) {
    const long long n = ToIntDef(value, -1);
    if (n >= 0 && n <= kMaxNumber) ini.*k.number = static_cast<int>(n);
    return;
  }
  // Separators and the time zone fall back to their defaults rather than
  // to nothing.
  if (value.empty() && (k.text == &SiteIni::DecimalSeparator || k.text == &SiteIni::TimeSeparator ||
                        k.text == &SiteIni::TimeZone))
    return;
  ini.*k.text = k.width ? Cut(value, k.width) : std::string(value);
}

}  // namespace

std::vector<std::string> SiteIni::LanguageKeys() const {
  std::vector<std::string> keys;
  std::string_view rest = Languages;
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string_view item = TrimBlanks(rest.substr(0, comma));
    if (!item.empty()) keys.push_back(Upper(Cut(item, kLanguageKeyWidth)));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  return keys;
}

void ScanIni(std::string_view text, const IniEntryHandler& entry) {
  if (text.substr(0, 3) == "\xef\xbb\xbf") text.remove_prefix(3);  // byte order mark
  std::string section;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const size_t lf = text.find('\n');
    const std::string_view line = TrimBlanks(text.substr(0, lf));
    text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      section = std::string(TrimBlanks(line.substr(1, close == std::string_view::npos ? close : close - 1)));
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      entry(IniEntry{number, section, {}, {}, false});
      continue;
    }
    entry(IniEntry{number, section, TrimBlanks(line.substr(0, eq)), WithoutComment(TrimBlanks(line.substr(eq + 1))),
                   true});
  }
}

SiteIni ParseSiteIni(std::string_view text, const std::string& folder) {
  SiteIni ini;
  bool seen[kKeyCount] = {};
  ScanIni(text, [&](const IniEntry& e) {
    if (!e.isKey) return;
    for (size_t i = 0; i < kKeyCount; ++i) {
      if (seen[i] || !SameText(e.section, kKeys[i].section) || !SameText(e.name, kKeys[i].name)) continue;
      seen[i] = true;
      Apply(ini, kKeys[i], e.value);
    }
  });
  if (ini.DatabaseFile.empty()) ini.DatabaseFile = "../data/VELMORI.db";
  if (ini.DatabaseFile[0] != '/') ini.DatabaseFile = folder + ini.DatabaseFile;
  ini.ClosedFile = folder + "../data/maintenance";
  return ini;
}

const std::vector<IniKey>& KnownIniKeys() {
  static const std::vector<IniKey> keys = [] {
    std::vector<IniKey> v;
    for (const KeyDef& k : kKeys) v.push_back({k.section, k.name});
    return v;
  }();
  return keys;
}

std::string ReadIniText(const std::string& path) {
  auto failure = [&path](int err) {
    return IniError("cannot read the INI file " + path + ": " + std::strerror(err));
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw failure(errno);
  std::string text;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {  // a folder, for one, opens but does not read
      const int err = errno;
      ::close(fd);
      throw failure(err);
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

SiteIni ReadSiteIni(const std::string& path) {
  const std::string text = ReadIniText(path);
  const size_t slash = path.rfind('/');
  return ParseSiteIni(text, slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
}

store::ConnectionSettings ConnectionFromIni(const SiteIni& ini) {
  store::ConnectionSettings s;
  s.serverName = ini.ServerName;
  s.serverAddress = ini.ServerAddress;
  s.user = ini.User;
  s.password = ini.Password;
  s.databaseFile = ini.DatabaseFile;
  s.closedFile = ini.ClosedFile;
  return s;
}

std::string SiteHost(const SiteIni& ini) {
  std::string u = Trim(ini.SiteUrl);
  const size_t scheme = u.find("://");
  if (scheme != std::string::npos) {
    u = u.substr(scheme + 3);
    u = u.substr(0, u.find_first_of("/?#"));
    if (const size_t at = u.rfind('@'); at != std::string::npos) u = u.substr(at + 1);
    if (!u.empty() && u.front() != '[') u = u.substr(0, u.find(':'));
    if (!u.empty()) return u;
  }
  // The sender's address: within "<...>" when From names the sender too.
  std::string address = Trim(ini.MailFrom);
  const size_t lt = address.find('<'), gt = address.rfind('>');
  if (lt != std::string::npos && gt != std::string::npos && gt > lt) address = Trim(address.substr(lt + 1, gt - lt - 1));
  const size_t at = address.rfind('@');
  if (at != std::string::npos && at + 1 < address.size()) return address.substr(at + 1);
  return "weborvane.invalid";
}

}  // namespace wo
