// The stores the concurrency tests run over: the embedded SQLite file of a
// throwaway site and the PostgreSQL test server (support/pg.h), where the
// program reaches the database VELMORI on port 16000.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "store/backend.h"
#include "store/database.h"
#include "support/pg.h"
#include "support/site.h"

namespace wo::test {

struct Backend {
  std::string name;
  std::function<std::string()> extraIni;  // the site's INI lines (TempSite::WriteIni)
  // Empty when the tests can run; otherwise why they are skipped.
  std::function<std::string()> unavailable;
  std::function<void()> prepare;  // before the site is created
  std::function<std::unique_ptr<store::Connection>(const TempSite&)> connect;
  bool createSchema = true;  // the site creates its SQLite schema
};

inline void PrintTo(const Backend* b, std::ostream* os) { *os << b->name; }

inline const Backend kSqlite{"Sqlite", [] { return std::string(); }, [] { return std::string(); }, [] {},
                             [](const TempSite& s) { return s.Connect(); }, true};

// The database the program opens on a server: the alias, exactly.
inline const char kPgAlias[] = "VELMORI";

// Drops and creates VELMORI on the test server and creates the schema.
inline void RecreatePgVelmori() {
  try {
    auto server = store::Connection::Open(PgSettings("postgres"));
    server->backend().ExecScript(std::string("DROP DATABASE IF EXISTS \"") + kPgAlias + "\" WITH (FORCE)");
    server->backend().ExecScript(std::string("CREATE DATABASE \"") + kPgAlias +
                                 "\" ENCODING 'UTF8' TEMPLATE template0");
  } catch (const store::DatabaseError& e) {
    const PgServer srv = PgServerFromEnv();
    throw std::runtime_error("the PostgreSQL test server at " + srv.host + ":" + std::to_string(srv.port) +
                             " cannot recreate " + kPgAlias + " (tests/pg/pg-server.sh start): " + e.what());
  }
  store::Connection::Open(PgSettings(kPgAlias))->CreateSchema();
}

inline const Backend kPostgres{
    "Postgres",
    [] {
      const PgServer srv = PgServerFromEnv();
      return "[DataBase]\nServerName=WebOrvaneTest\nServerAddress=" + srv.host + "\nUser=" + srv.user + "\n";
    },
    [] {
      if (!PgInstalled()) return std::string("PostgreSQL is not installed on this machine (scripts/install-deps)");
      if (PgServerFromEnv().port != 16000)
        return std::string("the program reaches its server on port 16000 only; the test server is elsewhere");
      return std::string();
    },
    RecreatePgVelmori,
    [](const TempSite&) { return store::Connection::Open(PgSettings(kPgAlias)); },
    false};

inline std::vector<const Backend*> AllBackends() { return {&kSqlite, &kPostgres}; }

// A throwaway site on the test's backend, with the error page "E:<#ERROR>".
// MakeSite skips the test, loudly, where the backend cannot run; otherwise
// it prepares the backend's database and writes the site's INI: the
// backend's lines, then `extraIni`.
class BackendSite : public ::testing::TestWithParam<const Backend*> {
 protected:
  void MakeSite(const std::string& extraIni = "") {
    const Backend& b = *GetParam();
    const std::string why = b.unavailable();
    if (!why.empty()) GTEST_SKIP() << "\n*** " << b.name << " SKIPPED: " << why << " ***\n";
    b.prepare();
    site_ = std::make_unique<TempSite>(SiteOptions{false, b.createSchema, b.extraIni() + extraIni});
    site_->WriteTemplate("Fin", "error.html", "E:<#ERROR>");
    conn_ = b.connect(*site_);
  }
  void Insert(std::string_view table, const Row& row) { InsertRow(*conn_, table, row); }

  std::unique_ptr<TempSite> site_;
  std::unique_ptr<store::Connection> conn_;
};

}  // namespace wo::test
