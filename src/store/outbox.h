// The outbox: the mails the web front owes its users, one WEBPOSTI row
// each. A change that tells a user something (a booking, a cancellation, a
// password-reset request) queues its mail inside its own write
// transaction, so a mail exists if and only if its change committed; no
// request ever talks to a mail server. `weborvane-admin mail send` then
// claims the due rows one at a time, delivers them and records the outcome.
//
// A row's life: queued (due at Seuraava) -> sending (claimed by one sender
// until Seuraava, its lease) -> sent, or back to queued with the error and
// a later Seuraava, or failed for good. Claims are made inside a write
// transaction, which excludes every other writer, so two senders never
// hold the same row; a sender that dies leaves a claim that lapses when its
// lease ends, and the row is then claimed again.
//
// Texts are Windows-1252, like every text of the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/database.h"
#include "base/datetime.h"

namespace wo::store {

enum class MailKind { Confirmation, Cancellation, Reminder, Reset, Offer };
enum class MailState { Queued, Sending, Sent, Failed };

// The stored forms: "confirmation", "cancellation", "reminder", "reset",
// "offer"; "queued", "sending", "sent", "failed".
const char* MailKindName(MailKind k);
const char* MailStateName(MailState s);
// False when `name` is none of the stored forms.
bool ParseMailKind(std::string_view name, MailKind& out);

// The key of a reservation as VAVARAUS and VaVuoro store it (VuoroNo and
// VuoroNoSeq right-aligned to 5), with the customer number. Empty for a
// mail that is about no reservation.
struct ReservationKey {
  std::string kausi, vuoroNo, vuoroNoSeq, asNo;
  bool Empty() const { return kausi.empty() && vuoroNo.empty() && vuoroNoSeq.empty() && asNo.empty(); }
  bool operator==(const ReservationKey&) const = default;
};

struct OutboxMessage {
  int64_t id = 0;
  MailKind kind = MailKind::Confirmation;
  std::string recipient;  // the e-mail address, 80 characters
  std::string language;   // the Lang of the request that queued it, 15
  std::string facts;      // what the message is rendered from (mail/mail_facts.h), 4000
  ReservationKey key;
  DateTime created = 0;
  int attempts = 0;         // delivery attempts begun
  DateTime nextAttempt = 0; // queued: when it is due; sending: when the claim lapses
  MailState state = MailState::Queued;
  std::string holder;       // the sender holding the claim (or that held the last one)
  DateTime sentAt = 0;      // sent: when
  std::string lastError;    // the last failed attempt's reason, 250
};

// Adds `msg` as a queued message, due at msg.created, and returns its new
// id (1, 2, ... in the order of queueing). Only kind, recipient, language,
// facts, key and created are taken from `msg`.
// REQUIRES: c.InTransaction(): the write transaction of the change the
// message tells of, so that the message is committed or rolled back with
// it. Raises DatabaseError outside one, and when the recipient is empty or
// a text is longer than its column (nothing is cut).
int64_t QueueMessage(Connection& c, const OutboxMessage& msg);

// Claims the first message due by `dueBy` (queued with nextAttempt <=
// dueBy, the earliest due first), or else one whose claim lapsed by then
// (sending with nextAttempt <= dueBy): it becomes sending, held by `holder`
// until `leaseUntil`, with one more attempt counted. Runs its own write
// transaction; REQUIRES: !c.InTransaction(). Returns the claimed row as it
// now stands, or nothing when no message is due.
std::optional<OutboxMessage> ClaimNextMessage(Connection& c, std::string_view holder, DateTime dueBy,
                                              DateTime leaseUntil);

// The outcome of a claimed message's attempt, recorded by FinishMessage.
struct Delivery {
  enum Outcome { Sent, Retry, Failed } outcome = Sent;
  DateTime at = 0;      // Sent: the time of delivery; Retry: when it is due again
  std::string error;    // Retry, Failed: the reason (cut to 250)
  bool forgetFacts = false;  // blank the facts (a reset link must not outlive its mail)
};

// Records the attempt of message `id` claimed by `holder`. Runs its own
// write transaction; REQUIRES: !c.InTransaction(). Returns false, changing
// nothing, when the message is gone or no longer held by `holder` (its
// claim lapsed and another sender took it).
bool FinishMessage(Connection& c, int64_t id, std::string_view holder, const Delivery& d);

// Every message, in the order of queueing.
std::vector<OutboxMessage> ListMessages(Connection& c);

// The latest message of `kind` about `key` created at or after `since`;
// nothing when there is none.
std::optional<OutboxMessage> LatestMessageFor(Connection& c, const ReservationKey& key, MailKind kind,
                                              DateTime since);

// Deletes the sent and failed messages created before `before`; returns
// how many. Runs its own write transaction; REQUIRES: !c.InTransaction().
int PruneMessages(Connection& c, DateTime before);

}  // namespace wo::store
