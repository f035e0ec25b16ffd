// A PostgreSQL server as the database. The client library is loaded with
// dlopen by the first operation that needs the server: the program does
// not link it, because a process that merely links it starts several times
// slower, and most sites use the embedded database.
//
// Every value travels as text. A statement that runs more than once on a
// connection is prepared there under a name of its own (at once, and
// planned once, when one round trip sends it several times); queries come
// back whole, in batches that the table handle asks for with LIMIT. A write
// transaction takes a transaction-scoped advisory lock that every writer
// takes, so writers queue behind each other and each sees the others'
// committed rows.
#include <dlfcn.h>
#include <poll.h>
#include <libpq-fe.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>
#include <unordered_map>

#include "store/backend.h"

namespace wo::store {

namespace {

constexpr const char* kLockTimeout = "8s";
// The advisory lock of writers: any number the centre's tools agree on.
constexpr const char* kWriterLock = "1466921590";
// A session plans each prepared statement once, for all its parameters
// (see PgConnection::genericPlans_).
constexpr const char* kGenericPlans = "SET plan_cache_mode = force_generic_plan";

// The functions of the client library that the backend uses.
struct PqApi {
  decltype(&::PQconnectdbParams) connectdbParams;
  decltype(&::PQstatus) status;
  decltype(&::PQerrorMessage) errorMessage;
  decltype(&::PQfinish) finish;
  decltype(&::PQprepare) prepare;
  decltype(&::PQexecPrepared) execPrepared;
  decltype(&::PQexecParams) execParams;
  decltype(&::PQexec) exec;
  decltype(&::PQresultStatus) resultStatus;
  decltype(&::PQresultErrorMessage) resultErrorMessage;
  decltype(&::PQntuples) ntuples;
  decltype(&::PQnfields) nfields;
  decltype(&::PQgetvalue) getvalue;
  decltype(&::PQgetisnull) getisnull;
  decltype(&::PQgetlength) getlength;
  decltype(&::PQclear) clear;
  decltype(&::PQcmdTuples) cmdTuples;
  decltype(&::PQcmdStatus) cmdStatus;
  decltype(&::PQtransactionStatus) transactionStatus;
  decltype(&::PQsocket) socket;
  decltype(&::PQserverVersion) serverVersion;
  // Pipeline mode (libpq 14 and later); null in an older library, which
  // then sends each statement on its own.
  decltype(&::PQenterPipelineMode) enterPipelineMode;
  decltype(&::PQexitPipelineMode) exitPipelineMode;
  decltype(&::PQpipelineSync) pipelineSync;
  decltype(&::PQsendPrepare) sendPrepare;
  decltype(&::PQsendQueryPrepared) sendQueryPrepared;
  decltype(&::PQsendQueryParams) sendQueryParams;
  decltype(&::PQgetResult) getResult;
  bool HasPipeline() const {
    return enterPipelineMode && exitPipelineMode && pipelineSync && sendPrepare && sendQueryPrepared &&
           sendQueryParams && getResult;
  }
};

// The library as loaded: its functions, or why it could not be loaded.
struct PqLibrary {
  PqApi api{};
  std::string error;  // empty: every function was found
};

PqLibrary Load() {
  PqLibrary lib;
  void* handle = dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = dlerror();
    lib.error = std::string("the PostgreSQL client library libpq.so.5 cannot be loaded: ") + (e ? e : "");
    return lib;
  }
  PqApi& api = lib.api;
  auto get = [&](auto& fn, const char* name) {
    void* p = dlsym(handle, name);
    if (!p && lib.error.empty()) lib.error = std::string("the PostgreSQL client library lacks ") + name;
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(p);
  };
  get(api.connectdbParams, "PQconnectdbParams");
  get(api.status, "PQstatus");
  get(api.errorMessage, "PQerrorMessage");
  get(api.finish, "PQfinish");
  get(api.prepare, "PQprepare");
  get(api.execPrepared, "PQexecPrepared");
  get(api.execParams, "PQexecParams");
  get(api.exec, "PQexec");
  get(api.resultStatus, "PQresultStatus");
  get(api.resultErrorMessage, "PQresultErrorMessage");
  get(api.ntuples, "PQntuples");
  get(api.nfields, "PQnfields");
  get(api.getvalue, "PQgetvalue");
  get(api.getisnull, "PQgetisnull");
  get(api.getlength, "PQgetlength");
  get(api.clear, "PQclear");
  get(api.cmdTuples, "PQcmdTuples");
  get(api.cmdStatus, "PQcmdStatus");
  get(api.transactionStatus, "PQtransactionStatus");
  get(api.socket, "PQsocket");
  get(api.serverVersion, "PQserverVersion");
  auto optional = [&](auto& fn, const char* name) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(handle, name));
  };
  optional(api.enterPipelineMode, "PQenterPipelineMode");
  optional(api.exitPipelineMode, "PQexitPipelineMode");
  optional(api.pipelineSync, "PQpipelineSync");
  optional(api.sendPrepare, "PQsendPrepare");
  optional(api.sendQueryPrepared, "PQsendQueryPrepared");
  optional(api.sendQueryParams, "PQsendQueryParams");
  optional(api.getResult, "PQgetResult");
  return lib;
}

// The library is loaded by the first connection that needs it and stays
// for the life of the process, unchanged; nullptr and `error` when it is
// missing.
const PqApi* LoadPq(std::string& error) {
  static const PqLibrary lib = Load();
  if (!lib.error.empty()) {
    error = lib.error;
    return nullptr;
  }
  return &lib.api;
}

std::string Chomp(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// Owners of the library's objects: a result is cleared, a connection
// finished, by the library's own functions.
struct PqClear {
  const PqApi* api;
  void operator()(PGresult* r) const noexcept { api->clear(r); }
};
struct PqFinish {
  const PqApi* api;
  void operator()(PGconn* c) const noexcept { api->finish(c); }
};
using PgResult = std::unique_ptr<PGresult, PqClear>;
using PgConn = std::unique_ptr<PGconn, PqFinish>;

PgResult Own(const PqApi* api, PGresult* r) { return PgResult(r, PqClear{api}); }

bool Succeeded(const PqApi* api, const PgResult& r) {
  if (!r) return false;
  ExecStatusType s = api->resultStatus(r.get());
  return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
}

std::string MessageOf(const PqApi* api, const PgResult& r) {
  return r ? Chomp(api->resultErrorMessage(r.get())) : "no result";
}

class PgRows final : public Rows {
 public:
  PgRows(const PqApi* api, PgResult r)
      : api_(api), r_(std::move(r)), n_(api->ntuples(r_.get())), cols_(api->nfields(r_.get())) {}
  Step Next(StoredRow& out) override {
    if (row_ >= n_) return Step::End;
    out.cols.resize(cols_ > 0 ? static_cast<size_t>(cols_ - 1) : 0);
    // Each value is set in place, as SQLite's rows are: a row read into
    // the storage of an earlier one takes its texts without allocating.
    for (int i = 0; i < cols_; ++i) {
      Stored& v = i == 0 ? out.rowId : out.cols[static_cast<size_t>(i - 1)];
      v.i = 0;
      v.d = 0;
      if (api_->getisnull(r_.get(), row_, i)) {
        v.kind = Stored::Null;
        v.s.clear();
      } else {
        v.kind = Stored::Text;
        v.s.assign(api_->getvalue(r_.get(), row_, i), static_cast<size_t>(api_->getlength(r_.get(), row_, i)));
      }
    }
    ++row_;
    return Step::Row;
  }

 private:
  const PqApi* api_;
  PgResult r_;
  int n_, cols_, row_ = 0;
};

class PgConnection final : public Connection, public Connection::Backend {
 public:
  explicit PgConnection(const ConnectionSettings& s) : settings_(s) {
    dialect.numberedParams = true;
    dialect.rowId = "ctid";
    dialect.nullsFirst = " NULLS FIRST";
    dialect.returningRowId = true;
    dialect.batch = 16;
  }

  // ---- Connection ----
  // Where the library has pipeline mode, the transaction begins -- and
  // waits for the writers' lock -- with the first statement inside it, in
  // that statement's round trip; nothing reads or writes before it.
  void BeginWrite() override {
    Ensure();
    beginAfterNext_ = false;
    // Begun with an earlier statement: what was read since, inside it,
    // stays.
    if (std::exchange(begunAhead_, false) && InTransaction()) return;
    ahead_.clear();
    if (InTransaction()) throw DatabaseError("a write transaction is already open");
    if (api_->HasPipeline())
      beginPending_ = true;
    else
      BeginNow();
  }
  void BeginWriteAfterNext() override {
    Ensure();
    if (api_->HasPipeline() && !InTransaction()) beginAfterNext_ = true;
  }
  void Commit() override {
    Ensure();
    ahead_.clear();
    beginAfterNext_ = begunAhead_ = false;
    // Whether the writes that waited wrote is known before the commit.
    RunLater();
    if (beginPending_) {  // nothing ran inside it
      beginPending_ = false;
      return;
    }
    ++roundTrips;
    PgResult r = Own(api_, api_->exec(conn_.get(), "COMMIT"));
    if (!Succeeded(api_, r)) throw DatabaseError(Where() + ": commit failed: " + MessageOf(api_, r));
    // COMMIT of a transaction that an error aborted rolls it back.
    if (std::string(api_->cmdStatus(r.get())) == "ROLLBACK")
      throw DatabaseError(Where() + ": the transaction failed and was rolled back");
  }
  void Rollback() override {
    Ensure();
    ahead_.clear();
    later_.clear();
    beginPending_ = beginAfterNext_ = begunAhead_ = false;
    if (InTransaction()) Simple("ROLLBACK");
  }
  bool InTransaction() const override {
    if (beginPending_) return true;
    if (!conn_) return false;
    PGTransactionStatusType t = api_->transactionStatus(conn_.get());
    return t == PQTRANS_INTRANS || t == PQTRANS_INERROR || t == PQTRANS_ACTIVE;
  }

  bool Usable() override {
    ahead_.clear();  // a new request asks afresh
    later_.clear();
    beginAfterNext_ = begunAhead_ = false;
    if (!error_.empty()) return false;
    if (!conn_) return true;
    if (IsClosed(settings_) || api_->status(conn_.get()) != CONNECTION_OK) return false;
    // Between requests the server has nothing to say: something to read
    // is the message of a server that is ending the connection (a restart,
    // an administrator, a dropped database) followed by the end itself, or
    // a rare notice. The connection's state is then unknown until that
    // has been read through, so a new one is made; libpq would report the
    // end only at the next statement, failing that request.
    pollfd p{api_->socket(conn_.get()), POLLIN, 0};
    if (p.fd < 0) return false;
    return ::poll(&p, 1, 0) == 0;
  }

  std::vector<SchemaChange> CreateSchema() override { return UpgradeSchema(*this, true); }

  Connection::Backend& backend() override { return *this; }

  // ---- Backend ----
  void Ensure() override {
    if (conn_) return;
    if (!error_.empty()) throw DatabaseError(error_);
    RefuseWhenClosed(settings_);
    api_ = LoadPq(error_);
    if (!api_) throw DatabaseError(error_);
    std::string port = std::to_string(settings_.port > 0 ? settings_.port : 16000);
    const char* keys[] = {"host", "port", "dbname", "application_name", "connect_timeout", "client_encoding",
                          "options", nullptr, nullptr, nullptr};
    const char* values[] = {settings_.serverAddress.c_str(),
                            port.c_str(),
                            settings_.alias.c_str(),
                            settings_.serverName.c_str(),
                            "5",
                            "UTF8",
                            "-c DateStyle=ISO -c IntervalStyle=postgres -c client_min_messages=warning "
                            "-c lock_timeout=8000",
                            nullptr,
                            nullptr,
                            nullptr};
    int n = 7;
    if (!settings_.user.empty()) {
      keys[n] = "user";
      values[n++] = settings_.user.c_str();
    }
    if (!settings_.password.empty()) {
      keys[n] = "password";
      values[n++] = settings_.password.c_str();
    }
    PgConn c(api_->connectdbParams(keys, values, 0), PqFinish{api_});
    if (!c || api_->status(c.get()) != CONNECTION_OK) {
      error_ = "cannot connect to the database " + settings_.alias + " on the server " +
               settings_.serverName + " at " + settings_.serverAddress + ":" + port + ": " +
               (c ? Chomp(api_->errorMessage(c.get())) : std::string("out of memory"));
      throw DatabaseError(error_);
    }
    conn_ = std::move(c);
  }

  std::unique_ptr<Rows> Query(const std::string& sql, const std::vector<Stored>& params) override {
    return std::make_unique<PgRows>(api_, Run(sql, params));
  }

  ExecResult Exec(const std::string& sql, const std::vector<Stored>& params, bool) override {
    // What was read ahead of a write is not what a read after it sees.
    ahead_.clear();
    PgResult r = Run(sql, params);
    ExecResult out;
    out.changes = std::atoll(api_->cmdTuples(r.get()));
    if (api_->ntuples(r.get()) > 0 && api_->nfields(r.get()) > 0)
      out.rowId = Stored::OfText(api_->getvalue(r.get(), 0, 0));
    return out;
  }

  void ExecWithNext(const std::string& sql, const std::vector<Stored>& params) override {
    Ensure();
    if (!api_->HasPipeline() || !InTransaction()) {
      Exec(sql, params, true);
      return;
    }
    if (trace) trace->push_back(sql);
    ahead_.clear();
    later_.push_back({sql, params});
  }

  void ExecScript(const std::string& sql) override {
    Ensure();
    ahead_.clear();
    RunLater();
    Simple(sql);
  }

  bool ReadsAhead() override {
    Ensure();
    return api_->HasPipeline();
  }

  void Prefetch(const std::string& sql, const std::vector<Stored>& params) override {
    Ensure();
    if (!api_->HasPipeline()) return;
    for (const Ahead& a : ahead_)
      if (a.sql == sql && SameParams(a.params, params)) return;
    Ahead& a = ahead_.emplace_back();
    a.sql = sql;
    a.params = params;
  }

  Existing ReadSchema() override {
    Existing e;
    StoredRow r;
    std::unique_ptr<Rows> q = Query(
        "SELECT lower(table_name), lower(column_name) FROM information_schema.columns "
        "WHERE table_schema = current_schema()", {});
    while (q->Next(r) == Rows::Step::Row) e.columns[r.rowId.s].insert(r.cols[0].s);
    q = Query("SELECT lower(indexname) FROM pg_indexes WHERE schemaname = current_schema()", {});
    while (q->Next(r) == Rows::Step::Row) e.indexes.insert(r.rowId.s);
    return e;
  }

 private:
  std::string Where() const { return "PostgreSQL database " + settings_.alias; }

  // The statements that begin a write transaction: the lock of writers
  // waited for kLockTimeout at most.
  static const std::vector<std::string>& BeginStatements() {
    static const std::vector<std::string> kBegin = {
        "BEGIN", std::string("SET LOCAL lock_timeout = '") + kLockTimeout + "'",
        std::string("SELECT pg_advisory_xact_lock(") + kWriterLock + ")"};
    return kBegin;
  }

  [[noreturn]] void BeginFailed(const std::string& msg) {
    if (InTransaction()) Simple("ROLLBACK");
    throw DatabaseError(Where() + ": cannot begin a write transaction: " + msg);
  }

  // Begins the write transaction in a round trip of its own.
  void BeginNow() {
    beginPending_ = false;
    std::string sql;
    for (const std::string& st : BeginStatements()) sql += (sql.empty() ? "" : "; ") + st;
    ++roundTrips;
    PgResult r = Own(api_, api_->exec(conn_.get(), sql.c_str()));
    if (!Succeeded(api_, r)) BeginFailed(MessageOf(api_, r));
  }

  // Runs the writes that wait for the next statement, in one round trip:
  // the last one as that statement.
  void RunLater() {
    if (later_.empty()) return;
    const Later last = std::move(later_.back());
    later_.pop_back();
    Run(last.sql, last.params);
  }

  void Simple(const std::string& sql) {
    if (beginPending_) BeginNow();
    ++roundTrips;
    PgResult r = Own(api_, api_->exec(conn_.get(), sql.c_str()));
    if (!Succeeded(api_, r)) throw DatabaseError(Where() + ": " + MessageOf(api_, r) + " (" + sql + ")");
  }

  // A statement's parameters as the library takes them: texts, null for a
  // null. `text` keeps the texts that `values` points into.
  struct ParamTexts {
    std::vector<std::string> text;
    std::vector<const char*> values;
    explicit ParamTexts(const std::vector<Stored>& params) : text(params.size()), values(params.size()) {
      for (size_t i = 0; i < params.size(); ++i) {
        const Stored& v = params[i];
        char buf[40];
        switch (v.kind) {
          case Stored::Null: values[i] = nullptr; continue;
          case Stored::Int: text[i] = std::to_string(v.i); break;
          case Stored::Real:
            std::snprintf(buf, sizeof buf, "%.17g", v.d);
            text[i] = buf;
            break;
          case Stored::Text: text[i] = v.s; break;
        }
        values[i] = text[i].c_str();
      }
    }
    int size() const { return static_cast<int>(values.size()); }
  };

  static bool SameParams(const std::vector<Stored>& a, const std::vector<Stored>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i].kind != b[i].kind) return false;
      switch (a[i].kind) {
        case Stored::Null: break;
        case Stored::Int: if (a[i].i != b[i].i) return false; break;
        case Stored::Real: if (a[i].d != b[i].d) return false; break;
        case Stored::Text: if (a[i].s != b[i].s) return false; break;
      }
    }
    return true;
  }

  // What a statement needs before it runs: nothing (it runs unprepared the
  // first time, and prepared once it has been prepared), or to be prepared
  // now under a name of its own (it runs for the second time).
  // `name` is its prepared name, or null to run it unprepared.
  const char* NameFor(const std::string& sql, bool& prepareNow) {
    auto it = names_.find(sql);
    prepareNow = it != names_.end() && it->second.empty();
    if (it == names_.end()) return nullptr;
    if (prepareNow) it->second = "wo" + std::to_string(++prepared_);
    return it->second.c_str();
  }

  // Whether `sql` is prepared when it runs next.
  bool PreparesNext(const std::string& sql) const {
    auto it = names_.find(sql);
    return it != names_.end() && it->second.empty();
  }

  // Records that `sql` has run once, unprepared: it is prepared when it
  // runs again.
  void RanOnce(const std::string& sql) { names_.emplace(sql, std::string()); }

  // Whether a query announced and not yet sent is `sql` or repeats another
  // one of them; each such statement that has no name yet is then marked to
  // be prepared at its first sending, so that its later sendings in the
  // same round trip run it by name.
  // `mainRepeated` tells whether `sql` is one of them.
  bool NameRepeated(const std::string& sql, bool& mainRepeated) {
    std::unordered_map<std::string_view, int> times;
    times[sql] = 1;
    for (const Ahead& a : ahead_)
      if (!a.sent) ++times[a.sql];
    bool any = false;
    for (const auto& [text, n] : times)
      if (n > 1) {
        any = true;
        RanOnce(std::string(text));
      }
    mainRepeated = times[sql] > 1;
    return any;
  }

  // Whether the session is still to be asked for generic plans: a server
  // from version 12 on can be; an older one plans as it does.
  bool AskGenericPlans() const {
    return !genericPlans_ && api_->HasPipeline() && api_->serverVersion(conn_.get()) >= 120000;
  }

  // Sends a statement without parameters into the pipeline.
  bool SendSimple(PGconn* c, const char* sql) {
    return api_->sendQueryParams(c, sql, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
  }

  // A statement that failed to prepare is run unprepared, and prepared
  // again when it runs again.
  void PrepareFailed(const std::string& sql) { names_[sql].clear(); }

  [[noreturn]] void Fail(const PgResult& r, const std::string& sql) {
    throw DatabaseError(Where() + ": " + MessageOf(api_, r) + " (" + sql + ")");
  }

  // Runs a statement; raises DatabaseError unless it succeeded. A
  // statement's first run sends it with its parameters in one round trip;
  // one that runs again is prepared then, under a name of its own, and
  // runs prepared from then on: a process that serves one request pays
  // no preparing, one that serves many plans each statement once. Where
  // the library has pipeline mode, the preparing, and the queries that
  // were announced (Prefetch), go in the statement's own round trip.
  PgResult Run(const std::string& sql, const std::vector<Stored>& params) {
    Ensure();
    if (trace) trace->push_back(sql);
    // An answer fetched ahead.
    for (auto it = ahead_.begin(); it != ahead_.end(); ++it) {
      if (it->sql != sql || !SameParams(it->params, params)) continue;
      PgResult r = std::move(it->result);
      ahead_.erase(it);
      if (r) return r;
      break;  // announced but not sent: it runs now
    }
    bool prepareNow = false;
    const char* name = NameFor(sql, prepareNow);
    const bool sendAhead = !ahead_.empty();
    if (api_->HasPipeline() && (prepareNow || sendAhead || beginPending_ || beginAfterNext_ || !later_.empty()))
      return RunPipelined(sql, params, name, prepareNow, sendAhead);
    ahead_.clear();
    if (prepareNow) {
      ++roundTrips;
      PgResult p = Own(api_, api_->prepare(conn_.get(), name, sql.c_str(), 0, nullptr));
      if (!Succeeded(api_, p)) {
        PrepareFailed(sql);
        Fail(p, sql);
      }
      ++prepares;
    }
    ParamTexts v(params);
    ++roundTrips;
    PgResult r = Own(api_, name ? api_->execPrepared(conn_.get(), name, v.size(), v.values.data(), nullptr, nullptr, 0)
                                : api_->execParams(conn_.get(), sql.c_str(), v.size(), nullptr, v.values.data(),
                                                   nullptr, nullptr, 0));
    if (!Succeeded(api_, r)) Fail(r, sql);
    if (!name) RanOnce(sql);
    return r;
  }

  // Run in one round trip: the session's plan setting when it is asked
  // for, the beginning of a write transaction that is pending, the writes
  // that waited for the next statement, the statement (prepared first when
  // `prepareNow`), the beginning of a write transaction announced for
  // after it and, with
  // `sendAhead`, every query announced and not yet sent, whose answers are
  // kept for when they are asked for. A query sent ahead that fails is
  // dropped: it runs again, on its own, when asked for -- but inside a
  // transaction, which its failure has ended, it fails the statement.
  PgResult RunPipelined(const std::string& sql, const std::vector<Stored>& params, const char* name, bool prepareNow,
                        bool sendAhead) {
    PGconn* c = conn_.get();
    const bool begin = beginPending_;
    beginPending_ = false;
    const bool beginAfter = beginAfterNext_ && !begin && !InTransaction();
    beginAfterNext_ = false;
    const std::vector<Later> writes = std::move(later_);
    later_.clear();
    // A statement sent more than once in this round trip (the walks of a
    // centre's resources) is prepared at its first sending: the server
    // parses and plans it once, not once per sending.
    bool mainRepeated = false;
    if (sendAhead) NameRepeated(sql, mainRepeated);
    if (mainRepeated && !name) name = NameFor(sql, prepareNow);
    // The session's plans are asked for with its first statement to be
    // prepared (a process that serves one request prepares little or
    // nothing); outside any transaction, so that no rollback takes the
    // setting back, and synced on its own, so that a refusal leaves the
    // rest of the round trip be.
    bool anyPrepared = prepareNow;
    for (const Ahead& a : ahead_) anyPrepared = anyPrepared || (!a.sent && PreparesNext(a.sql));
    const bool askPlans = anyPrepared && AskGenericPlans() && !InTransaction();
    if (!api_->enterPipelineMode(c)) throw DatabaseError(Where() + ": " + Chomp(api_->errorMessage(c)));
    struct SentAhead {
      Ahead* ahead;
      const char* name;  // null: unprepared
      bool prepare;      // prepared in this round trip
    };
    std::vector<SentAhead> sent;
    // A failure: statements named to be prepared in this round trip are
    // prepared again when they next run.
    auto unname = [&]() {
      if (prepareNow) PrepareFailed(sql);
      for (const SentAhead& a : sent)
        if (a.prepare) PrepareFailed(a.ahead->sql);
      ahead_.clear();
    };
    bool ok = !askPlans || (SendSimple(c, kGenericPlans) && api_->pipelineSync(c) == 1);
    auto sendBegin = [&] {
      for (const std::string& st : BeginStatements())
        ok = ok && api_->sendQueryParams(c, st.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
    };
    if (begin) sendBegin();
    for (const Later& w : writes) {
      ParamTexts v(w.params);
      ok = ok && api_->sendQueryParams(c, w.sql.c_str(), v.size(), nullptr, v.values.data(), nullptr, nullptr, 0) == 1;
    }
    if (ok && prepareNow) ok = api_->sendPrepare(c, name, sql.c_str(), 0, nullptr) == 1;
    {
      ParamTexts v(params);
      ok = ok && (name ? api_->sendQueryPrepared(c, name, v.size(), v.values.data(), nullptr, nullptr, 0)
                       : api_->sendQueryParams(c, sql.c_str(), v.size(), nullptr, v.values.data(), nullptr, nullptr,
                                               0)) == 1;
    }
    if (beginAfter) sendBegin();
    if (sendAhead) {
      for (Ahead& a : ahead_) {
        if (!ok || a.sent) continue;
        bool prepare = false;
        const char* an = NameFor(a.sql, prepare);
        ParamTexts v(a.params);
        if (prepare) ok = api_->sendPrepare(c, an, a.sql.c_str(), 0, nullptr) == 1;
        ok = ok && (an ? api_->sendQueryPrepared(c, an, v.size(), v.values.data(), nullptr, nullptr, 0)
                       : api_->sendQueryParams(c, a.sql.c_str(), v.size(), nullptr, v.values.data(), nullptr,
                                               nullptr, 0)) == 1;
        a.sent = true;
        sent.push_back({&a, an, prepare});
      }
    }
    ok = ok && api_->pipelineSync(c) == 1;
    ++roundTrips;
    if (!ok) {
      const std::string msg = Chomp(api_->errorMessage(c));
      unname();
      throw DatabaseError(Where() + ": " + msg + " (" + sql + ")");
    }
    // Each statement's result, then null; last, the end of the pipeline.
    // A connection that breaks ends the reading.
    auto take = [&]() -> PgResult {
      PgResult r = Own(api_, api_->getResult(c));
      if (r) (void)Own(api_, api_->getResult(c));
      return r;
    };
    if (askPlans) {
      // Asked once: a session that refuses plans as it does.
      (void)take();
      genericPlans_ = true;
      PgResult planSync = Own(api_, api_->getResult(c));
      if (!planSync || api_->resultStatus(planSync.get()) != PGRES_PIPELINE_SYNC) {
        unname();
        throw DatabaseError(Where() + ": the server's answers were cut short: " + Chomp(api_->errorMessage(c)) +
                            " (" + sql + ")");
      }
    }
    // The first failure of the statements that begin the transaction.
    auto takeBegin = [&] {
      std::string failure;
      for (size_t i = 0; i < BeginStatements().size(); ++i) {
        PgResult b = take();
        if (!Succeeded(api_, b) && failure.empty()) failure = MessageOf(api_, b);
      }
      return failure;
    };
    const std::string beginFailure = begin ? takeBegin() : std::string();
    std::string writeFailure;
    for (const Later& w : writes) {
      PgResult wr = take();
      if (!Succeeded(api_, wr) && writeFailure.empty()) writeFailure = MessageOf(api_, wr) + " (" + w.sql + ")";
    }
    PgResult prep = prepareNow ? take() : PgResult(nullptr, PqClear{api_});
    PgResult r = take();
    const std::string afterFailure = beginAfter ? takeBegin() : std::string();
    std::string aheadFailure;
    for (SentAhead& s : sent) {
      Ahead& a = *s.ahead;
      PgResult ap = s.prepare ? take() : PgResult(nullptr, PqClear{api_});
      PgResult ar = take();
      if (s.prepare && !Succeeded(api_, ap)) {
        PrepareFailed(a.sql);
        s.prepare = false;
        ar = std::move(ap);
      } else if (s.prepare) {
        ++prepares;
      }
      if (Succeeded(api_, ar)) {
        a.result = std::move(ar);
        if (!s.name) RanOnce(a.sql);
      } else if (aheadFailure.empty() && ar && api_->resultStatus(ar.get()) != PGRES_PIPELINE_ABORTED) {
        aheadFailure = MessageOf(api_, ar) + " (" + a.sql + ")";
      }
    }
    PgResult sync = Own(api_, api_->getResult(c));
    if (!sync || api_->resultStatus(sync.get()) != PGRES_PIPELINE_SYNC || !api_->exitPipelineMode(c)) {
      unname();
      throw DatabaseError(Where() + ": the server's answers were cut short: " + Chomp(api_->errorMessage(c)) + " (" +
                          sql + ")");
    }
    // Announced queries that failed ahead run again when asked for.
    ahead_.erase(std::remove_if(ahead_.begin(), ahead_.end(), [](const Ahead& a) { return a.sent && !a.result; }),
                 ahead_.end());
    if (!beginFailure.empty()) {
      if (prepareNow) PrepareFailed(sql);
      BeginFailed(beginFailure);
    }
    // A write that failed ended the transaction: what came after it did
    // not run.
    if (!writeFailure.empty()) {
      unname();
      throw DatabaseError(Where() + ": " + writeFailure);
    }
    if (prepareNow) {
      if (!Succeeded(api_, prep)) {
        PrepareFailed(sql);
        Fail(prep, sql);
      }
      ++prepares;
    }
    if (!Succeeded(api_, r)) Fail(r, sql);
    if (!name) RanOnce(sql);
    // The statement has its answer; the transaction after it may not have
    // begun.
    if (!afterFailure.empty()) BeginFailed(afterFailure);
    begunAhead_ = beginAfter;
    if (!aheadFailure.empty() && InTransaction()) throw DatabaseError(Where() + ": " + aheadFailure);
    return r;
  }

  ConnectionSettings settings_;
  const PqApi* api_ = nullptr;
  PgConn conn_{nullptr, PqFinish{nullptr}};
  std::string error_;
  // Every statement run on the connection: its prepared name, "" until it
  // has run twice.
  std::unordered_map<std::string, std::string> names_;
  int64_t prepared_ = 0;
  // Queries announced by Prefetch: not sent yet, or sent with another
  // statement and answered (`result`), until asked for. Dropped by every
  // write and at the start and end of every transaction.
  struct Ahead {
    std::string sql;
    std::vector<Stored> params;
    bool sent = false;
    PgResult result{nullptr, PqClear{nullptr}};
  };
  std::vector<Ahead> ahead_;
  // Inserts that go with the next statement (ExecWithNext), in order.
  struct Later {
    std::string sql;
    std::vector<Stored> params;
  };
  std::vector<Later> later_;
  // BeginWrite was called; the transaction begins with the next statement.
  bool beginPending_ = false;
  // BeginWriteAfterNext was called: the transaction begins after the next
  // statement; then it has (`begunAhead_`), and BeginWrite takes it up.
  bool beginAfterNext_ = false;
  bool begunAhead_ = false;
  // The session plans prepared statements generically: once, for all
  // parameters, instead of anew for every sending whose parameters make the
  // server expect a cheaper plan (a customer's reservations were planned
  // anew for every page, 0.2 ms each). Set with the first statement the
  // connection prepares; the statements are lookups and walks along an
  // index, whose plans do not depend on the values.
  bool genericPlans_ = false;
};

}  // namespace

std::unique_ptr<Connection> OpenPostgres(const ConnectionSettings& s) {
  return std::make_unique<PgConnection>(s);
}

}  // namespace wo::store
