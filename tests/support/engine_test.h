// A test run once per engine on a fresh database with every table and
// index: INSTANTIATE_TEST_SUITE_P(..., testing::Values(Engine::Sqlite,
// Engine::Postgres), ...). PostgreSQL cases skip only where its server
// programs are missing (pg.h); a database that cannot be made fails the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "store/database.h"
#include "support/pg.h"
#include "support/test_db.h"

namespace wo::test {

class EngineTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::Postgres) WO_REQUIRE_PG_OR_SKIP();
    try {
      db = std::make_unique<TestDatabase>(GetParam());
    } catch (const std::exception& e) {
      FAIL() << e.what();
    }
    c = db->Connect();
  }

  std::unique_ptr<TestDatabase> db;
  std::unique_ptr<store::Connection> c;  // closed before the database goes
};

}  // namespace wo::test
