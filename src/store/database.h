// The database a request works on: the embedded SQLite file or a PostgreSQL
// server, chosen by the site's INI settings. Connecting is cheap and lazy:
// nothing happens until the first operation that needs the database; a
// failure to connect is remembered and raised as DatabaseError (with the
// file or server and the engine's message) by that operation and every
// later one, so start-up can go on to its first table.
//
// SQLite: the file must exist (see createIfMissing); WAL mode, which init
// sets in the file; a busy database is waited for up to 8 seconds.
// A site closed for maintenance (see closedFile) cannot be connected to.
// PostgreSQL: host serverAddress, the given port, database `alias`,
// application name serverName; the client library is loaded only then.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "store/table.h"

namespace wo::store {

struct ConnectionSettings {
  std::string serverName;     // INI [DataBase] ServerName
  std::string serverAddress;  // INI [DataBase] ServerAddress
  int port = 16000;
  std::string alias = "VELMORI";
  std::string user, password;  // PostgreSQL credentials, may be empty
  std::string databaseFile;    // SQLite file, absolute or relative to cwd
  // SQLite only: create the file when it is missing (the admin command's
  // init). The program itself never does, so that a misplaced file is an
  // error rather than an empty database.
  bool createIfMissing = false;
  // When set and a file of that name exists, the site is closed for
  // maintenance (a restore, a change of the password key): connecting
  // fails with DatabaseError, whose message is the file's first line. The
  // administration command leaves it empty, so that it can do its work.
  std::string closedFile;
  // Both server name and address set: PostgreSQL; otherwise SQLite.
  bool UsesServer() const { return !serverName.empty() && !serverAddress.empty(); }
  bool operator==(const ConnectionSettings&) const = default;
};

// A piece of the schema: a table, a column of a table or an index of one.
struct SchemaChange {
  enum Kind { Table, Column, Index };
  Kind kind;
  std::string table;
  std::string name;  // the column or index; empty for a table
  bool operator==(const SchemaChange&) const = default;
};

class Connection {
 public:
  virtual ~Connection();
  // Connects; errors are kept and raised by later operations.
  static std::unique_ptr<Connection> Open(const ConnectionSettings& s);

  // A write transaction that excludes every other writer until it ends
  // (SQLite: BEGIN IMMEDIATE; PostgreSQL: a transaction-scoped advisory
  // lock that every writer takes), so that what it reads stays true until
  // it commits. Waits up to 8 seconds for another writer, then raises
  // DatabaseError: in BeginWrite, or on a server with the first statement
  // inside the transaction, which then goes in the same round trip (nothing
  // is read or written in between). Not nested: BeginWrite inside one
  // raises DatabaseError.
  // Writes outside a transaction commit one by one.
  virtual void BeginWrite() = 0;
  // Announces that BeginWrite will follow the next statement: a server
  // begins the transaction, and waits for the writers' lock, right after
  // that statement in its round trip, so that what is read from then on
  // is read inside it; BeginWrite then goes on in that transaction. One
  // that no BeginWrite takes up ends with Rollback as any other. The
  // default does nothing.
  virtual void BeginWriteAfterNext() {}
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  virtual bool InTransaction() const = 0;

  // Whether the connection can serve another request as it is: not once
  // connecting has failed, nor when the site has been closed for
  // maintenance since it connected, nor when its SQLite file is no longer
  // the file it opened (removed or replaced), nor when the server has
  // ended the connection. One that has not connected yet can. A process
  // that keeps its connection between requests asks before each request
  // and opens a new one when the answer is no. Never throws.
  virtual bool Usable() = 0;

  // Creates every table, column and index of AllTables() that is missing
  // (indexes unique where the schema says), in one transaction, and returns
  // what it added: nothing when the schema is complete. A column added to an
  // existing table allows null, whatever the schema says, because the rows
  // already there have no value for it. Nothing that exists is changed.
  virtual std::vector<SchemaChange> CreateSchema() = 0;
  // What CreateSchema would add, without changing anything.
  std::vector<SchemaChange> MissingSchema();

  // Backend details used by Table (see store/backend.h).
  struct Backend;
  virtual Backend& backend() = 0;
};

// Runs `fn` inside a write transaction: commits when it returns, rolls back
// when it throws (and rethrows).
template <class Fn>
auto InWriteTransaction(Connection& c, Fn&& fn) {
  c.BeginWrite();
  try {
    if constexpr (std::is_void_v<decltype(fn())>) {
      fn();
      c.Commit();
    } else {
      auto r = fn();
      c.Commit();
      return r;
    }
  } catch (...) {
    if (c.InTransaction()) c.Rollback();
    throw;
  }
}

}  // namespace wo::store
