// Connection::Open, apart from the rest of the store: a program that opens
// only SQLite files (OpenSqlite) links neither this nor the PostgreSQL
// backend with its loader of the client library.
#include "store/backend.h"

namespace wo::store {

std::unique_ptr<Connection> Connection::Open(const ConnectionSettings& s) {
  return s.UsesServer() ? OpenPostgres(s) : OpenSqlite(s);
}

}  // namespace wo::store
