// Whether a database has changed since an earlier moment: what lets a
// process that serves many requests keep what it read of the small code
// tables from one request to the next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "store/database.h"

namespace wo::store {

// Two stamps of one connection are equal only when nothing has been
// written to the database in between, by this connection or by any other
// (or process). A stamp is taken by a statement of its own, so it holds for
// what is read after it.
struct ChangeStamp {
  int64_t others = 0;  // the file's version as other connections left it
  int64_t own = 0;     // rows this connection has changed since it opened
  // On a PostgreSQL server: the server's snapshot, "xmin:xmax:running
  // transactions". Two equal snapshots see the same committed writes: a
  // transaction that has begun to write since moved xmax, one that has
  // ended since left the list. Any write on the server changes it, in
  // this database or another, which only costs a reading.
  std::string snapshot;
  bool operator==(const ChangeStamp&) const = default;
};

// The stamp of `c` now; nullopt when the engine cannot tell. Raises
// DatabaseError.
std::optional<ChangeStamp> ChangeStampOf(Connection& c);

// Announces the query of ChangeStampOf (store::Announce), so that on a
// server it rides with the next query. Raises DatabaseError as Announce.
void AnnounceChangeStamp(Connection& c);

}  // namespace wo::store
