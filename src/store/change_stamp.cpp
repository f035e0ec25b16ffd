#include "store/change_stamp.h"

#include "base/errors.h"
#include "store/backend.h"

namespace wo::store {

namespace {

// The snapshot of a PostgreSQL server (the engine of numbered
// parameters), which a statement of its own takes afresh.
constexpr const char* kServerSnapshot = "SELECT txid_current_snapshot()::text";

}  // namespace

void AnnounceChangeStamp(Connection& c) {
  Connection::Backend& be = c.backend();
  if (!be.dialect.numberedParams) return;
  be.Ensure();
  be.Prefetch(kServerSnapshot, {});
}

std::optional<ChangeStamp> ChangeStampOf(Connection& c) {
  Connection::Backend& be = c.backend();
  be.Ensure();
  if (be.dialect.numberedParams) {
    std::unique_ptr<Rows> rows = be.Query(kServerSnapshot, {});
    StoredRow r;
    if (rows->Next(r) != Rows::Step::Row || r.rowId.kind != Stored::Text || r.rowId.s.empty())
      throw DatabaseError("PostgreSQL: the server's snapshot cannot be read");
    ChangeStamp s;
    s.snapshot = std::move(r.rowId.s);
    return s;
  }
  // total_changes() counts the writes of this connection, data_version
  // those of every other one.
  std::unique_ptr<Rows> rows = be.Query("SELECT total_changes(), data_version FROM pragma_data_version", {});
  StoredRow r;
  if (rows->Next(r) != Rows::Step::Row || r.cols.empty() || r.rowId.kind != Stored::Int ||
      r.cols[0].kind != Stored::Int)
    throw DatabaseError("SQLite: the database's version cannot be read");
  return ChangeStamp{r.cols[0].i, r.rowId.i, {}};
}

}  // namespace wo::store
