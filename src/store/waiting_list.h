// The waiting lists of full slots (WEBJONO): one row per user in line for a
// slot, in the order of joining. A row is waiting, or offered: then a freed
// place of the slot is held for its user until Voimassa.
//
// What a row means is decided by the booking (booking/waiting_list.h);
// this file only reads and writes the rows. Every write REQUIRES the
// caller's write transaction (DatabaseError otherwise), so that a change
// of the line is committed or rolled back with the change that caused it.
//
// Texts are Windows-1252, like every text of the program.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "store/database.h"
#include "store/slot_counts.h"

namespace wo::store {

struct QueueEntry {
  int64_t id = 0;            // the order of joining: 1, 2, ... over all slots
  SlotKeyText slot;          // Kausi, VuoroNo, VuoroNoSeq as VaVuoro stores them
  std::string asNo;          // WEBREG.AsNo of the user
  std::string userName;      // WEBREG.Tunnus, for the offer's mail
  std::string language;      // the Lang of the page the user joined from
  DateTime joined = 0;
  bool offered = false;
  DateTime offerUntil = 0;   // offered: when the hold ends
};

// The slot's line, in the order of joining.
std::vector<QueueEntry> SlotQueue(Connection& c, const SlotKeyText& slot);
// The rows of customer `asNo`, over every slot, in the order of joining.
std::vector<QueueEntry> CustomerQueue(Connection& c, std::string_view asNo);
// Every slot that has a line, in key order.
std::vector<SlotKeyText> QueuedSlots(Connection& c);

// Adds `e` (all but id) at the end of its slot's line; returns its id.
int64_t AddToQueue(Connection& c, const QueueEntry& e);
// Removes the row `id`; false when it is gone.
bool DropFromQueue(Connection& c, int64_t id);
// Makes the row `id` an offer held until `until`; false when it is gone.
bool MarkOffered(Connection& c, int64_t id, DateTime until);

}  // namespace wo::store
