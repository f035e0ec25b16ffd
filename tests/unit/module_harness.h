// Shared pieces of the web module's tests: a module built directly on a
// throwaway site (for tags and renderers), a fixed clock, and raw SQL on the
// site's SQLite file for conditions the program itself never creates
// (dropped tables, a refusing trigger).
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "frame/request.h"
#include "frame/response.h"
#include "module/module.h"
#include "base/datetime.h"
#include "support/site.h"

namespace wo::test {

// Runs SQL directly on the site's database file.
inline void ExecSql(const TempSite& site, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open(site.dbFile().c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot open test db");
  char* err = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  std::string msg = err ? err : "";
  sqlite3_free(err);
  sqlite3_close(db);
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
class FixedClock {
 public:
  explicit FixedClock(DateTime t) {
    now_ = t;
    SetClockForTesting(&Read);
  }
  ~FixedClock() { SetClockForTesting(nullptr); }
  FixedClock(const FixedClock&) = delete;
  FixedClock& operator=(const FixedClock&) = delete;

 private:
  static DateTime Read() { return now_; }
  static inline DateTime now_ = 0;
};

// A web module on `site`, as a request to `path` with `query` would create
// it (working directory www/cgi-bin while it lives).
class ModuleOnSite {
 public:
  explicit ModuleOnSite(const TempSite& site, std::string path = "/Index", std::string query = "")
      : cwd_(site.cgiDir()),
        req_("GET", std::move(path), std::move(query)),
        resp_([](std::string_view) {}, true),
        module_(std::make_unique<WebModule>(req_, resp_, ModulePaths{site.iniFile(), site.logDir() + "/"})) {}

  WebModule& operator*() { return *module_; }
  WebModule* operator->() { return module_.get(); }
  std::string Tag(std::string_view name) { return module_->PageProdRootHTMLTag(name); }
  Response& response() { return resp_; }

 private:
  ScopedCwd cwd_;
  Request req_;
  Response resp_;
  std::unique_ptr<WebModule> module_;
};

// A local date-time from its parts.
inline DateTime At(int y, int m, int d, int hh = 0, int nn = 0) { return EncodeDate(y, m, d) + EncodeTime(hh, nn, 0); }

}  // namespace wo::test
