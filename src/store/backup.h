// Copies of the embedded database, made and put back while the site runs.
// Both go through SQLite's online backup API: a copy is one consistent
// snapshot of the live file (readers and writers of the site go on while it
// is taken), and a restore replaces the live content in one write
// transaction, so that no connection ever sees a half-restored database.
#pragma once

#include <string>

namespace wo::store {

struct CopyResult {
  long long pages = 0;
  long long bytes = 0;
};

// Writes a copy of the SQLite database `live` to `target`: first to a
// temporary file beside it, checked with PRAGMA integrity_check, synced,
// then renamed over `target` (an existing file is replaced only then). The
// copy is a single file in rollback-journal mode, readable only by its
// owner. Raises DatabaseError naming the file when anything fails; then
// `target` is as it was.
CopyResult BackupSqlite(const std::string& live, const std::string& target);

// Replaces the content of the SQLite database `live` (created when missing)
// with the database in `source`, which must pass PRAGMA integrity_check and
// hold at least one table of the schema. Waits up to `waitSeconds` for the
// site's writers; readers go on with the old content until it commits.
// The live file keeps WAL mode, its owner and its permissions. Raises
// DatabaseError and leaves `live` as it was when anything fails.
CopyResult RestoreSqlite(const std::string& source, const std::string& live, int waitSeconds = 30);

// "ok" when PRAGMA integrity_check finds nothing wrong with the SQLite file
// `file`, otherwise its first findings. Raises DatabaseError when the file
// cannot be opened as a database.
std::string IntegrityCheck(const std::string& file);

}  // namespace wo::store
