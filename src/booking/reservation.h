// Making a reservation: the confirmation page (/Varaa), the commit (/Var)
// with its checks and the VAVARAUS row, and the success page (/VarOk).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "booking/common.h"
#include "module/actions.h"
#include "store/outbox.h"

namespace wo {

struct RequestContext;

// WEBPAGE /Varaa (session rule IdleTested)
// Query: LANG, ID, Kau, Vuo, Seq (at least 4 fields).
// Answers varaa.html with the slot described in VARAUS and its key in the
// hidden fields of VARPARAM. Error page: a slot key VaVuoro lacks
// (NotFound), a slot at or beyond the booking horizon (BeyondHorizon), a
// slot that has started (SlotClosed). The session is refreshed. Under INI
// [Features] OwnListDetails VARAUSTIEDOT adds the weekday, the instructor,
// the fee, the balance after booking and the cancellation deadline.
Answer WebModOrvaneWebActVaraaAction(RequestContext& ctx);

// WEBPAGE /Var (session rule IdleTested, in a write transaction)
// Query: LANG, ID, Kau, Vuo, Seq and, where the resource has web codes,
// Koodi (4 to 6 fields).
// Checks the slot, the customer's limits, duplicates, the places and the
// balance, writes one VAVARAUS row and redirects to /VarOk. Error page: a
// Koodi other than "" and "Web" that the resource's WEBKOODI rows lack
// (Search), a duplicate (Duplicate), too many open (TooManyOpen) or past
// (TooManyPast) reservations, a slot VaVuoro lacks (NotFound), beyond the
// horizon (BeyondHorizon), full or started (SlotClosed), the credit limit
// (CreditLimit). The session is refreshed unless the slot is refused
// before any check. With [Features] Mail on, a booking made queues its
// confirmation mail in the same transaction.
//
// The checks and the writes run in one write transaction of the store,
// which excludes every other writer: two visitors committing for the last
// place of a slot, or one visitor committing several slots at once, are
// served one after the other, so a slot never gets more rows than places, a
// customer never more reservations than the limits allow, and no two rows
// of a slot share a Jno.
Answer WebModOrvaneWebActVarAction(RequestContext& ctx);

// WEBPAGE /VarOk
// Query: LANG, ID (at least one field). Answers varok.html; reads no table,
// but under OwnListDetails VARAUS and VARAUSTIEDOT describe the session
// user's newest open reservation (nothing without a session).
Answer WebModOrvaneWebActVarOkAction(RequestContext& ctx);

// The refusal of a slot that cannot be booked now: beyond the horizon
// (MaxVarausPv days from now) or started; nullopt while it can.
std::optional<PageError> SlotRefusal(RequestContext& ctx, DateTime start);

// The customer's open reservations as the commit counts them against
// MaxAsVaraus: Status 0, the slot starting after now minus MaxVanhatPv days
// (one whose slot VaVuoro lacks does not count).
int OpenReservationCount(RequestContext& ctx, std::string_view asNo);

// A reservation to write: the slot, the customer and the web code.
struct ReservationRequest {
  booking::SlotKey slot;
  std::string asNo, korttiLyh;  // WEBREG.AsNo and KorttiLyh of the user
  std::string koodi;            // the web code; "" is stored as "Web"
  int places = 0;               // VaVuoro.Maara of the slot
  double webBalance = 0;        // WEBREG.TmpSaldo of the user
};

struct ReservationResult {
  bool written = false;
  PageError refusal = PageError::Search;  // why not, unless written
  // The user's balance after the fee: the customer's (Asiakas.Laskutettu,
  // charged already when the fee is in use) or the web balance.
  double balance = 0;
  // The customer has no Asiakas row: the fee is the caller's to charge to
  // WEBREG.TmpSaldo (with the fee in use).
  bool chargeWebBalance = false;
};

// Checks the customer's limits (MaxAsVaraus open, MaxVanhatVaraukset past),
// duplicates by customer or card, the places and the credit limit, and
// writes the VAVARAUS row with the next Jno of the slot; with the fee in
// use, Asiakas.Laskutettu is charged. Nothing is written on a refusal.
// REQUIRES: a write transaction open (std::logic_error otherwise), and
// TblWebReg positioned on the user's current row: its names and phone are
// used when the customer has no Asiakas row.
ReservationResult CommitReservation(RequestContext& ctx, const ReservationRequest& r);

// With [Features] Mail on, queues the mail of `kind` about the slot `key`
// to the user of TblWebReg's current row, in the request's language
// (mail/mail_queue.h); nothing with it off. Call it for a change that was
// made, after its writes and after the user's row was posted, so that the
// mail tells the balance after the change.
// REQUIRES: the action's write transaction; TblWebReg on the user's row.
void QueueSlotMail(RequestContext& ctx, store::MailKind kind, const booking::SlotKey& key);

}  // namespace wo
