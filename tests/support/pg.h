// The PostgreSQL test server. `tests/pg/pg-server.sh start` runs a
// throwaway server (ctest does so through the fixture "pg", see
// tests/store.cmake); tests find it through these environment variables:
//   WO_PG_HOST  default 127.0.0.1
//   WO_PG_PORT  default 16000
//   WO_PG_USER  default weborvane (a role with CREATEDB, no password)
// A test that needs the server calls WO_REQUIRE_PG_OR_SKIP() first: it
// skips, loudly, only on a machine without PostgreSQL's server programs;
// with them installed an unreachable server fails the test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "store/database.h"

namespace wo::test {

struct PgServer {
  std::string host;
  int port = 16000;
  std::string user;
};
PgServer PgServerFromEnv();

// True when initdb of some PostgreSQL version is installed.
bool PgInstalled();

// Settings for the database `name` on the test server.
store::ConnectionSettings PgSettings(const std::string& name);

// A fresh, uniquely named, empty database on the test server: created on
// construction, dropped (with any sessions still on it) on destruction.
// Throws std::runtime_error naming the server when it is not reachable.
class PgDatabase {
 public:
  PgDatabase();
  ~PgDatabase();
  PgDatabase(const PgDatabase&) = delete;
  PgDatabase& operator=(const PgDatabase&) = delete;
  const std::string& name() const { return name_; }
  const store::ConnectionSettings& settings() const { return settings_; }

 private:
  std::string name_;
  store::ConnectionSettings settings_;
};

}  // namespace wo::test

#define WO_REQUIRE_PG_OR_SKIP()                                                             \
  do {                                                                                      \
    if (!::wo::test::PgInstalled())                                                         \
      GTEST_SKIP() << "\n*** PostgreSQL is not installed on this machine: SKIPPING the "    \
                      "PostgreSQL tests (run scripts/install-deps) ***\n";                  \
  } while (0)

// Test files that need the server are named tests/unit/store_*_test.cpp or
// tests/unit/*_pg_test.cpp: tests/store.cmake compiles them a second time,
// with WO_PG_TESTS defined, into store_pg_tests, which ctest runs while the
// throwaway server is up. Instantiate the PostgreSQL cases under
// `#ifdef WO_PG_TESTS` and the SQLite ones otherwise.
