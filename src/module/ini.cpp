#include "module/ini.h"

#include <ini.h>

#include "frame/text.h"

namespace wo {

namespace {

int OnValue(void* user, const char* section, const char* name, const char* value) {
  SiteIni& ini = *static_cast<SiteIni*>(user);
  std::string v = Cut(value ? value : "", 80);
  struct Key {
    const char* section;
    const char* name;
    std::string SiteIni::*field;
  };
  static const Key kKeys[] = {
      {"DataBase", "ServerName", &SiteIni::ServerName},
      {"DataBase", "ServerAddress", &SiteIni::ServerAddress},
      {"DataBase", "User", &SiteIni::User},
      {"DataBase", "Password", &SiteIni::Password},
      {"DataBase", "DatabaseFile", &SiteIni::DatabaseFile},
      {"Site", "CompanyName", &SiteIni::CompanyName},
      {"Site", "DecimalSeparator", &SiteIni::DecimalSeparator},
      {"Site", "TimeSeparator", &SiteIni::TimeSeparator},
      {"Security", "PasswordKey", &SiteIni::PasswordKey},
  };
  for (const Key& k : kKeys) {
    if (SameText(section, k.section) && SameText(name, k.name)) {
      // Separators fall back to their defaults rather than to nothing.
      if (v.empty() && (k.field == &SiteIni::DecimalSeparator || k.field == &SiteIni::TimeSeparator))
        return 1;
      ini.*k.field = v;
    }
  }
  return 1;  // unknown keys are ignored
}

}  // namespace

SiteIni ReadSiteIni(const std::string& path) {
  SiteIni ini;
  ini_parse(path.c_str(), &OnValue, &ini);
  std::string dir;
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) dir = path.substr(0, slash + 1);
  if (ini.DatabaseFile.empty()) ini.DatabaseFile = "../data/VELMORI.db";
  if (ini.DatabaseFile[0] != '/') ini.DatabaseFile = dir + ini.DatabaseFile;
  return ini;
}

store::ConnectionSettings ConnectionFromIni(const SiteIni& ini) {
  store::ConnectionSettings s;
  s.serverName = ini.ServerName;
  s.serverAddress = ini.ServerAddress;
  s.user = ini.User;
  s.password = ini.Password;
  s.databaseFile = ini.DatabaseFile;
  return s;
}

}  // namespace wo
