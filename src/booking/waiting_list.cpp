#include "booking/waiting_list.h"

#include <algorithm>
#include <optional>

#include "booking/calendar.h"
#include "booking/reservation.h"
#include "base/format.h"
#include "frame/html.h"
#include "mail/mail_queue.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"
#include "store/slot_counts.h"
#include "store/table.h"
#include "store/waiting_list.h"

namespace wo {

using namespace booking;

namespace {

store::SlotKeyText KeyText(const SlotKey& k) { return {k.kau, k.vuo, k.seq}; }
SlotKey FromText(const store::SlotKeyText& k) { return {std::get<0>(k), std::get<1>(k), std::get<2>(k)}; }

// What settling and joining need of a slot: VaVuoro's row and the
// customers holding its VAVARAUS rows (whatever their Status, as the
// commit counts them).
struct SlotFacts {
  bool exists = false;
  DateTime start = 0;
  int places = 0;
  int rows = 0;
  std::vector<std::string> holders;  // AsNo of each row

  bool HeldBy(std::string_view asNo) const {
    return std::find(holders.begin(), holders.end(), asNo) != holders.end();
  }
};

SlotFacts ReadSlotFacts(store::Connection& c, const SlotKey& key) {
  SlotFacts f;
  store::Table slot(c, store::TableNamed("VaVuoro"), "", kSlotsByKey);
  slot.Open();
  if (slot.FindKey(key.Values())) {
    f.exists = true;
    f.start = slot.Date("VuoroAika");
    f.places = static_cast<int>(slot.Int("Maara"));
  }
  slot.Close();
  store::Table va(c, store::TableNamed("VAVARAUS"), "", kReservationsBySlot);
  va.Open();
  va.SetRange(key.Values(), key.Values());
  for (; !va.Eof(); va.Next()) f.holders.push_back(va.Text("AsNo"));
  va.Close();
  f.rows = static_cast<int>(f.holders.size());
  return f;
}

bool Live(const store::QueueEntry& e, DateTime now) { return e.offered && Millis(e.offerUntil) > Millis(now); }

// Holds a place of the slot for `e` until `until` and, with Mail on, tells
// them so in their language.
void Offer(store::Connection& c, const SiteIni& ini, const store::QueueEntry& e, DateTime until, DateTime now) {
  store::MarkOffered(c, e.id, until);
  if (!ini.Mail) return;
  store::Table reg(c, store::TableNamed("WEBREG"), "", "Tunnus");
  reg.Open();
  if (reg.FindKey({store::Txt(e.userName)}) && reg.Text("AsNo") == e.asNo) {
    const auto& [kausi, vuoroNo, seq] = e.slot;
    mail::QueueReservationMail(c, ini, store::MailKind::Offer, mail::Slot{kausi, vuoroNo, seq},
                               mail::RecipientOf(reg), e.language, now,
                               {{mail::fact::kOfferUntil, ToStoredDateTime(until)}});
  }
  reg.Close();
}

}  // namespace

int SettleLine(store::Connection& c, const SiteIni& ini, const SlotKey& slot, DateTime now) {
  if (!c.InTransaction()) throw store::DatabaseError("a waiting list is settled only inside a write transaction");
  const SlotFacts f = ReadSlotFacts(c, slot);
  const bool over = !f.exists || Millis(f.start) <= Millis(now);
  std::vector<store::QueueEntry> waiting;
  int held = 0;
  for (const store::QueueEntry& e : store::SlotQueue(c, KeyText(slot))) {
    if (over || f.HeldBy(e.asNo) || (e.offered && !Live(e, now))) {
      store::DropFromQueue(c, e.id);
    } else if (e.offered) {
      ++held;
    } else {
      waiting.push_back(e);
    }
  }
  const DateTime until = std::min(now + std::max(ini.OfferMinutes, 1) / 1440.0, f.start);
  int offers = 0;
  for (const store::QueueEntry& e : waiting) {
    if (f.places - f.rows - held - offers <= 0) break;
    Offer(c, ini, e, until, now);
    ++offers;
  }
  return offers;
}

int SettleLines(store::Connection& c, const SiteIni& ini, const std::vector<std::string>& resNos, DateTime from,
                DateTime to, DateTime now) {
  int offers = 0;
  for (const store::SlotKeyText& k : store::SlotsToSettle(c, resNos, from, to, now)) {
    auto settle = [&] { return SettleLine(c, ini, FromText(k), now); };
    offers += c.InTransaction() ? settle() : store::InWriteTransaction(c, settle);
  }
  return offers;
}

void SettleTouchedLine(RequestContext& ctx, const SlotKey& slot) {
  if (ctx.ini.WaitingList) SettleLine(ctx.conn, ctx.ini, slot, ctx.Now());
}

int PlacesHeldForOthers(store::Connection& c, const SlotKey& slot, std::string_view asNo, DateTime now) {
  int held = 0;
  for (const store::QueueEntry& e : store::SlotQueue(c, KeyText(slot)))
    held += Live(e, now) && e.asNo != asNo ? 1 : 0;
  return held;
}

int LinePosition(store::Connection& c, const SlotKey& slot, std::string_view asNo) {
  int ahead = 0;
  for (const store::QueueEntry& e : store::SlotQueue(c, KeyText(slot))) {
    if (e.asNo == asNo) return ahead + 1;
    ahead += e.offered ? 0 : 1;
  }
  return 0;
}

std::vector<LinePlace> UserLinePlaces(RequestContext& ctx, std::string_view asNo) {
  std::vector<LinePlace> out;
  if (!ctx.ini.WaitingList) return out;
  const DateTime now = ctx.Now();
  store::Table& vuoro = ctx.tbl->TblVuoro;
  TableGuard guard{&vuoro};
  OpenWithIndex(vuoro, kSlotsByKey);
  for (const store::QueueEntry& e : store::CustomerQueue(ctx.conn, asNo)) {
    LinePlace p;
    p.slot = FromText(e.slot);
    if (!vuoro.FindKey(p.slot.Values())) continue;
    p.start = vuoro.Date("VuoroAika");
    if (Millis(p.start) <= Millis(now)) continue;
    p.end = p.start + vuoro.Date("Kesto");
    p.resNo = vuoro.Text("ResNo");
    p.laji = vuoro.Text("Laji");
    p.ohjaaja = vuoro.Text("Ohjaaja");
    p.offerUntil = Live(e, now) ? e.offerUntil : 0;
    p.position = LinePosition(ctx.conn, p.slot, asNo);
    out.push_back(std::move(p));
  }
  std::stable_sort(out.begin(), out.end(), [](const LinePlace& a, const LinePlace& b) { return a.start < b.start; });
  return out;
}

int OpenLinePlaces(RequestContext& ctx, std::string_view asNo, const SlotKey& except) {
  int n = 0;
  for (const LinePlace& p : UserLinePlaces(ctx, asNo))
    n += p.slot.kau == except.kau && p.slot.vuo == except.vuo && p.slot.seq == except.seq ? 0 : 1;
  return n;
}

std::string LineCell(RequestContext& ctx, SlotState state, const store::SlotTaken& taken, std::string_view kausi,
                     std::string_view vuoroNo, std::string_view seq, DateTime start) {
  if (!ctx.ini.WaitingList || !ShowsMenu(ctx.page.SessionId)) return {};
  auto link = [&](const char* action, const TextDef& text) {
    return SlotLinkOpen(ctx, action, kausi, vuoroNo, seq) + ctx.TranslatedText(text) + "</A>";
  };
  auto span = [](const std::string& text) { return "<span class=\"slot-state\">" + text + "</span> "; };
  switch (state) {
    case SlotState::Offered:
      return span(ctx.TranslatedText(texts::C98) + " " + FormatDateTimeShort(taken.ownOfferUntil, ctx.TimeSep())) +
             link("Varaa", texts::C99);
    case SlotState::Queued: {
      const SlotKey key{std::string(kausi), std::string(vuoroNo), std::string(seq)};
      const int position = LinePosition(ctx.conn, key, SessionCustomer(ctx));
      return span(ctx.TranslatedText(texts::C96) + " " + std::to_string(position)) + link("JonoPois", texts::C97);
    }
    case SlotState::Full:
      if (Millis(start) <= Millis(ctx.Now()) || BeyondHorizon(ctx, start)) return {};
      return link("Jono", texts::C95);
    default: return {};
  }
}

namespace {

// Why the user of TblWebReg may not join the line of `key` now; nullopt
// when they may. The line is settled first, so that the places it counts
// are the ones the commit would count.
std::optional<PageError> JoinRefusal(RequestContext& ctx, const SlotKey& key, const std::string& asNo) {
  SettleLine(ctx.conn, ctx.ini, key, ctx.Now());
  const SlotFacts f = ReadSlotFacts(ctx.conn, key);
  if (!f.exists) return PageError::NotFound;
  if (std::optional<PageError> r = SlotRefusal(ctx, f.start)) return r;
  if (f.HeldBy(asNo)) return PageError::QueueBooked;
  if (LinePosition(ctx.conn, key, asNo) > 0) return PageError::QueueJoined;
  if (f.rows + PlacesHeldForOthers(ctx.conn, key, asNo, ctx.Now()) < f.places) return PageError::QueueNotFull;
  if (OpenReservationCount(ctx, asNo) + OpenLinePlaces(ctx, asNo, key) >= ctx.settings.MaxAsVaraus)
    return PageError::QueueTooMany;
  return std::nullopt;
}

Answer ToOwnList(RequestContext& ctx) {
  return Answer::Redirect(ProgramUrl("Omat", {{"ID", ctx.page.SessionId}, {"Lang", ctx.page.Lang}}));
}

}  // namespace

Answer WebModOrvaneWebActJonoAction(RequestContext& ctx) {
  const SlotKey key = SlotKey::FromQuery(ctx.req);
  store::Table& reg = ctx.tbl->TblWebReg;  // on the user's row (the gate)
  const std::string asNo = reg.Text("AsNo");
  const std::optional<PageError> refusal = JoinRefusal(ctx, key, asNo);
  if (!refusal) {
    store::QueueEntry e;
    e.slot = KeyText(key);
    e.asNo = asNo;
    e.userName = reg.Text("Tunnus");
    e.language = ctx.page.Lang;
    e.joined = ctx.Now();
    store::AddToQueue(ctx.conn, e);
  }
  RefreshSession(ctx);
  return refusal ? Answer::Error(*refusal) : ToOwnList(ctx);
}

Answer WebModOrvaneWebActJonoPoisAction(RequestContext& ctx) {
  const SlotKey key = SlotKey::FromQuery(ctx.req);
  const std::string asNo = ctx.tbl->TblWebReg.Text("AsNo");
  bool left = false;
  for (const store::QueueEntry& e : store::SlotQueue(ctx.conn, KeyText(key)))
    if (e.asNo == asNo) left = store::DropFromQueue(ctx.conn, e.id);
  // A place held for the user goes to the next in line at once.
  SettleLine(ctx.conn, ctx.ini, key, ctx.Now());
  RefreshSession(ctx);
  return left ? ToOwnList(ctx) : Answer::Error(PageError::QueueNotIn);
}

}  // namespace wo
