#include "store/backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "base/text.h"
#include "store/schema.h"
#include "store/sqlite_handle.h"
#include "store/table.h"

namespace wo::store {

namespace {

// A database file opened for a copy.
class Db {
 public:
  Db(const std::string& file, int flags) : file_(file), db_(OpenSqliteDb(file, flags)) {}
  sqlite3* get() const { return db_.get(); }

  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : sqlite3_errmsg(db_.get());
      sqlite3_free(err);
      throw DatabaseError("SQLite: " + msg + " in " + file_ + " (" + sql + ")");
    }
  }
  // The first column of every row of `sql`.
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr);
    SqliteStmt st(raw);
    if (prepared != SQLITE_OK)
      throw DatabaseError("SQLite: " + std::string(sqlite3_errmsg(db_.get())) + " in " + file_);
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
      const unsigned char* t = sqlite3_column_text(st.get(), 0);
      out.push_back(t ? reinterpret_cast<const char*>(t) : "");
    }
    st.reset();
    if (rc != SQLITE_DONE) throw DatabaseError("SQLite: " + std::string(sqlite3_errstr(rc)) + " in " + file_);
    return out;
  }

 private:
  std::string file_;
  SqliteDb db_;
};

// Copies every page of `from` into `to` in one step, retrying while another
// connection holds a lock that the copy needs.
CopyResult Copy(Db& from, Db& to, const std::string& what, int waitSeconds) {
  SqliteBackup b(sqlite3_backup_init(to.get(), "main", from.get(), "main"));
  if (!b) throw DatabaseError(what + ": " + sqlite3_errmsg(to.get()));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
  int rc;
  while ((rc = sqlite3_backup_step(b.get(), -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    if (std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  CopyResult r;
  r.pages = sqlite3_backup_pagecount(b.get());
  // Finished here rather than by the owner: its answer counts.
  int finish = sqlite3_backup_finish(b.release());
  if (rc != SQLITE_DONE) {
    std::string msg = rc == SQLITE_BUSY || rc == SQLITE_LOCKED
                          ? "the database stayed busy for " + std::to_string(waitSeconds) + " seconds"
                          : std::string(sqlite3_errstr(rc));
    throw DatabaseError(what + ": " + msg);
  }
  if (finish != SQLITE_OK) throw DatabaseError(what + ": " + sqlite3_errmsg(to.get()));
  return r;
}

void SyncFile(const std::string& file) {
  int fd = open(file.c_str(), O_RDONLY);
  if (fd < 0 || fsync(fd) != 0) {
    if (fd >= 0) close(fd);
    throw DatabaseError("cannot write " + file + " to disk");
  }
  close(fd);
}

void SyncFolderOf(const std::string& file) {
  size_t slash = file.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

std::string Check(Db& db) {
  std::vector<std::string> found = db.Column("PRAGMA integrity_check(10)");
  std::string out;
  for (const std::string& f : found) out += (out.empty() ? "" : "; ") + f;
  return out.empty() ? "no answer" : out;
}

}  // namespace

std::string IntegrityCheck(const std::string& file) {
  Db db(file, SQLITE_OPEN_READONLY);
  return Check(db);
}

CopyResult BackupSqlite(const std::string& live, const std::string& target) {
  const std::string tmp = target + ".tmp" + std::to_string(getpid());
  std::remove(tmp.c_str());
  try {
    CopyResult r;
    {
      Db from(live, SQLITE_OPEN_READWRITE);
      // Owner only: the copy holds the users' details and password forms.
      int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
      if (fd < 0) throw DatabaseError("cannot create " + tmp);
      close(fd);
      Db to(tmp, SQLITE_OPEN_READWRITE);
      r = Copy(from, to, "backup of " + live, 30);
      to.Exec("PRAGMA journal_mode=DELETE");
      std::string ok = Check(to);
      if (ok != "ok") throw DatabaseError("the copy of " + live + " fails its integrity check: " + ok);
    }
    struct stat st;
    if (stat(tmp.c_str(), &st) == 0) r.bytes = st.st_size;
    SyncFile(tmp);
    if (std::rename(tmp.c_str(), target.c_str()) != 0) throw DatabaseError("cannot write " + target);
    SyncFolderOf(target);
    return r;
  } catch (...) {
    std::remove(tmp.c_str());
    std::remove((tmp + "-journal").c_str());
    throw;
  }
}

CopyResult RestoreSqlite(const std::string& source, const std::string& live, int waitSeconds) {
  Db from(source, SQLITE_OPEN_READONLY);
  std::string ok = Check(from);
  if (ok != "ok") throw DatabaseError(source + " fails its integrity check: " + ok);
  bool ours = false;
  for (const std::string& name : from.Column("SELECT name FROM sqlite_schema WHERE type = 'table'"))
    for (const TableDef& t : AllTables())
      if (SameText(t.name, name)) ours = true;
  if (!ours) throw DatabaseError(source + " holds none of the site's tables");

  Db to(live, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  CopyResult r = Copy(from, to, "restore of " + live + " from " + source, waitSeconds);
  to.Exec("PRAGMA journal_mode=WAL");
  struct stat st;
  if (stat(live.c_str(), &st) == 0) r.bytes = st.st_size;
  return r;
}

}  // namespace wo::store
