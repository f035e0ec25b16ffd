// A connection's change stamp: the same while nothing is written, another
// after any write, by the connection itself (kept or rolled back) or by
// another one; a PostgreSQL server gives none.
#include <gtest/gtest.h>

#include <functional>

#include "store/change_stamp.h"
#include "support/engine_test.h"
#include "support/site.h"

namespace wo::store {
namespace {

using test::Engine;

class StoreChangeStamp : public test::EngineTest {};

TEST_P(StoreChangeStamp, DiffersAfterEveryWrite) {
  const std::optional<ChangeStamp> first = ChangeStampOf(*c);
  if (GetParam() == Engine::Postgres) {
    EXPECT_FALSE(first.has_value());
    return;
  }
  ASSERT_TRUE(first.has_value());
  std::unique_ptr<Connection> other = db->Connect();
  const struct {
    const char* what;
    std::function<void()> write;
  } steps[] = {
      {"own", [&] { test::InsertRow(*c, "VALAJI", {{"Koodi", "A"}}); }},
      {"another connection's", [&] { test::InsertRow(*other, "VALAJI", {{"Koodi", "B"}}); }},
      {"own, rolled back",
       [&] {
         c->BeginWrite();
         test::InsertRow(*c, "VALAJI", {{"Koodi", "C"}});
         c->Rollback();
       }},
  };
  ChangeStamp before = *first;
  EXPECT_TRUE(ChangeStampOf(*c) == before) << "nothing written";
  for (const auto& s : steps) {
    s.write();
    const std::optional<ChangeStamp> now = ChangeStampOf(*c);
    ASSERT_TRUE(now.has_value()) << s.what;
    EXPECT_FALSE(*now == before) << s.what;
    EXPECT_TRUE(ChangeStampOf(*c) == now) << s.what;
    before = *now;
  }
}

WO_INSTANTIATE_PER_ENGINE(StoreChangeStamp);

}  // namespace
}  // namespace wo::store
