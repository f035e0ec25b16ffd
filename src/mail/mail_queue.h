// Queueing the users' mails: what a booking, a cancellation, a waiting-list
// offer and a password-reset request call inside their write transaction,
// and the reminders that `weborvane-admin mail send` queues. Each gathers
// the facts its message needs (mail/mail_facts.h) and adds one outbox row
// (store/outbox.h); rendering and delivery happen later, in the sender
// (mailer/sender.h), never on a request's path.
//
// With [Features] Mail off nothing is queued: every function returns 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mail/mail_facts.h"
#include "module/ini.h"
#include "store/database.h"
#include "base/datetime.h"
#include "store/outbox.h"
#include "store/table.h"

namespace wo::mail {

// The web user a mail goes to, as WEBREG holds them.
struct Recipient {
  std::string userName;          // Tunnus
  std::string address;           // EMail1
  std::string firstName, lastName;
  std::string customerNo;        // AsNo
  double webBalance = 0;         // TmpSaldo: the balance of a customer without an Asiakas row
  bool blocked = false;          // Status 4
};

// The user of the current row of `webreg`, a handle on WEBREG that sees
// Tunnus, EMail1, EtuNimi, Sukunimi, AsNo, TmpSaldo and Status (the
// module's TblWebReg does). REQUIRES: the handle is on a row.
Recipient RecipientOf(store::Table& webreg);

// True for an address a mail can be sent to: text, one "@", text; no
// blanks, control bytes or any of <>()[],;:\" anywhere, no "." at either
// end of the domain.
bool IsMailAddress(std::string_view address);

// A slot as VaVuoro keys it: Kausi, and VuoroNo and VuoroNoSeq in their
// stored, right-aligned form (booking's SlotKey holds them so).
struct Slot {
  std::string kausi, vuoroNo, vuoroNoSeq;
};

// Queues the mail of a reservation for `to`: Confirmation after a booking,
// Cancellation after a cancellation, Offer for a waiting-list offer. Its
// facts are read now: the slot and what it is (activity, resource, centre,
// instructor as the site shows instructors), the site's fee and
// cancellation rule (WEBPARAM "01") and the customer's balance (Asiakas,
// or `to.webBalance` without a row there), then `extra` over them. Call it
// only for a change that was made, after its own writes — the VAVARAUS row
// posted, or deleted with the fee refunded, and `to` read (RecipientOf)
// after WEBREG.TmpSaldo was posted — so that the balance is the one after
// the change.
// `lang` is the request's Lang: it picks the templates when the mail is
// rendered.
//
// REQUIRES: c.InTransaction(), the write transaction of the change, so that
// the mail is committed or rolled back with it.
// Returns the message's id, or 0 when nothing was queued: Mail is off, `to`
// has no usable address or is blocked, or VaVuoro lacks the slot. Raises
// DatabaseError as the store does; the caller's transaction then rolls back.
int64_t QueueReservationMail(store::Connection& c, const SiteIni& ini, store::MailKind kind, const Slot& slot,
                             const Recipient& to, std::string_view lang, DateTime now, const Facts& extra = {});

// Queues the password-reset mail of `to` with the link of `token` (the
// plain token: only its hash belongs in the table that the reset checks),
// valid for `validMinutes`. The token is blanked in the outbox once the
// mail is sent or given up. REQUIRES and returns as QueueReservationMail;
// the caller decides what a user without an address is answered (nothing
// different, so that the answer tells nobody who is registered).
int64_t QueueResetMail(store::Connection& c, const SiteIni& ini, const Recipient& to, std::string_view lang,
                       std::string_view token, int validMinutes, DateTime now);

// Queues a reminder for each Status-0 reservation whose slot starts after
// `now` and at most ini.ReminderHours later, held by a web user with a
// usable address who is not blocked — unless it has had a reminder, or its
// confirmation was queued when the slot already lay that close (that mail
// came moments before). A reminder is in the language of the reservation's
// confirmation, Finnish without one. Nothing with Mail off or
// ReminderHours 0. Each reminder is checked and queued in a write
// transaction of its own, so two senders never queue the same one.
// REQUIRES: !c.InTransaction(). Returns how many were queued.
int QueueReminders(store::Connection& c, const SiteIni& ini, DateTime now);

}  // namespace wo::mail
