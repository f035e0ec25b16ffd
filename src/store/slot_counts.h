// The places taken in the slots of one resource over a stretch of time, in
// one grouped query: what the calendar shows in place of one count per slot.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/datetime.h"
#include "store/database.h"
#include "store/table.h"

namespace wo::store {

// A slot's key as VaVuoro and VAVARAUS store it: Kausi, VuoroNo, VuoroNoSeq
// (VuoroNo and VuoroNoSeq right-aligned in 5).
using SlotKeyText = std::tuple<std::string, std::string, std::string>;

struct SlotTaken {
  int rows = 0;  // every VAVARAUS row of the slot, whatever its Status
  int own = 0;   // of those, the ones of the customer asked about
  // The lowest Jno of the customer's open (Status 0) rows; -1 when none.
  int64_t ownOpenJno = -1;
  // Counted by CountQueuedPlaces only (the waiting lists, WEBJONO): the
  // places the line holds for other customers, whether the customer asked
  // about is in the line, and until when an offer holds a place for them
  // (0: none).
  int held = 0;
  bool ownQueued = false;
  DateTime ownOfferUntil = 0;
};

// Has every row that `slots` (a VaVuoro handle, closed) reads carry the
// reservations of its slot, worked out by the engine in the walk's own
// query: one index probe per slot read, no query of its own. `asNo`
// (WEBREG.AsNo, as stored) names the customer whose rows SlotTaken::own
// counts; "" counts none. The slot's rows join by the key the slot reads
// (a null Kausi reading as ""), exactly, as a handle's key lookup compares.
void CountPlacesWithEachSlot(Table& slots, std::string_view asNo);
// Whether `c`'s engine reads a walk's rows in batches (a server), so that
// a walk stopped early has had the rows after it read and counted all the
// same; SQLite reads no further than the walk steps.
bool ReadsInBatches(Connection& c);
// Whether `c`'s engine reads announced queries ahead (Backend::ReadsAhead):
// where it does not, a walk has nothing to announce.
bool ReadsAhead(Connection& c);
// Has `slots` (a VaVuoro handle on `c`, closed, that will walk the slots
// of `resNo` from `from` to `to`) read only the slots of the first `days`
// days (dates) on which that range has slots: the rows after them are
// never read, counted or sent. REQUIRES: `days` >= 1 (otherwise
// DatabaseError).
void OnlyFirstDaysWithSlots(Connection& c, Table& slots, std::string_view resNo, DateTime from, DateTime to, int days);
// Walks `slots` (a VaVuoro handle on `c`, closed, indexed by resource and
// start) over the slots of `resNo` from `from` to `to` in start order,
// calling `each` on each slot until it returns false; with `days` > 0, on
// the slots of the first `days` days (dates) with slots only. With
// `countFor` (a customer's AsNo, "" for none) each slot comes with its
// places (PlacesTaken). An engine that reads in batches is asked for the
// first `days` dates from `from` with a plain bound on the start, and only
// where some of them had no slots, for as many days with slots after them
// as are missing. Leaves the handle open.
void WalkSlotsOfFirstDays(Connection& c, Table& slots, std::string_view resNo, DateTime from, DateTime to, int days,
                          const std::string* countFor, const std::function<bool(Table& slots)>& each);
// Sets `slots` (closed) to ask for what the first part of
// WalkSlotsOfFirstDays(.., from, .., days, countFor, ..) asks for -- the
// places counted for `countFor` and the bound on the start -- so that a
// walk announced with it (Table::PrefetchRange) is the one the walk makes.
void SetUpFirstPartOfWalk(Connection& c, Table& slots, DateTime from, int days, const std::string* countFor);
// Those places of the slot of `slots`' current row: rows, own and
// ownOpenJno; the waiting list's fields stay empty. REQUIRES: the handle
// was opened after CountPlacesWithEachSlot and is on a row (otherwise
// DatabaseError).
SlotTaken PlacesTaken(const Table& slots);

// The places the waiting lists (WEBJONO) hold in the same slots, counted
// into `counts`: SlotTaken::held the rows of other customers than `asNo`
// that wait, or hold an offer lasting past `now` (a waiting row claims the
// next place that frees); ownQueued and ownOfferUntil the row of `asNo`.
// Only the slots with a line gain an entry.
void CountQueuedPlaces(Connection& c, const std::vector<std::string>& resNos, DateTime from, DateTime to,
                       std::string_view asNo, DateTime now, std::map<SlotKeyText, SlotTaken>& counts);

// The slots whose waiting list has something to settle at `now`: a row of
// a slot that is gone or has started, an offer that has lapsed, a row of a
// customer who holds a reservation of the slot, or a waiting row while the
// slot has more places (VaVuoro.Maara) than reservations and live offers --
// a place freed by a cancellation or by the desktop system (places raised,
// a reservation deleted). With `resNos` not empty, only the slots of those
// resources starting from `from` to `to`; otherwise every slot with a line.
// One query; it writes nothing.
std::vector<SlotKeyText> SlotsToSettle(Connection& c, const std::vector<std::string>& resNos, DateTime from,
                                       DateTime to, DateTime now);

}  // namespace wo::store
