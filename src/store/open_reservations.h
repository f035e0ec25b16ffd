// A customer's open reservations with their slots, in one query: what the
// own list shows and what the booking's limits count, in place of one slot
// lookup per reservation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "store/database.h"

namespace wo::store {

struct OpenReservation {
  // The reservation's key as VAVARAUS stores it (a null Kausi reads as "").
  std::string kausi, vuoroNo, vuoroNoSeq;
  int64_t jno = 0;
  // Whether the slot exists; when not, the fields below are empty.
  bool slotFound = false;
  // Of its slot (VaVuoro): the start, the length (a fraction of a day), the
  // resource, the activity kind and the instructor.
  DateTime start = 0, length = 0;
  std::string resNo, laji, ohjaaja;
};

// The VAVARAUS rows of customer `asNo` (as WEBREG stores it) with Status 0,
// each with its slot -- the VaVuoro row whose key equals the reservation's
// as read, a null Kausi reading as "" -- in the order in which a walk of
// VAVARAUS by AsNo;Status meets them (row identity order). Texts are
// Windows-1252, as table handles read them.
std::vector<OpenReservation> OpenReservations(Connection& c, std::string_view asNo);
// Announces that query (Backend::Prefetch).
void AnnounceOpenReservations(Connection& c, std::string_view asNo);

}  // namespace wo::store
