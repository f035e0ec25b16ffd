// The places taken in the slots of one resource over a stretch of time, in
// one grouped query: what the calendar shows in place of one count per slot.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/datetime.h"
#include "store/database.h"

namespace wo::store {

// A slot's key as VaVuoro and VAVARAUS store it: Kausi, VuoroNo, VuoroNoSeq
// (VuoroNo and VuoroNoSeq right-aligned in 5).
using SlotKeyText = std::tuple<std::string, std::string, std::string>;

struct SlotTaken {
  int rows = 0;  // every VAVARAUS row of the slot, whatever its Status
  int own = 0;   // of those, the ones of the customer asked about
  // The lowest Jno of the customer's open (Status 0) rows; -1 when none.
  int64_t ownOpenJno = -1;
};

// The reservations of every VaVuoro slot of resource `resNo` that starts
// from `from` to `to` (both inclusive, compared to the whole second, as a
// range of the handle ResNo;VuoroAika compares them), by slot key. A slot
// without reservations has no entry. `asNo` (WEBREG.AsNo, as stored) names
// the customer whose rows SlotTaken::own counts; "" counts none.
// The keys join as a handle's key lookup compares them: exactly, as stored.
std::map<SlotKeyText, SlotTaken> CountSlotReservations(Connection& c, std::string_view resNo, DateTime from,
                                                      DateTime to, std::string_view asNo);
// The same over the slots of every resource in `resNos` (a slot's key is
// unique across resources); none for an empty list.
std::map<SlotKeyText, SlotTaken> CountSlotReservations(Connection& c, const std::vector<std::string>& resNos,
                                                      DateTime from, DateTime to, std::string_view asNo);

}  // namespace wo::store
