#include "booking/reservation.h"

#include <algorithm>
#include <stdexcept>

#include "base/format.h"
#include "booking/calendar.h"
#include "booking/own_reservations.h"
#include "booking/waiting_list.h"
#include "frame/html.h"
#include "mail/mail_queue.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"
#include "store/open_reservations.h"

namespace wo {

using namespace booking;

namespace {

// The width of VAVARAUS.AsNimi as the commit fills it from WEBREG.
constexpr size_t kCustomerNameWidth = 35;

// One row of the details of a slot (tag VARAUSTIEDOT).
std::string DetailRow(const std::string& label, const std::string& value) {
  return "<tr><th>" + label + "</th><td>" + value + "</td></tr>\r";
}

// The details of the slot at `vuoro`'s row under OwnListDetails: its
// weekday and date, its instructor (where the site shows instructors),
// the fee and `balanceLabel` with `balance` (with the fee in use), and
// until when a reservation of it can be cancelled.
std::string SlotDetails(RequestContext& ctx, store::Table& vuoro, const TextDef& balanceLabel, double balance) {
  const Settings& s = ctx.settings;
  const DateTime start = vuoro.Date("VuoroAika");
  std::string out = DetailRow(ctx.TranslatedText(texts::C43), WeekdayName(ctx, DayOfWeek(start)) + " " + FormatDate(start));
  const std::string ohjaaja = Cut(vuoro.Text("Ohjaaja"), kCodeWidth);
  if (s.NaytaOhjaaja != 0 && !ohjaaja.empty())
    out += DetailRow(ctx.TranslatedText(texts::C48a), InstructorText(ctx, ohjaaja));
  if (s.VarMaksuKaytossa == 1) {
    const std::string& sep = ctx.DecimalSep();
    out += DetailRow(Trim(ctx.TranslatedText(texts::C14)), Trim(FormatAmount10_2(s.Varausmaksu, sep)) + " EUR");
    out += DetailRow(ctx.TranslatedText(balanceLabel), Trim(FormatAmount10_2(balance, sep)) + " EUR");
  }
  out += DetailRow(ctx.TranslatedText(texts::C66), Cancellable(ctx, start)
                                                       ? FormatDateTimeShort(CancellableUntil(ctx, start), ctx.TimeSep())
                                                       : ctx.TranslatedText(texts::C67));
  return out;
}

// Under OwnListDetails the booked page repeats the booking: the user's
// newest open reservation (by Varausaika, read through TblVa, whose fields
// TblVaAs lacks), never a slot the query names. Describes it as the
// confirmation did; nothing without a session.
void DescribeNewestReservation(RequestContext& ctx) {
  store::Table& reg = ctx.tbl->TblWebReg;
  store::Table& vaAs = ctx.tbl->TblVaAs;
  store::Table& va = ctx.tbl->TblVa;
  store::Table& vuoro = ctx.tbl->TblVuoro;
  TableGuard guard{&reg, &vaAs, &va, &vuoro};
  if (!PlainSessionLookup(ctx)) return;
  if (vaAs.IsOpen()) vaAs.Close();
  OpenWithIndex(vaAs, kReservationsByCustomer);
  OpenWithIndex(va, kReservationsBySlot);
  const std::vector<store::Value> k = {store::Txt(reg.Text("AsNo")), store::Int(0)};
  vaAs.SetRange(k, k);
  std::optional<SlotKey> newest;
  DateTime newestAt = 0;
  for (; !vaAs.Eof(); vaAs.Next()) {
    const SlotKey key{vaAs.Text("Kausi"), vaAs.Text("VuoroNo"), vaAs.Text("VuoroNoSeq")};
    std::vector<store::Value> full = key.Values();
    full.push_back(store::Int(vaAs.Int("Jno")));
    if (!va.FindKey(full)) continue;
    const DateTime at = va.Date("Varausaika");
    if (newest && at < newestAt) continue;
    newest = key;
    newestAt = at;
  }
  if (!newest) return;
  OpenWithIndex(vuoro, kSlotsByKey);
  if (!vuoro.FindKey(newest->Values())) return;
  const Balance balance = UserBalance(ctx);
  DescribeSlot(ctx, vuoro);
  ctx.page.ReservationDetails = SlotDetails(ctx, vuoro, texts::C45, balance.amount);
}

struct OpenCounts {
  int open = 0;  // Status 0, the slot starting after now minus MaxVanhatPv days
  int past = 0;  // of those, the ones that started before now
};

// The customer's reservations by OpenCounts; one whose slot VaVuoro lacks
// counts in neither.
OpenCounts CountOpenReservations(RequestContext& ctx, std::string_view asNo) {
  const int64_t now = Millis(ctx.Now());
  const int64_t oldest = now - ctx.settings.MaxVanhatPv * kMillisPerDay;
  OpenCounts counts;
  for (const store::OpenReservation& r : store::OpenReservations(ctx.conn, asNo)) {
    const int64_t start = Millis(r.start);
    if (r.slotFound && start > oldest) {
      ++counts.open;
      if (start < now) ++counts.past;
    }
  }
  return counts;
}

// The reservations of the request's slot, read through `va` (by slot).
struct SlotRows {
  int64_t highestJno = 0;
  int count = 0;           // the rows read: all of them unless a duplicate stopped the walk
  bool duplicate = false;  // the customer, or the card, holds one already
};

// Reads the slot's rows unless `walk` is false (then only tests that there
// are any).
SlotRows ReadSlotRows(store::Table& va, const ReservationRequest& r, bool walk) {
  SlotRows rows;
  const std::vector<store::Value> slot = r.slot.Values();
  va.SetRange(slot, slot);
  // IsEmpty leaves the handle on the range's first row.
  if (va.IsEmpty() || !walk) return rows;
  for (; !rows.duplicate && !va.Eof(); va.Next(), ++rows.count) {
    rows.highestJno = std::max(rows.highestJno, va.Int("Jno"));
    if (va.Text("AsNo") == r.asNo || (!r.korttiLyh.empty() && va.Text("KorttiLyh") == r.korttiLyh))
      rows.duplicate = true;
  }
  return rows;
}

// Appends the VAVARAUS row of `r` with number `jno`, in the customer's name
// and phone.
void AppendReservation(RequestContext& ctx, store::Table& va, const ReservationRequest& r, int64_t jno,
                       const std::string& name, const std::string& phone) {
  const DateTime now = ctx.Now();
  va.Append();
  va["Kausi"].SetText(r.slot.kau);
  va["VuoroNo"].SetText(r.slot.vuo);
  va["VuoroNoSeq"].SetText(r.slot.seq);
  va["Jno"].SetInt(jno);
  va["AsNo"].SetText(r.asNo);
  va["AsNimi"].SetText(name);
  va["KorttiLyh"].SetText(r.korttiLyh);
  va["PuhNo"].SetText(phone);
  va["Huom"].SetText(r.koodi.empty() ? std::string("Web") : r.koodi);
  va["Status"].SetInt(0);
  va["Kaytettyaika"].SetNull();
  va["Varausaika"].SetDateTime(now);
  va["AikaLeima"].SetDateTime(now);
  // Nothing reads the new row back: on a server it goes with the next
  // statement of the transaction.
  va.PostWithNext();
}

// Announces what CommitReservation reads for customer `asNo` and the slot
// `key` -- the customer's open reservations, the slot's rows, the customer
// row -- so that it goes along with the slot's lookup. Handles that are
// open are left alone.
void AnnounceCommitReads(RequestContext& ctx, const SlotKey& key, const std::string& asNo) {
  store::AnnounceOpenReservations(ctx.conn, asNo);
  const std::vector<store::Value> slot = key.Values();
  AnnounceRange(ctx.tbl->TblVa, kReservationsBySlot, slot, slot);
  AnnounceFind(ctx.tbl->TblAsiakas, "AsNo", {store::Txt(asNo)});
}

}  // namespace

std::optional<PageError> SlotRefusal(RequestContext& ctx, DateTime start) {
  if (BeyondHorizon(ctx, start)) return PageError::BeyondHorizon;
  if (Millis(start) <= Millis(ctx.Now())) return PageError::SlotClosed;
  return std::nullopt;
}

int OpenReservationCount(RequestContext& ctx, std::string_view asNo) { return CountOpenReservations(ctx, asNo).open; }

Answer WebModOrvaneWebActVaraaAction(RequestContext& ctx) {
  PageState& page = ctx.page;
  const SlotKey key = SlotKey::FromQuery(ctx.req);
  page.HiddenFields = HiddenInput("ID", page.SessionId) + HiddenInput("Lang", page.Lang) +
                      HiddenInput("Kau", key.kau) + HiddenInput("Vuo", Trim(key.vuo)) +
                      HiddenInput("Seq", Trim(key.seq));

  store::Table& vuoro = ctx.tbl->TblVuoro;
  TableGuard guard{&vuoro};
  // The description's activity kinds (and instructor) ride with the lookup.
  AnnounceCodeTables(ctx, ctx.ini.OwnListDetails, false);
  OpenWithIndex(vuoro, kSlotsByKey);
  const bool found = vuoro.FindKey(key.Values());
  const DateTime start = found ? vuoro.Date("VuoroAika") : 0;
  if (found) DescribeSlot(ctx, vuoro);
  if (found && ctx.ini.OwnListDetails) {
    const double fee = ctx.settings.VarMaksuKaytossa == 1 ? ctx.settings.Varausmaksu : 0.0;
    page.ReservationDetails = SlotDetails(ctx, vuoro, texts::C72, RoundCents(UserBalance(ctx).amount - fee));
  }
  vuoro.Close();
  RefreshSession(ctx);

  if (!found) return Answer::Error(PageError::NotFound);
  if (std::optional<PageError> refusal = SlotRefusal(ctx, start)) return Answer::Error(*refusal);
  return Answer::Page(ctx.pages.PageProdVaraa, "varaa.html");
}

Answer WebModOrvaneWebActVarAction(RequestContext& ctx) {
  const SlotKey key = SlotKey::FromQuery(ctx.req);
  const std::string koodi = Cut(ctx.req.Field("Koodi"), kCodeWidth);
  store::Table& reg = ctx.tbl->TblWebReg;  // on the user's row (the gate)
  store::Table& vuoro = ctx.tbl->TblVuoro;
  TableGuard guard{&vuoro};

  // The slot's waiting list is settled first: a lapsed offer moves on
  // before the places are counted.
  SettleTouchedLine(ctx, key);
  AnnounceCommitReads(ctx, key, reg.Text("AsNo"));
  // A slot that does not exist, lies beyond the horizon or has started is
  // refused before any check; the session is not refreshed.
  OpenWithIndex(vuoro, kSlotsByKey);
  if (!vuoro.FindKey(key.Values())) return Answer::Error(PageError::NotFound);
  if (std::optional<PageError> refusal = SlotRefusal(ctx, vuoro.Date("VuoroAika"))) return Answer::Error(*refusal);
  // A web code must be one the slot's resource offers; anything else is a
  // forged form, refused before anything is written.
  if (!koodi.empty() && koodi != "Web") {
    store::Table& codes = ctx.tbl->TblWebKoodi;
    TableGuard codesGuard{&codes};
    OpenWithIndex(codes, "ResNo;WebKoodi");
    if (!codes.FindKey({store::Txt(Cut(vuoro.Text("ResNo"), kCodeWidth)), store::Txt(koodi)}))
      return Answer::Error(PageError::Search);
  }

  const ReservationResult result =
      CommitReservation(ctx, ReservationRequest{key, reg.Text("AsNo"), reg.Text("KorttiLyh"), koodi,
                                                static_cast<int>(vuoro.Int("Maara")), reg.Float("TmpSaldo")});
  reg.Edit();
  if (result.chargeWebBalance && ctx.settings.VarMaksuKaytossa == 1) reg["TmpSaldo"].SetFloat(result.balance);
  reg["Aika"].SetDateTime(ctx.Now());
  reg.Post();

  if (!result.written) return Answer::Error(result.refusal);
  // The booker leaves the slot's line: a place held for them is now theirs.
  SettleTouchedLine(ctx, key);
  QueueSlotMail(ctx, store::MailKind::Confirmation, key);
  // With the calendar feeds, the booked page offers the reservation as a
  // calendar file, so it is told which slot was booked.
  if (ctx.ini.CalendarFeed)
    return Answer::Redirect(ProgramUrl("VarOk", {{"ID", ctx.page.SessionId},
                                                 {"Lang", ctx.page.Lang},
                                                 {"Kau", Trim(key.kau)},
                                                 {"Vuo", Trim(key.vuo)},
                                                 {"Seq", Trim(key.seq)}}));
  return Answer::Redirect(ProgramUrl("VarOk", {{"ID", ctx.page.SessionId}, {"Lang", ctx.page.Lang}}));
}

ReservationResult CommitReservation(RequestContext& ctx, const ReservationRequest& r) {
  if (!ctx.conn.InTransaction()) throw std::logic_error("CommitReservation needs a write transaction");
  const Settings& s = ctx.settings;
  ReservationResult result;
  result.balance = r.webBalance;
  auto refuse = [&](PageError e) {
    result.refusal = e;
    result.chargeWebBalance = false;
    return result;
  };

  store::Table& va = ctx.tbl->TblVa;
  TableGuard vaGuard{&va};
  OpenWithIndex(va, kReservationsBySlot);

  // The customer's limits, then the slot's rows: duplicates by customer or
  // card, and the places taken.
  // Places in line count against MaxAsVaraus with the open reservations,
  // but for this slot's, which the booking takes the place of.
  const OpenCounts counts = CountOpenReservations(ctx, r.asNo);
  const int linePlaces = ctx.ini.WaitingList ? OpenLinePlaces(ctx, r.asNo, r.slot) : 0;
  std::optional<PageError> limit;
  if (counts.open + linePlaces >= s.MaxAsVaraus) limit = PageError::TooManyOpen;
  if (counts.past >= s.MaxVanhatVaraukset) limit = PageError::TooManyPast;
  const SlotRows rows = ReadSlotRows(va, r, !limit);
  if (limit) return refuse(*limit);
  if (rows.duplicate) return refuse(PageError::Duplicate);
  // A place a waiting list holds for someone else is taken.
  const int held = ctx.ini.WaitingList ? PlacesHeldForOthers(ctx.conn, r.slot, r.asNo, ctx.Now()) : 0;
  if (rows.count + held >= r.places) return refuse(PageError::SlotClosed);

  store::Table& reg = ctx.tbl->TblWebReg;
  std::string name = Cut(reg.Text("Sukunimi") + " " + reg.Text("EtuNimi"), kCustomerNameWidth);
  std::string phone = reg.Text("PuhNo");
  // Balances are compared and stored in whole cents (RoundCents), so that
  // a balance that reaches the limit exactly is within it.
  result.balance = RoundCents(result.balance - s.Varausmaksu);
  {
    store::Table& as = ctx.tbl->TblAsiakas;
    TableGuard asGuard{&as};
    OpenWithIndex(as, "AsNo");
    if (as.FindKey({store::Txt(r.asNo)})) {
      name = as.Text("AsNimi");
      phone = as.Text("PuhNo");
      result.balance = RoundCents(as.Float("Laskutettu") - s.Varausmaksu);
      // The credit limit holds whether or not the fee is charged.
      if (result.balance < RoundCents(s.Luottoraja)) return refuse(PageError::CreditLimit);
      if (s.VarMaksuKaytossa == 1) {
        as.Edit();
        as["Laskutettu"].SetFloat(result.balance);
        as.Post();
      }
    } else {
      result.chargeWebBalance = true;
    }
  }

  AppendReservation(ctx, va, r, rows.highestJno + 1, name, phone);
  result.written = true;
  return result;
}

void QueueSlotMail(RequestContext& ctx, store::MailKind kind, const SlotKey& key) {
  if (!ctx.ini.Mail) return;
  mail::QueueReservationMail(ctx.conn, ctx.ini, kind, mail::Slot{key.kau, key.vuo, key.seq},
                             mail::RecipientOf(ctx.tbl->TblWebReg), ctx.page.Lang, ctx.Now());
}

Answer WebModOrvaneWebActVarOkAction(RequestContext& ctx) {
  if (ctx.ini.OwnListDetails) DescribeNewestReservation(ctx);
  return Answer::Page(ctx.pages.PageProdVarOk, "varok.html");
}

}  // namespace wo
