// A connection's change stamp: the same while nothing is written, another
// after any write, by the connection itself (kept or rolled back) or by
// another one, and after another connection's transaction that was open
// when the stamp was taken ends.
#include <gtest/gtest.h>

#include <functional>

#include "store/change_stamp.h"
#include "support/engine_test.h"
#include "support/site.h"

namespace wo::store {
namespace {

using test::Engine;

class StoreChangeStamp : public test::EngineTest {};

// A server's stamp changes with every write on the server, also the other
// tests' in other databases: a stamp that the next one repeats, once the
// server has been quiet between them; nullopt when it never was.
std::optional<ChangeStamp> QuietStamp(Connection& c) {
  std::optional<ChangeStamp> s = ChangeStampOf(c);
  for (int i = 0; i < 200 && s; ++i) {
    std::optional<ChangeStamp> again = ChangeStampOf(c);
    if (again == s) return s;
    s = again;
  }
  return std::nullopt;
}

TEST_P(StoreChangeStamp, DiffersAfterEveryWrite) {
  const std::optional<ChangeStamp> first = QuietStamp(*c);
  ASSERT_TRUE(first.has_value());
  std::unique_ptr<Connection> other = db->Connect();
  std::optional<ChangeStamp> during;
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
      // Taken while the other connection's write is not committed yet, a
      // stamp holds for what it reads then, not for what it reads after
      // the commit.
      {"another connection's, committed after the stamp",
       [&] {
         other->BeginWrite();
         test::InsertRow(*other, "VALAJI", {{"Koodi", "D"}});
         during = ChangeStampOf(*c);
         other->Commit();
       }},
  };
  ChangeStamp before = *first;
  if (GetParam() == Engine::Sqlite) {
    EXPECT_TRUE(ChangeStampOf(*c) == before) << "nothing written";
  }
  for (const auto& s : steps) {
    s.write();
    const std::optional<ChangeStamp> now = QuietStamp(*c);
    ASSERT_TRUE(now.has_value()) << s.what;
    EXPECT_FALSE(*now == before) << s.what;
    before = *now;
  }
  ASSERT_TRUE(during.has_value());
  EXPECT_FALSE(*during == before) << "a commit after the stamp";
}

WO_INSTANTIATE_PER_ENGINE(StoreChangeStamp);

}  // namespace
}  // namespace wo::store
