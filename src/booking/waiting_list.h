// The waiting lists of full slots (INI [Features] WaitingList): joining and
// leaving a line (/Jono, /JonoPois), and the settling that gives a freed
// place to the first in line.
//
// A line is fair and loses nothing because it is settled only inside a
// write transaction, which excludes every other writer: the one that frees
// a place (a cancellation) offers it before it commits, and every other
// request that touches the slot settles it first. Settling a slot
//   - drops every row of a slot that is gone or has started, the rows of
//     customers who hold a reservation of it (however they got it), and the
//     offers that have lapsed (the place moves on);
//   - then offers each place that no reservation and no live offer takes to
//     the next waiting row in the order of joining, holding it for
//     OfferMinutes but never past the slot's start, and queues the offer's
//     mail with [Features] Mail on.
// A held place counts as taken to everyone but its user, whose commit
// (/Var) books it with all the commit's checks; so one place is never
// offered to two users, and a held place becomes a booking or moves on.
#pragma once

#include <string>
#include <vector>

#include "base/datetime.h"
#include "booking/calendar.h"
#include "booking/common.h"
#include "module/actions.h"
#include "module/ini.h"
#include "store/database.h"
#include "store/slot_counts.h"

namespace wo {

struct RequestContext;

// Settles the line of `slot` as above; returns how many offers it made.
// REQUIRES: c.InTransaction() (DatabaseError otherwise).
int SettleLine(store::Connection& c, const SiteIni& ini, const booking::SlotKey& slot, DateTime now);

// Settles every slot that store::SlotsToSettle names (of the resources in
// `resNos` from `from` to `to`, or every slot for an empty list), each in a
// write transaction of its own -- or in the caller's, when one is open.
// Returns the offers made.
int SettleLines(store::Connection& c, const SiteIni& ini, const std::vector<std::string>& resNos, DateTime from,
                DateTime to, DateTime now);

// Under WaitingList, settles `slot` inside the request's write transaction;
// nothing with it off.
void SettleTouchedLine(RequestContext& ctx, const booking::SlotKey& slot);

// The places live offers of `slot` hold for other customers than `asNo`.
int PlacesHeldForOthers(store::Connection& c, const booking::SlotKey& slot, std::string_view asNo, DateTime now);

// The places in line customer `asNo` holds in slots that have not started,
// but for `except`.
int OpenLinePlaces(RequestContext& ctx, std::string_view asNo, const booking::SlotKey& except);

// WEBPAGE /Jono (session rule IdleTested, in a write transaction;
// [Features] WaitingList)
// Query: LANG, ID, Kau, Vuo, Seq (at least 4 fields).
// Puts the user at the end of the slot's line and redirects to /Omat.
// Error page: a slot VaVuoro lacks (NotFound), beyond the horizon
// (BeyondHorizon), started (SlotClosed), with places left (QueueNotFull),
// booked by the user (QueueBooked), with the user in line (QueueJoined),
// open reservations and places in line at MaxAsVaraus (QueueTooMany). The
// session is refreshed.
Answer WebModOrvaneWebActJonoAction(RequestContext& ctx);

// WEBPAGE /JonoPois (session rule IdleTested, in a write transaction;
// [Features] WaitingList)
// Query: LANG, ID, Kau, Vuo, Seq (at least 4 fields).
// Takes the user out of the slot's line -- a place held for them moves on
// at once -- and redirects to /Omat. Error page: not in line (QueueNotIn).
// The session is refreshed.
Answer WebModOrvaneWebActJonoPoisAction(RequestContext& ctx);

// The user's places in line for the own reservations list: one per slot
// that has not started, in start order.
struct LinePlace {
  booking::SlotKey slot;
  DateTime start = 0, end = 0;
  std::string resNo, laji, ohjaaja;
  int position = 0;         // 1 for the first in line
  DateTime offerUntil = 0;  // a place held for the user until then; 0: none
};
std::vector<LinePlace> UserLinePlaces(RequestContext& ctx, std::string_view asNo);

// Under WaitingList, what the state cell of a slot (calendar.h) adds for
// the session: Offered, the end of the hold and the booking link; Queued,
// the place in line and the link that leaves it; Full, before the slot
// starts and within the horizon, the link that joins the line. "" for any
// other state, with the switch off and without a session (ShowsMenu).
std::string LineCell(RequestContext& ctx, SlotState state, const store::SlotTaken& taken, std::string_view kausi,
                     std::string_view vuoroNo, std::string_view seq, DateTime start);

// The user's position in the line of `slot` (1 for the first); 0 when not in it.
int LinePosition(store::Connection& c, const booking::SlotKey& slot, std::string_view asNo);

}  // namespace wo
