// Connection::CreateSchema on a database of an older version: it adds the
// missing tables, columns and indexes in one transaction, keeps the rows,
// and a second run changes nothing; on either engine.
#include <gtest/gtest.h>

#include "store/backend.h"
#include "store/database.h"
#include "store/table.h"
#include "support/pg.h"
#include "support/test_db.h"

namespace wo::store {
namespace {

using test::Engine;

class StoreUpgrade : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Engine::Postgres) {
      WO_REQUIRE_PG_OR_SKIP();
      pg = std::make_unique<test::PgDatabase>();
      settings = pg->settings();
    } else {
      settings.databaseFile = dir.File("VELMORI.db");
      settings.createIfMissing = true;
    }
    // An older site: WEBREG with two columns and a row, no KAANNOS yet.
    std::unique_ptr<Connection> c = Connection::Open(settings);
    c->backend().ExecScript("CREATE TABLE WEBREG (Tunnus varchar(15) NOT NULL, PinKoodi varchar(15) NOT NULL)");
    c->backend().ExecScript("INSERT INTO WEBREG (Tunnus, PinKoodi) VALUES ('vanha', 'x')");
  }

  test::TempDir dir;
  std::unique_ptr<test::PgDatabase> pg;
  ConnectionSettings settings;
};

bool Has(const std::vector<SchemaChange>& v, SchemaChange::Kind k, const std::string& table, const std::string& name) {
  for (const SchemaChange& c : v)
    if (c.kind == k && c.table == table && c.name == name) return true;
  return false;
}

TEST_P(StoreUpgrade, AddsWhatIsMissingKeepsTheRowsAndAgainChangesNothing) {
  std::unique_ptr<Connection> c = Connection::Open(settings);
  std::vector<SchemaChange> missing = c->MissingSchema();
  std::vector<SchemaChange> added = c->CreateSchema();
  EXPECT_EQ(added, missing);
  EXPECT_TRUE(Has(added, SchemaChange::Column, "WEBREG", "AsNo"));
  EXPECT_TRUE(Has(added, SchemaChange::Column, "WEBREG", "TmpSaldo"));
  EXPECT_FALSE(Has(added, SchemaChange::Column, "WEBREG", "Tunnus"));
  EXPECT_TRUE(Has(added, SchemaChange::Table, "KAANNOS", ""));
  EXPECT_TRUE(Has(added, SchemaChange::Index, "WEBREG", "WEBREG_Tunnus"));

  Table t(*c, TableNamed("WEBREG"), "", "Tunnus");
  t.Open();
  ASSERT_TRUE(t.FindKey({Txt("vanha")}));
  EXPECT_TRUE(t.IsNull("AsNo"));
  t.Edit();
  t["AsNo"].SetText("500000");
  t.Post();
  t.Close();

  EXPECT_TRUE(c->MissingSchema().empty());
  EXPECT_TRUE(c->CreateSchema().empty());
}

TEST_P(StoreUpgrade, AFailureLeavesTheSchemaAsItWas) {
  std::unique_ptr<Connection> c = Connection::Open(settings);
  // Something named KAANNOS that is no table: its indexes cannot be made.
  c->backend().ExecScript("CREATE VIEW KAANNOS AS SELECT 1 AS LGKieli");
  EXPECT_THROW(c->CreateSchema(), DatabaseError);
  std::vector<SchemaChange> missing = c->MissingSchema();
  EXPECT_TRUE(Has(missing, SchemaChange::Column, "WEBREG", "AsNo"));
  EXPECT_TRUE(Has(missing, SchemaChange::Table, "VAVARAUS", ""));
}

WO_INSTANTIATE_PER_ENGINE(StoreUpgrade);

}  // namespace
}  // namespace wo::store
