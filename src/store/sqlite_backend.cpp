// The embedded database: one SQLite file in WAL mode. Statements are
// prepared once per connection and reused; a query steps its statement
// lazily, one row per Next. Before any write outside a transaction, and
// when a transaction begins or ends, every statement still being read is
// let go (its handle continues with a fresh query after its last row),
// so that no old read snapshot stands in the way of the write.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <unordered_map>

#include "store/backend.h"
#include "store/sqlite_handle.h"

namespace wo::store {

namespace {

constexpr int kBusyTimeoutMs = 8000;
// The pages the log holds before a commit moves them into the database
// (a booking writes about six). The first connection to open the database
// reads the log back, about 6,000 instructions a page, so the log is kept
// short: a process per request pays that on every request.
constexpr int kCheckpointPages = 32;

class SqliteConnection;

class SqliteRows final : public Rows {
 public:
  SqliteRows(SqliteConnection* c, std::string sql, SqliteStmt st);
  ~SqliteRows() override;
  Step Next(StoredRow& out) override;

  // Lets go of the statement; see SqliteConnection::LetGo.
  void LetGo();
  // The connection is closing.
  void Detach();

 private:
  void Release();

  SqliteConnection* conn_;
  std::string sql_;
  SqliteStmt st_;  // while reading; given back to the connection after
  int read_ = 0;
  bool letGo_ = false;
};

class SqliteConnection final : public Connection, public Connection::Backend {
 public:
  explicit SqliteConnection(const ConnectionSettings& s)
      : settings_(s), file_(s.databaseFile), create_(s.createIfMissing) {
    dialect.numberedParams = false;
    dialect.rowId = "rowid";
    dialect.nullsFirst = "";
    dialect.returningRowId = false;
    dialect.batch = 0;
  }

  // Statements go before the connection: the members die in reverse order.
  ~SqliteConnection() override {
    for (SqliteRows* r : live_) r->Detach();
    // A log this connection moved into the database is emptied as the
    // connection closes, when no other connection is open; closing then
    // has nothing left to move, so it flushes nothing.
    if (db_ && moved_) sqlite3_db_config(db_.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
  }

  // ---- Connection ----
  void BeginWrite() override {
    Ensure();
    if (InTransaction()) throw DatabaseError("a write transaction is already open");
    LetGo();
    Exec1("BEGIN IMMEDIATE");
  }
  void Commit() override {
    Ensure();
    LetGo();
    Exec1("COMMIT");
  }
  void Rollback() override {
    Ensure();
    LetGo();
    if (InTransaction()) Exec1("ROLLBACK");
  }
  bool InTransaction() const override { return db_ && !sqlite3_get_autocommit(db_.get()); }

  bool Usable() override {
    if (!error_.empty()) return false;
    if (!db_) return true;
    if (IsClosed(settings_)) return false;
    struct stat st;
    return ::stat(file_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
  }

  std::vector<SchemaChange> CreateSchema() override {
    Ensure();
    // WAL lets readers go on while a writer works; the mode is kept in the
    // file, so it is set here once rather than by every request.
    Exec1("PRAGMA journal_mode=WAL");
    return UpgradeSchema(*this, false);
  }

  Connection::Backend& backend() override { return *this; }

  // ---- Backend ----
  void Ensure() override {
    if (db_) return;
    if (!error_.empty()) throw DatabaseError(error_);
    RefuseWhenClosed(settings_);
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create_ ? SQLITE_OPEN_CREATE : 0);
    try {
      db_ = OpenSqliteDb(file_, flags);
    } catch (const DatabaseError& e) {
      error_ = e.what();
      throw;
    }
    sqlite3_busy_timeout(db_.get(), kBusyTimeoutMs);
    struct stat st;
    if (::stat(file_.c_str(), &st) == 0) {
      device_ = st.st_dev;
      inode_ = st.st_ino;
    }
    // The write-ahead log and its index stay beside the database between
    // connections instead of being made and removed by each. The log is
    // moved into the database by the commit that fills it to
    // kCheckpointPages, not by every connection as it closes: a commit
    // then flushes the log once, instead of also flushing it again, the
    // database and the next log's header to move a few pages. Either way
    // a commit is on the disk before its page is answered. The size
    // limit of 0 empties a log once it has been moved. A file that is no
    // database fails here and again, with the same message, at the first
    // statement.
    int persist = 1;
    sqlite3_file_control(db_.get(), "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_exec(db_.get(), "PRAGMA journal_size_limit=0", nullptr, nullptr, nullptr);
    sqlite3_db_config(db_.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_wal_hook(db_.get(), &SqliteConnection::Committed, this);
  }

  std::unique_ptr<Rows> Query(const std::string& sql, const std::vector<Stored>& params) override {
    Ensure();
    if (trace) trace->push_back(sql);
    return std::make_unique<SqliteRows>(this, sql, Acquire(sql, params));
  }

  ExecResult Exec(const std::string& sql, const std::vector<Stored>& params, bool insert) override {
    Ensure();
    if (!InTransaction()) LetGo();
    if (trace) trace->push_back(sql);
    SqliteStmt st = Acquire(sql, params);
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
      std::string msg = Message(rc);
      Release(sql, std::move(st));
      throw DatabaseError(msg + " (" + sql + ")");
    }
    ExecResult r;
    r.changes = sqlite3_changes64(db_.get());
    if (insert) r.rowId = Stored::OfInt(sqlite3_last_insert_rowid(db_.get()));
    Release(sql, std::move(st));
    return r;
  }

  void ExecScript(const std::string& sql) override {
    Ensure();
    if (!InTransaction()) LetGo();
    Exec1(sql);
  }

  Existing ReadSchema() override {
    Ensure();
    Existing e;
    auto lower = [](std::string v) {
      for (char& ch : v) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      return v;
    };
    std::unique_ptr<Rows> q = Query(
        "SELECT m.name, p.name FROM sqlite_schema m JOIN pragma_table_info(m.name) p "
        "WHERE m.type = 'table'", {});
    StoredRow r;
    while (q->Next(r) == Rows::Step::Row) e.columns[lower(r.rowId.s)].insert(lower(r.cols[0].s));
    q = Query("SELECT name FROM sqlite_schema WHERE type = 'index'", {});
    while (q->Next(r) == Rows::Step::Row) e.indexes.insert(lower(r.rowId.s));
    return e;
  }

  // ---- for SqliteRows ----
  std::string Message(int rc) {
    std::string m = sqlite3_errmsg(db_.get());
    if (m == "not an error" || m.empty()) m = sqlite3_errstr(rc);
    return "SQLite: " + m + " in " + file_;
  }
  // Takes a statement back for the next query of the same SQL.
  void Release(const std::string& sql, SqliteStmt st) {
    sqlite3_reset(st.get());
    sqlite3_clear_bindings(st.get());
    idle_[sql].push_back(std::move(st));
  }
  void Live(SqliteRows* r) { live_.push_back(r); }
  void Gone(SqliteRows* r) {
    live_.erase(std::remove(live_.begin(), live_.end(), r), live_.end());
  }

 private:
  void Exec1(const std::string& sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
      std::string msg = err ? err : sqlite3_errstr(rc);
      sqlite3_free(err);
      throw DatabaseError("SQLite: " + msg + " in " + file_ + " (" + sql + ")");
    }
  }

  // A prepared statement of `sql` with `params` bound: an idle one, or a
  // new one.
  SqliteStmt Acquire(const std::string& sql, const std::vector<Stored>& params) {
    SqliteStmt st;
    auto it = idle_.find(sql);
    if (it != idle_.end() && !it->second.empty()) {
      st = std::move(it->second.back());
      it->second.pop_back();
    } else {
      sqlite3_stmt* raw = nullptr;
      int rc = sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                  &raw, nullptr);
      st.reset(raw);
      if (rc != SQLITE_OK) throw DatabaseError(Message(rc) + " (" + sql + ")");
      ++prepares;
    }
    for (size_t i = 0; i < params.size(); ++i) {
      const Stored& p = params[i];
      int n = static_cast<int>(i + 1), rc = SQLITE_OK;
      switch (p.kind) {
        case Stored::Null: rc = sqlite3_bind_null(st.get(), n); break;
        case Stored::Int: rc = sqlite3_bind_int64(st.get(), n, p.i); break;
        case Stored::Real: rc = sqlite3_bind_double(st.get(), n, p.d); break;
        case Stored::Text:
          rc = sqlite3_bind_text(st.get(), n, p.s.data(), static_cast<int>(p.s.size()), SQLITE_TRANSIENT);
          break;
      }
      if (rc != SQLITE_OK) {
        std::string msg = Message(rc);
        Release(sql, std::move(st));
        throw DatabaseError(msg);
      }
    }
    return st;
  }

  // After each commit, with the pages in the log: a full log is moved into
  // the database without waiting for readers (what they still read stays).
  static int Committed(void* self, sqlite3* db, const char* name, int pages) {
    auto* c = static_cast<SqliteConnection*>(self);
    c->moved_ = false;
    if (pages < kCheckpointPages) return SQLITE_OK;
    int logged = 0, moved = 0;
    c->moved_ = sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, &logged, &moved) == SQLITE_OK &&
                logged == moved;
    return SQLITE_OK;
  }

  // Every statement being read lets go of its snapshot.
  void LetGo() {
    std::vector<SqliteRows*> live = live_;
    for (SqliteRows* r : live) r->LetGo();
  }

  ConnectionSettings settings_;
  std::string file_;
  bool create_;
  SqliteDb db_;
  std::string error_;
  dev_t device_ = 0;  // the file opened
  ino_t inode_ = 0;
  bool moved_ = false;  // a commit moved the whole log into the database
  std::unordered_map<std::string, std::vector<SqliteStmt>> idle_;  // prepared, not being read
  std::vector<SqliteRows*> live_;  // rows objects holding a statement
};

SqliteRows::SqliteRows(SqliteConnection* c, std::string sql, SqliteStmt st)
    : conn_(c), sql_(std::move(sql)), st_(std::move(st)) {
  conn_->Live(this);
}

SqliteRows::~SqliteRows() { Release(); }

void SqliteRows::Release() {
  if (!st_) return;
  conn_->Release(sql_, std::move(st_));
  conn_->Gone(this);
}

void SqliteRows::LetGo() {
  if (!st_) return;
  if (read_ == 0) {
    // Nothing read yet: the statement simply starts again later, with the
    // same parameters.
    sqlite3_reset(st_.get());
    return;
  }
  letGo_ = true;
  Release();
}

void SqliteRows::Detach() {
  st_.reset();
  conn_ = nullptr;
  letGo_ = false;
}

Rows::Step SqliteRows::Next(StoredRow& out) {
  if (!st_) {
    if (letGo_) {
      letGo_ = false;
      return Step::More;
    }
    if (!conn_) throw DatabaseError("the database connection is closed");
    return Step::End;
  }
  int rc = sqlite3_step(st_.get());
  if (rc == SQLITE_DONE) {
    Release();
    return Step::End;
  }
  if (rc != SQLITE_ROW) {
    std::string msg = conn_->Message(rc);
    Release();
    throw DatabaseError(msg + " (" + sql_ + ")");
  }
  int n = sqlite3_column_count(st_.get());
  out.cols.resize(n > 0 ? n - 1 : 0);
  // Each value is set in place: a row read into the storage of an earlier
  // one takes its texts without allocating them anew. A column is read
  // through its value object: one call into the statement per column
  // instead of one per question. The connection is never shared between
  // threads (it is opened without a mutex), so the value needs no lock.
  for (int i = 0; i < n; ++i) {
    Stored& v = i == 0 ? out.rowId : out.cols[i - 1];
    sqlite3_value* cell = sqlite3_column_value(st_.get(), i);
    v.i = 0;
    v.d = 0;
    switch (sqlite3_value_type(cell)) {
      case SQLITE_NULL: v.kind = Stored::Null; v.s.clear(); break;
      case SQLITE_INTEGER: v.kind = Stored::Int; v.i = sqlite3_value_int64(cell); v.s.clear(); break;
      case SQLITE_FLOAT: v.kind = Stored::Real; v.d = sqlite3_value_double(cell); v.s.clear(); break;
      default: {
        const unsigned char* t = sqlite3_value_text(cell);
        int len = sqlite3_value_bytes(cell);
        v.kind = Stored::Text;
        // Mostly as long as the same column of the row before.
        const size_t n = len > 0 ? static_cast<size_t>(len) : 0;
        if (v.s.size() != n) v.s.resize(n);
        if (n > 0) std::memcpy(v.s.data(), t, n);
      }
    }
  }
  ++read_;
  return Step::Row;
}

}  // namespace

std::unique_ptr<Connection> OpenSqlite(const ConnectionSettings& s) {
  return std::make_unique<SqliteConnection>(s);
}

}  // namespace wo::store
