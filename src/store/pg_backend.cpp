// A PostgreSQL server as the database. The client library is loaded with
// dlopen by the first operation that needs the server: the program does
// not link it, because a process that merely links it starts several times
// slower, and most sites use the embedded database.
//
// Every value travels as text. A statement that runs more than once on a
// connection is prepared there under a name of its own; queries come back
// whole, in batches that the table handle asks for with LIMIT. A write transaction takes a
// transaction-scoped advisory lock that every writer takes, so writers
// queue behind each other and each sees the others' committed rows.
#include <dlfcn.h>
#include <poll.h>
#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unordered_map>

#include "store/backend.h"

namespace wo::store {

namespace {

constexpr const char* kLockTimeout = "8s";
// The advisory lock of writers: any number the centre's tools agree on.
constexpr const char* kWriterLock = "1466921590";

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
    for (int i = 0; i < cols_; ++i) {
      Stored& v = i == 0 ? out.rowId : out.cols[static_cast<size_t>(i - 1)];
      if (api_->getisnull(r_.get(), row_, i))
        v = Stored();
      else
        v = Stored::OfText(std::string(api_->getvalue(r_.get(), row_, i),
                                       static_cast<size_t>(api_->getlength(r_.get(), row_, i))));
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
  void BeginWrite() override {
    Ensure();
    if (InTransaction()) throw DatabaseError("a write transaction is already open");
    PgResult r = Own(api_, api_->exec(conn_.get(), (std::string("BEGIN; SET LOCAL lock_timeout = '") + kLockTimeout +
                                                   "'; SELECT pg_advisory_xact_lock(" + kWriterLock + ")")
                                                      .c_str()));
    if (!Succeeded(api_, r)) {
      std::string msg = MessageOf(api_, r);
      if (InTransaction()) Simple("ROLLBACK");
      throw DatabaseError(Where() + ": cannot begin a write transaction: " + msg);
    }
  }
  void Commit() override {
    Ensure();
    PgResult r = Own(api_, api_->exec(conn_.get(), "COMMIT"));
    if (!Succeeded(api_, r)) throw DatabaseError(Where() + ": commit failed: " + MessageOf(api_, r));
    // COMMIT of a transaction that an error aborted rolls it back.
    if (std::string(api_->cmdStatus(r.get())) == "ROLLBACK")
      throw DatabaseError(Where() + ": the transaction failed and was rolled back");
  }
  void Rollback() override {
    Ensure();
    if (InTransaction()) Simple("ROLLBACK");
  }
  bool InTransaction() const override {
    if (!conn_) return false;
    PGTransactionStatusType t = api_->transactionStatus(conn_.get());
    return t == PQTRANS_INTRANS || t == PQTRANS_INERROR || t == PQTRANS_ACTIVE;
  }

  bool Usable() override {
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
    PgResult r = Run(sql, params);
    ExecResult out;
    out.changes = std::atoll(api_->cmdTuples(r.get()));
    if (api_->ntuples(r.get()) > 0 && api_->nfields(r.get()) > 0)
      out.rowId = Stored::OfText(api_->getvalue(r.get(), 0, 0));
    return out;
  }

  void ExecScript(const std::string& sql) override {
    Ensure();
    Simple(sql);
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

  void Simple(const std::string& sql) {
    PgResult r = Own(api_, api_->exec(conn_.get(), sql.c_str()));
    if (!Succeeded(api_, r)) throw DatabaseError(Where() + ": " + MessageOf(api_, r) + " (" + sql + ")");
  }

  // Runs a statement; raises DatabaseError unless it succeeded. A
  // statement's first run sends it with its parameters in one round trip;
  // one that runs again is prepared then, under a name of its own, and
  // runs prepared from then on: a process that serves one request pays
  // no round trip for preparing, one that serves many plans each
  // statement once.
  PgResult Run(const std::string& sql, const std::vector<Stored>& params) {
    Ensure();
    if (trace) trace->push_back(sql);
    auto it = names_.find(sql);
    if (it != names_.end() && it->second.empty()) {
      std::string name = "wo" + std::to_string(++prepared_);
      PgResult p = Own(api_, api_->prepare(conn_.get(), name.c_str(), sql.c_str(), 0, nullptr));
      if (!Succeeded(api_, p)) throw DatabaseError(Where() + ": " + MessageOf(api_, p) + " (" + sql + ")");
      ++prepares;
      it->second = std::move(name);
    }
    std::vector<std::string> text(params.size());
    std::vector<const char*> values(params.size());
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
    const int n = static_cast<int>(params.size());
    PgResult r = Own(api_, it != names_.end()
                               ? api_->execPrepared(conn_.get(), it->second.c_str(), n, values.data(), nullptr,
                                                    nullptr, 0)
                               : api_->execParams(conn_.get(), sql.c_str(), n, nullptr, values.data(), nullptr,
                                                  nullptr, 0));
    if (!Succeeded(api_, r)) throw DatabaseError(Where() + ": " + MessageOf(api_, r) + " (" + sql + ")");
    if (it == names_.end()) names_.emplace(sql, std::string());  // prepared when it runs again
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
};

}  // namespace

std::unique_ptr<Connection> OpenPostgres(const ConnectionSettings& s) {
  return std::make_unique<PgConnection>(s);
}

}  // namespace wo::store
