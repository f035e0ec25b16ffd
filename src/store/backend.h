// The interface between table handles and a database engine. Table builds
// the SQL (in the engine's dialect) and converts values; a backend runs the
// statements and hands back rows in their stored form.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "store/database.h"

namespace wo::store {

// A value as the engine stores it: text is UTF-8; date-times and times are
// their stored texts; booleans are integers 0/1 (SQLite) or "t"/"f" texts
// (PostgreSQL, which hands every value back as text).
struct Stored {
  enum Kind : uint8_t { Null, Int, Real, Text };
  Kind kind = Null;
  int64_t i = 0;
  double d = 0;
  std::string s;

  static Stored OfInt(int64_t v) { Stored x; x.kind = Int; x.i = v; return x; }
  static Stored OfReal(double v) { Stored x; x.kind = Real; x.d = v; return x; }
  static Stored OfText(std::string v) { Stored x; x.kind = Text; x.s = std::move(v); return x; }
  bool IsNull() const { return kind == Null; }
};

// One row of a query: the first selected column (the engine's row identity
// in the queries of Table), then the others.
struct StoredRow {
  Stored rowId;
  std::vector<Stored> cols;
};

// The rows of one query, read one at a time.
class Rows {
 public:
  virtual ~Rows() = default;
  enum class Step {
    Row,   // `out` holds the next row
    End,   // no more rows
    More,  // the result stopped early (a batch limit, or the backend had to
           // let go of the statement): query again for the rows after the
           // last one read
  };
  virtual Step Next(StoredRow& out) = 0;
};

// What SQL the engine speaks.
struct Dialect {
  bool numberedParams = false;  // "$1" instead of "?"
  const char* rowId = "rowid";  // row identity column
  const char* nullsFirst = "";  // added to every ORDER BY term
  bool returningRowId = false;  // INSERT/UPDATE ... RETURNING rowId
  int batch = 0;                // rows per query (LIMIT); 0: read lazily without limit
  bool lowerCaseNames = false;  // the engine folds unquoted names
};

struct ExecResult {
  Stored rowId;         // INSERT: the new row's; UPDATE: when RETURNING
  int64_t changes = 0;  // rows changed
};

struct Connection::Backend {
  virtual ~Backend() = default;
  Dialect dialect;
  // What the tests watch: when `trace` is set, the SQL of every query and
  // write is appended to it; `prepares` counts statements prepared, and
  // `roundTrips` the times a server engine was waited for.
  std::vector<std::string>* trace = nullptr;
  int64_t prepares = 0;
  int64_t roundTrips = 0;
  // Connects on first use; raises DatabaseError with the connection's
  // failure (every time it is called) when connecting failed.
  virtual void Ensure() = 0;
  // Runs a query; `params` in stored form, bound in order.
  virtual std::unique_ptr<Rows> Query(const std::string& sql, const std::vector<Stored>& params) = 0;
  // Runs a statement that writes; `insert` asks for the new row's identity.
  virtual ExecResult Exec(const std::string& sql, const std::vector<Stored>& params, bool insert) = 0;
  // Runs an INSERT whose answer nothing waits for. An engine that can
  // sends it inside the open write transaction with the next statement,
  // whose round trip then raises its failure, or before the commit. The
  // default runs it at once.
  virtual void ExecWithNext(const std::string& sql, const std::vector<Stored>& params) { Exec(sql, params, true); }
  // Runs SQL text without parameters (schema statements).
  virtual void ExecScript(const std::string& sql) = 0;
  // Announces a query that will run soon with exactly this SQL and these
  // parameters. An engine that can sends it along with the next statement
  // and answers the query from what came back; what was read ahead is
  // dropped by every write, at the start and the end of a transaction and
  // between requests. Nothing changes in what any query answers. The
  // default does nothing.
  virtual void Prefetch(const std::string& /*sql*/, const std::vector<Stored>& /*params*/) {}
  // Whether Prefetch reads anything ahead: where it does not, callers need
  // not build the queries they would announce. The default: it does not.
  virtual bool ReadsAhead() { return false; }

  // The tables that exist with their columns, and the indexes, every name
  // in lower case (names compare without case).
  struct Existing {
    std::map<std::string, std::set<std::string>> columns;  // table -> columns
    std::set<std::string> indexes;
  };
  virtual Existing ReadSchema() = 0;
};

}  // namespace wo::store

namespace wo::store {
// The two engines (sqlite_backend.cpp, pg_backend.cpp). Neither connects
// here: the connection is made by the first operation that needs it.
std::unique_ptr<Connection> OpenSqlite(const ConnectionSettings& s);
std::unique_ptr<Connection> OpenPostgres(const ConnectionSettings& s);

// The statements that create `t` and its indexes when missing, in the
// engine's types (database.cpp).
std::vector<std::string> CreateStatements(const TableDef& t, bool postgres);

// Connection::CreateSchema of either engine: inside one write transaction,
// reads what exists and adds what is missing (database.cpp).
std::vector<SchemaChange> UpgradeSchema(Connection& c, bool postgres);

// Whether the site is closed (ConnectionSettings::closedFile); never throws.
bool IsClosed(const ConnectionSettings& s);
// Raises DatabaseError when the site is closed.
void RefuseWhenClosed(const ConnectionSettings& s);
}  // namespace wo::store
