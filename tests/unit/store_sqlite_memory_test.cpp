// The memory of a one-request process: the database library works as ever
// on it -- values small and large, values that grow, and on past the point
// where every allocation goes back to malloc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "store/sqlite_handle.h"

namespace wo::store {
namespace {

// 0 when the database kept and gave back what it was given.
int Exercise(const std::string& file) {
  UseOneRequestMemory();
  SqliteDb db = OpenSqliteDb(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  auto exec = [&](const std::string& sql) { return sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, nullptr); };
  if (exec("CREATE TABLE t (n INTEGER, v TEXT)") != SQLITE_OK) return 1;
  // Texts under and over the size that goes to malloc, and one grown by
  // concatenation far beyond it.
  for (int size : {1, 7, 8, 9, 4000, 16 * 1024, 16 * 1024 + 1, 300 * 1024})
    if (exec("INSERT INTO t VALUES (" + std::to_string(size) + ", printf('%." + std::to_string(size) +
             "c', 'x'))") != SQLITE_OK)
      return 2;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.get(), "SELECT n, length(v), (SELECT length(group_concat(v, '')) FROM t) FROM t", -1, &raw,
                         nullptr) != SQLITE_OK)
    return 3;
  SqliteStmt st(raw);
  long long total = 0;
  while (sqlite3_step(st.get()) == SQLITE_ROW) {
    if (sqlite3_column_int64(st.get(), 0) != sqlite3_column_int64(st.get(), 1)) return 4;
    total += sqlite3_column_int64(st.get(), 0);
    if (sqlite3_column_int64(st.get(), 2) != 1 + 7 + 8 + 9 + 4000 + 16 * 1024 + 16 * 1024 + 1 + 300 * 1024) return 5;
  }
  if (total != 1 + 7 + 8 + 9 + 4000 + 16 * 1024 + 16 * 1024 + 1 + 300 * 1024) return 6;
  st.reset();
  // Thousands of statements made and dropped take the blocks past their
  // limit; what follows still works.
  for (int i = 0; i < 4000; ++i)
    if (exec("SELECT count(*) FROM t WHERE n > " + std::to_string(i) + " AND v LIKE '%y%'") != SQLITE_OK) return 7;
  if (exec("UPDATE t SET v = v || v WHERE n = 16385") != SQLITE_OK) return 8;
  return 0;
}

TEST(SqliteMemory, OneRequestProcessKeepsEveryValue) {
  // A fresh process: the library starts there with this memory.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string file =
      (std::filesystem::temp_directory_path() / ("wo_memory_" + std::to_string(getpid()) + ".db")).string();
  EXPECT_EXIT(std::_Exit(Exercise(file)), ::testing::ExitedWithCode(0), "");
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace wo::store
