#include "store/change_stamp.h"

#include "base/errors.h"
#include "store/backend.h"

namespace wo::store {

std::optional<ChangeStamp> ChangeStampOf(Connection& c) {
  Connection::Backend& be = c.backend();
  // A PostgreSQL server (the engine of numbered parameters) keeps no
  // such count that a client could ask for cheaply.
  if (be.dialect.numberedParams) return std::nullopt;
  be.Ensure();
  // total_changes() counts the writes of this connection, data_version
  // those of every other one.
  std::unique_ptr<Rows> rows = be.Query("SELECT total_changes(), data_version FROM pragma_data_version", {});
  StoredRow r;
  if (rows->Next(r) != Rows::Step::Row || r.cols.empty() || r.rowId.kind != Stored::Int ||
      r.cols[0].kind != Stored::Int)
    throw DatabaseError("SQLite: the database's version cannot be read");
  return ChangeStamp{r.cols[0].i, r.rowId.i};
}

}  // namespace wo::store
