#include "support/test_db.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "support/pg.h"

namespace wo::test {

const char* EngineName(Engine e) { return e == Engine::Sqlite ? "Sqlite" : "Postgres"; }

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/weborvane-test-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a temporary folder " + tmpl);
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

TestDatabase::TestDatabase(Engine e) : engine_(e) {
  if (e == Engine::Sqlite) {
    dir_ = std::make_unique<TempDir>();
    settings_.databaseFile = dir_->File("VELMORI.db");
    settings_.createIfMissing = true;
    Connect()->CreateSchema();
    settings_.createIfMissing = false;
  } else {
    pg_ = std::make_unique<PgDatabase>();
    settings_ = pg_->settings();
    Connect()->CreateSchema();
  }
}

TestDatabase::~TestDatabase() = default;

}  // namespace wo::test
