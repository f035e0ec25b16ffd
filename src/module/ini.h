// The site's INI file (Velmori.ini): where the database is and the site's
// regional and security settings. Section and key names compare without
// regard to case; values are cut to 80 characters; unknown keys are ignored.
#pragma once

#include <string>

#include "store/database.h"

namespace wo {

struct SiteIni {
  std::string ServerName, ServerAddress;  // [DataBase]
  std::string User, Password;             // [DataBase]
  std::string DatabaseFile;               // [DataBase], resolved against the INI's folder
  std::string CompanyName;                // [Site]
  std::string DecimalSeparator = ".";     // [Site]
  std::string TimeSeparator = ":";        // [Site]
  std::string PasswordKey;                // [Security], empty: the built-in key
};

// Reads `path`; a missing or unreadable file gives the defaults.
SiteIni ReadSiteIni(const std::string& path);

// The connection the INI describes.
store::ConnectionSettings ConnectionFromIni(const SiteIni& ini);

}  // namespace wo
