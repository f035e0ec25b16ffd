// Throwaway databases for tests: a SQLite file in a fresh temporary folder,
// or a fresh database on the PostgreSQL test server (pg.h). Either comes
// with every table and index created.
#pragma once

#include <memory>
#include <string>

#include "store/database.h"

namespace wo::test {

enum class Engine { Sqlite, Postgres };
const char* EngineName(Engine e);  // "Sqlite", "Postgres"

// Instantiates the per-engine suite `Suite` for the engine this test
// program runs on: PostgreSQL where it is built with WO_PG_TESTS, SQLite
// otherwise. The instance and the parameter are named after the engine.
#ifdef WO_PG_TESTS
#define WO_INSTANTIATE_PER_ENGINE(Suite)                                                          \
  INSTANTIATE_TEST_SUITE_P(Postgres, Suite, ::testing::Values(::wo::test::Engine::Postgres), \
                           [](const auto& i) { return ::wo::test::EngineName(i.param); })
#else
#define WO_INSTANTIATE_PER_ENGINE(Suite)                                                      \
  INSTANTIATE_TEST_SUITE_P(Sqlite, Suite, ::testing::Values(::wo::test::Engine::Sqlite), \
                           [](const auto& i) { return ::wo::test::EngineName(i.param); })
#endif

// A fresh folder under $TMPDIR (or /tmp); removed with its content on
// destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class PgDatabase;

// A database with the schema created (Connection::CreateSchema), dropped or
// deleted on destruction. Throws std::runtime_error when it cannot be made
// (for PostgreSQL: the test server is not reachable; see pg.h).
class TestDatabase {
 public:
  explicit TestDatabase(Engine e);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  Engine engine() const { return engine_; }
  // For Connection::Open; a child process may open its own connection.
  const store::ConnectionSettings& settings() const { return settings_; }
  std::unique_ptr<store::Connection> Connect() const { return store::Connection::Open(settings_); }
  // The SQLite file (empty for PostgreSQL).
  const std::string& file() const { return settings_.databaseFile; }

 private:
  Engine engine_;
  std::unique_ptr<TempDir> dir_;
  std::unique_ptr<PgDatabase> pg_;
  store::ConnectionSettings settings_;
};

}  // namespace wo::test
