// What the calendar feeds read and keep: the users' feed tokens
// (WEBKALENTERI, one row per user with a feed, holding only the token's
// hash), the cancellations of the last weeks (WEBPERUTTU, recorded by the
// cancellation itself, since a cancelled reservation's VAVARAUS row is
// gone), and the one query each feed makes.
//
// Texts are Windows-1252, like every text of the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "store/database.h"
#include "store/outbox.h"

namespace wo::store {

// How many characters WEBKALENTERI.Tiiviste holds: a SHA-256 in hexadecimal.
inline constexpr size_t kFeedHashWidth = 64;

// Makes `hash` the feed token of user `tunnus` (WEBREG.Tunnus), replacing
// any earlier one, so that the earlier token stops working at once.
// REQUIRES: c.InTransaction() (DatabaseError otherwise).
void SetFeedToken(Connection& c, std::string_view tunnus, std::string_view hash, DateTime now);
// Forgets the feed token of `tunnus`; false when it had none.
// REQUIRES: c.InTransaction().
bool DropFeedToken(Connection& c, std::string_view tunnus);
// Whether `tunnus` has a feed token.
bool HasFeedToken(Connection& c, std::string_view tunnus);

// Records that the reservation `key` (number `jno` of its slot) was
// cancelled at `at`, and forgets the cancellations recorded before
// `forgetBefore`. REQUIRES: c.InTransaction(): the cancellation's own.
void RecordCancellation(Connection& c, const ReservationKey& key, int64_t jno, DateTime at, DateTime forgetBefore);

// A reservation, or a recorded cancellation, with its slot as the feeds
// show it.
struct FeedEntry {
  ReservationKey key;  // as VAVARAUS stores it (VuoroNo and VuoroNoSeq right-aligned)
  int64_t jno = 0;
  DateTime start = 0, end = 0;
  std::string resource;                   // VARESNIMI.ResNimi
  std::string kindCode, kindShort, kindName;  // VaVuoro.Laji, VALAJI.Lyhenne and Selite
  std::string instructorShort, instructorName;  // VAOHJAAJA.Lyhenne and Nimi
  // When it was booked (VAVARAUS.Varausaika, 0 when null), or cancelled.
  DateTime changed = 0;
  bool cancelled = false;
};

// The feed of the user whose token hashes to `hash`: the user's
// reservations of slots starting from `from` up to `to` (both inclusive),
// and the cancellations recorded from `cancelledSince` on of slots in the
// same span whose reservation has not been made again; ordered by start.
// nullopt when no user has that token. One query.
std::optional<std::vector<FeedEntry>> ReadOwnFeed(Connection& c, std::string_view hash, DateTime from, DateTime to,
                                                 DateTime cancelledSince);

// The reservation of customer `asNo` in slot (kausi, vuoroNo, vuoroNoSeq),
// as VaVuoro stores the key; nullopt when there is none. One query.
std::optional<FeedEntry> ReadOwnReservation(Connection& c, std::string_view asNo, std::string_view kausi,
                                            std::string_view vuoroNo, std::string_view vuoroNoSeq);

// A slot of the public feed with its places.
struct FreeSlot {
  FeedEntry slot;  // key.asNo and jno are empty; changed: the latest booking, 0 when none
  int places = 0;  // VaVuoro.Maara
  int taken = 0;   // its VAVARAUS rows
};

struct FreeFeed {
  std::string resource;  // VARESNIMI.ResNimi
  std::vector<FreeSlot> slots;
};

// The slots of resource `resNo` starting after `from` up to `to` that have
// free places, ordered by start; nullopt when no resource of that code is
// shown on the web. One query.
std::optional<FreeFeed> ReadFreeFeed(Connection& c, std::string_view resNo, DateTime from, DateTime to);

}  // namespace wo::store
