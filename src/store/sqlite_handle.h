// Owners of the SQLite library's objects: a database connection closes, a
// statement finalizes, an online backup finishes when its owner goes.
// Whoever holds one of these owns the object; a plain pointer taken with
// get() only borrows it.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

namespace wo::store {

struct SqliteClose {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct SqliteFinalize {
  void operator()(sqlite3_stmt* st) const noexcept { sqlite3_finalize(st); }
};
struct SqliteBackupFinish {
  void operator()(sqlite3_backup* b) const noexcept { sqlite3_backup_finish(b); }
};

using SqliteDb = std::unique_ptr<sqlite3, SqliteClose>;
using SqliteStmt = std::unique_ptr<sqlite3_stmt, SqliteFinalize>;
using SqliteBackup = std::unique_ptr<sqlite3_backup, SqliteBackupFinish>;

// For a process that serves one request and ends: the library takes its
// memory in large blocks and gives none back until the process ends, which
// spares it an allocation and a release of its own for each of the many
// small objects a connection makes and closes (allocations above 16 KB,
// and all once 16 MB are taken, still come from malloc and go back to
// free). REQUIRES: called before the first database opens (it has no
// effect after), and the library used from one thread.
void UseOneRequestMemory();

// Opens `file` with sqlite3_open_v2 `flags`, extended result codes on.
// Raises DatabaseError ("cannot open the database file FILE: reason") when
// it cannot; nothing is left open then.
SqliteDb OpenSqliteDb(const std::string& file, int flags);

}  // namespace wo::store
