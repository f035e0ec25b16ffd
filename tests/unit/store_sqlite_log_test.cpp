// The write-ahead log of the embedded database: a connection that closes
// leaves its commits in the log (moving them costs flushes a request need
// not pay), the log never grows past a few commits beyond its limit, and
// whatever it holds is the database's for every later connection.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "support/dump.h"
#include "support/site.h"
#include "support/test_db.h"

namespace wo::store {
namespace {

namespace fs = std::filesystem;

constexpr uintmax_t kPageInLog = 4096 + 24;

uintmax_t LogSize(const test::TestDatabase& db) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(db.file() + "-wal", ec);
  return ec ? 0 : size;
}

int Count(Connection& c, const std::string& table) {
  return static_cast<int>(test::DumpTable(c, table).size());
}

TEST(SqliteLog, CommitsStayInAShortLogAndAreSeenByLaterConnections) {
  test::TestDatabase db(test::Engine::Sqlite);
  uintmax_t largest = 0;
  for (int i = 0; i < 300; ++i) {
    auto c = db.Connect();
    c->BeginWrite();
    test::InsertRow(*c, "VALAJI", {{"Koodi", std::to_string(i)}, {"Selite", std::string(900, 'x')}});
    c->Commit();
    c.reset();
    largest = std::max(largest, LogSize(db));
    ASSERT_EQ(Count(*db.Connect(), "VALAJI"), i + 1) << "commit " << i;
    if (i == 0) {
      EXPECT_GT(LogSize(db), 0u) << "closing moved the first commit into the database";
    }
  }
  EXPECT_LE(largest, 40 * kPageInLog) << "the log grows without being moved into the database";
  EXPECT_LT(LogSize(db), largest) << "the log was never emptied";
}

}  // namespace
}  // namespace wo::store
