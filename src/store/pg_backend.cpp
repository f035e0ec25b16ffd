#include "store/backend.h"
namespace wo::store {
std::unique_ptr<Connection> OpenPostgres(const ConnectionSettings&) {
  throw DatabaseError("PostgreSQL support is being written");
}
}  // namespace wo::store
