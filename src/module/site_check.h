// The health check of a site tree (`weborvane-admin check`): one line per
// finding, each OK, WARN or FAIL. A FAIL is something that stops the site
// or some of its pages; a WARN is something to look at.
#pragma once

#include <string>
#include <vector>

namespace wo::site {

struct CheckLine {
  enum Level { Ok, Warn, Fail };
  Level level;
  std::string text;
};

// "OK   text", "WARN text" or "FAIL text".
std::string FormatCheckLine(const CheckLine& line);

// Checks, for the tree of `iniPath` (see site_admin.h): the INI file
// (readable, every key known, each once), the password key, an open
// maintenance or an interrupted rekey, the database (reachable, every
// table and column, every index), both template folders (every page, the
// reset pages too with [Features] Mail on, tags the program knows) and the data and log folders and the database file
// (writable by `webUser`; only root can test that for another user).
std::vector<CheckLine> CheckSite(const std::string& iniPath, const std::string& webUser);

}  // namespace wo::site
