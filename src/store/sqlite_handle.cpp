#include "store/sqlite_handle.h"

#include "base/errors.h"

namespace wo::store {

namespace {

// The library keeps no count of the memory it uses: the count costs a
// global lock around every allocation, and nothing here reads it. Set
// before the library starts, once per process.
void ConfigureLibrary() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

}  // namespace

SqliteDb OpenSqliteDb(const std::string& file, int flags) {
  ConfigureLibrary();
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  SqliteDb db(raw);  // owned from here on, also when opening failed
  if (rc != SQLITE_OK)
    throw DatabaseError("cannot open the database file " + file + ": " +
                        (db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc)));
  sqlite3_extended_result_codes(db.get(), 1);
  return db;
}

}  // namespace wo::store
