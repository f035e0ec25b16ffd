#include "store/change_stamp.h"

#include "store/backend.h"
#include "base/errors.h"

namespace wo::store {

std::optional<ChangeStamp> ChangeStampOf(Connection& c) {
  Connection::Backend& be = c.backend();
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
