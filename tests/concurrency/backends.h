// The stores the concurrency tests run over: the embedded SQLite file of a
// throwaway site and, where the test server is up, PostgreSQL.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/database.h"
#include "support/site.h"

namespace wo::test {

struct Backend {
  std::string name;
  std::string extraIni;                       // appended to the site's INI file
  std::function<bool()> available;            // false: the tests are skipped
  std::function<void()> prepare;              // before the site is created
  std::function<std::unique_ptr<store::Connection>(const TempSite&)> connect;
};

inline const Backend kSqlite{"Sqlite", "", [] { return true; }, [] {},
                             [](const TempSite& s) { return s.Connect(); }};

inline std::vector<const Backend*> AllBackends() { return {&kSqlite}; }

}  // namespace wo::test
