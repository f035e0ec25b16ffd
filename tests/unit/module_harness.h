// Shared pieces of the web module's tests: a module built directly on a
// throwaway site (for tags and renderers), a fixed clock, and raw SQL on the
// site's SQLite file for conditions the program itself never creates
// (dropped tables).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/datetime.h"
#include "module/context.h"
#include "store/sqlite_handle.h"
#include "support/clock.h"
#include "support/faulty_store.h"
#include "support/module_on_site.h"
#include "support/site.h"

namespace wo::test {

// Runs SQL directly on the site's database file.
inline void ExecSql(const TempSite& site, const std::string& sql) {
  store::SqliteDb db = store::OpenSqliteDb(site.dbFile(), SQLITE_OPEN_READWRITE);
  char* err = nullptr;
  int rc = sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &err);
  std::string msg = err ? err : "";
  sqlite3_free(err);
  if (rc != SQLITE_OK) throw std::runtime_error("sql failed: " + msg);
}

// Rows of a table, counted through a handle of the store.
inline int CountRows(const TempSite& site, std::string_view table, std::string_view index) {
  auto c = site.Connect();
  store::Table t(*c, store::TableNamed(table), "", index);
  t.Open();
  int n = t.RecordCount();
  t.Close();
  return n;
}

// The clock stands at a fixed local date-time while the object lives.
using FixedClock = TestClock;

// A local date-time from its parts.
inline DateTime At(int y, int m, int d, int hh = 0, int nn = 0) { return EncodeDate(y, m, d) + EncodeTime(hh, nn, 0); }

}  // namespace wo::test
