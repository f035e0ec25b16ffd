#include "booking/own_reservations.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "base/format.h"
#include "booking/calendar.h"
#include "booking/calendar_feed.h"
#include "booking/common.h"
#include "booking/reservation.h"
#include "booking/waiting_list.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"
#include "store/open_reservations.h"

namespace wo {

using namespace booking;

namespace {

// The width of the user's name in the list.
constexpr size_t kListNameWidth = 80;

// A row of the list's head: a label and its value across the columns.
std::string HeadRow(const std::string& label, const std::string& colspan, const std::string& value,
                    bool first = false) {
  return std::string(first ? "<tr>\r<th width=\"28%\">" : "<tr>\r<th>") + label + "</th><th colspan=" + colspan +
         ">" + value + "</th>\r</tr>\r";
}

// The head of the list: the date, the user and, with the fee in use, the
// balance (Asiakas.Laskutettu, or WEBREG.TmpSaldo without a customer row).
// Under OwnListDetails the balance shows also where the credit limit
// applies (a customer row) without the fee.
// REQUIRES: TblWebReg on the user's row.
void ListHead(RequestContext& ctx, const std::string& colspan, const Balance& balance, std::string& out) {
  store::Table& reg = ctx.tbl->TblWebReg;
  const std::string name = Cut(reg.Text("Sukunimi") + " " + reg.Text("EtuNimi"), kListNameWidth);
  out += HeadRow(ctx.TranslatedText(texts::C43), colspan, FormatDateTimeShort(ctx.Now(), ctx.TimeSep()), true);
  // The name is the user's own typing: escaped like every such value.
  out += HeadRow(ctx.TranslatedText(texts::C44), colspan, HtmlEscape(name));
  if (ctx.settings.VarMaksuKaytossa == 1 || (ctx.ini.OwnListDetails && balance.customer))
    out += HeadRow(ctx.TranslatedText(texts::C45), colspan, FormatAmount10_2(balance.amount, ctx.DecimalSep()) + " EUR");
}

// One reservation of the list: the VAVARAUS row and its slot.
struct OwnRow {
  std::string kausi, vuoroNo, seq;  // as stored
  int64_t jno = 0;
  DateTime start = 0;
  double kesto = 0;
  std::string resNo, laji, ohjaaja;
};

// Under OwnListDetails: what limits the user's next booking, so that none is
// first met as a refusal -- the open and the unused past reservations
// against their limits (counted as the commit counts them: the rows listed
// and the places in waiting lists, and of the rows the ones begun), the
// end of the booking horizon and, where it applies, the credit limit.
void Limits(RequestContext& ctx, const std::string& colspan, const std::vector<OwnRow>& rows, size_t linePlaces,
            const Balance& balance, std::string& out) {
  const Settings& s = ctx.settings;
  const int64_t now = Millis(ctx.Now());
  int past = 0;
  for (const OwnRow& r : rows) past += Millis(r.start) < now ? 1 : 0;
  out += HeadRow(ctx.TranslatedText(texts::C68), colspan,
                 std::to_string(rows.size() + linePlaces) + " / " + std::to_string(s.MaxAsVaraus));
  out += HeadRow(ctx.TranslatedText(texts::C69), colspan,
                 std::to_string(past) + " / " + std::to_string(s.MaxVanhatVaraukset));
  out += HeadRow(ctx.TranslatedText(texts::C70), colspan,
                 FormatDateTimeShort(ctx.Now() + s.MaxVarausPv, ctx.TimeSep()));
  if (balance.customer)
    out += HeadRow(ctx.TranslatedText(texts::C71), colspan, FormatAmount10_2(s.Luottoraja, ctx.DecimalSep()) + " EUR");
}

// One row of the list. The action cell: the cancel link until the deadline,
// then nothing until the slot starts, then "Perumaton". Under
// OwnListDetails the time begins with the weekday, the link says until when
// it holds, and the empty cell says that it no longer does.
void ListRow(RequestContext& ctx, const OwnRow& r, int64_t now, int64_t deadline, std::string& out) {
  const std::string& sep = ctx.TimeSep();
  const bool details = ctx.ini.OwnListDetails;
  const int64_t start = Millis(r.start);
  out += "<tr>\r<td>";
  if (details) out += WeekdayName(ctx, DayOfWeek(r.start)) + " ";
  out += FormatDateTimeShort(r.start, sep) + " - " + FormatTime(r.start + r.kesto, sep);
  if (ctx.ini.CalendarFeed) {
    out += ' ';
    out += AddToCalendarLink(ctx, r.kausi, r.vuoroNo, r.seq);
  }
  out += "</td>\r";
  out += "<td>" + ResourceNameOf(ctx, r.resNo) + "</td>\r";
  out += "<td>" + ActivityKindText(ctx, r.laji) + "</td>\r";
  if (ctx.settings.NaytaOhjaaja != 0) out += "<td>" + InstructorText(ctx, r.ohjaaja) + "</td>\r";
  if (start > deadline) {
    out += "<td>" + CancelLinkOpen(ctx, r.kausi, r.vuoroNo, r.seq, r.jno) + ctx.TranslatedText(texts::C50) + "</A>";
    if (details)
      out += "<br><span class=\"deadline\">" + ctx.TranslatedText(texts::C66) + " " +
             FormatDateTimeShort(CancellableUntil(ctx, r.start), sep) + "</span>";
    out += "</td>\r";
  } else if (start >= now) {
    out += details ? "<td>" + ctx.TranslatedText(texts::C67) + "</td>\r" : std::string("<td>&nbsp;</td>\r");
  } else {
    out += "<td>" + ctx.TranslatedText(texts::C51) + "</td>\r";
  }
  out += "</tr>\r";
}

// One place of the user in a waiting list (WaitingList), in the columns of
// the reservations: the action cell holds the place in line, or the offer
// with its booking link, and the link that leaves the line.
void LineRow(RequestContext& ctx, const LinePlace& p, std::string& out) {
  const std::string& sep = ctx.TimeSep();
  const SlotKey& k = p.slot;
  out += "<tr class=\"line-place\">\r<td>";
  if (ctx.ini.OwnListDetails) out += WeekdayName(ctx, DayOfWeek(p.start)) + " ";
  out += FormatDateTimeShort(p.start, sep) + " - " + FormatTime(p.end, sep) + "</td>\r";
  out += "<td>" + ResourceNameOf(ctx, p.resNo) + "</td>\r";
  out += "<td>" + ActivityKindText(ctx, p.laji) + "</td>\r";
  if (ctx.settings.NaytaOhjaaja != 0) out += "<td>" + InstructorText(ctx, p.ohjaaja) + "</td>\r";
  out += "<td>";
  if (p.offerUntil != 0)
    out += ctx.TranslatedText(texts::C98) + " " + FormatDateTimeShort(p.offerUntil, sep) + " " +
           SlotLinkOpen(ctx, "Varaa", k.kau, k.vuo, k.seq) + ctx.TranslatedText(texts::C99) + "</A>";
  else
    out += ctx.TranslatedText(texts::C96) + " " + std::to_string(p.position);
  out += "<br>" + SlotLinkOpen(ctx, "JonoPois", k.kau, k.vuo, k.seq) + ctx.TranslatedText(texts::C97) + "</A>";
  out += "</td>\r</tr>\r";
}

}  // namespace

Balance UserBalance(RequestContext& ctx) {
  store::Table& reg = ctx.tbl->TblWebReg;
  Balance b{reg.Float("TmpSaldo"), false};
  store::Table& as = ctx.tbl->TblAsiakas;
  TableGuard guard{&as};
  OpenWithIndex(as, "AsNo");
  if (as.FindKey({store::Txt(reg.Text("AsNo"))})) b = {as.Float("Laskutettu"), true};
  return b;
}

std::string OwnReservationList(RequestContext& ctx) {
  std::string out;
  if (IsNone(ctx.page.SessionId)) return out;
  const Settings& s = ctx.settings;
  const int64_t now = Millis(ctx.Now());
  const int64_t deadline = now + s.PoistaEnnenPv * kMillisPerHour;
  const int64_t oldest = now - s.MaxVanhatPv * kMillisPerDay;
  const std::string colspan = std::to_string(s.NaytaOhjaaja != 0 ? 4 : 3);

  store::Table& reg = ctx.tbl->TblWebReg;
  TableGuard guard{&reg};
  if (!PlainSessionLookup(ctx)) return out;
  // The list's query, and the code tables its rows name, go along with the
  // first query after the session's.
  store::AnnounceOpenReservations(ctx.conn, reg.Text("AsNo"));
  AnnounceCodeTables(ctx, true, true);
  const bool needBalance = s.VarMaksuKaytossa == 1 || ctx.ini.OwnListDetails;
  const Balance balance = needBalance ? UserBalance(ctx) : Balance{};
  ListHead(ctx, colspan, balance, out);

  // The open reservations whose slot still exists and started less than
  // MaxVanhatPv days ago: in the index's order, or by start under
  // OwnListDetails.
  std::vector<OwnRow> rows;
  const std::vector<store::OpenReservation> open = store::OpenReservations(ctx.conn, reg.Text("AsNo"));
  const bool any = !open.empty();
  for (const store::OpenReservation& o : open) {
    if (!o.slotFound || Millis(o.start) <= oldest) continue;
    rows.push_back(OwnRow{o.kausi, o.vuoroNo, o.vuoroNoSeq, o.jno, o.start, o.length, o.resNo, o.laji, o.ohjaaja});
  }
  const std::vector<LinePlace> lines = UserLinePlaces(ctx, reg.Text("AsNo"));
  if (ctx.ini.OwnListDetails) {
    Limits(ctx, colspan, rows, lines.size(), balance, out);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const OwnRow& a, const OwnRow& b) { return Millis(a.start) < Millis(b.start); });
  }
  // No header row for a user without open reservations (even when one is
  // held but none is listed) or places in line.
  if (!any && lines.empty()) return out;

  out += "<tr class=\"otsikko\">\r<th>" + ctx.TranslatedText(texts::C46) + "</th><th>" +
         ctx.TranslatedText(texts::C47) + "</th><th>" + ctx.TranslatedText(texts::C48) + "</th>";
  if (s.NaytaOhjaaja != 0) out += "<th>" + ctx.TranslatedText(texts::C48a) + "</th>";
  out += "<th>" + ctx.TranslatedText(texts::C49) + "</th>\r</tr>\r";

  LoadActivityKinds(ctx);
  for (const OwnRow& r : rows) ListRow(ctx, r, now, deadline, out);
  for (const LinePlace& p : lines) LineRow(ctx, p, out);
  return out;
}

Answer WebModOrvaneWebActPoistaAction(RequestContext& ctx) {
  PageState& page = ctx.page;
  const SlotKey key = SlotKey::FromQuery(ctx.req);
  const std::string jno = Cut(ctx.req.Field("JNo"), kJnoWidth);
  page.HiddenFields = HiddenInput("ID", page.SessionId) + HiddenInput("Lang", page.Lang) +
                      HiddenInput("Kau", key.kau) + HiddenInput("Vuo", Trim(key.vuo)) +
                      HiddenInput("Seq", Trim(key.seq)) + HiddenInput("JNo", Trim(jno));

  store::Table& vuoro = ctx.tbl->TblVuoro;
  TableGuard guard{&vuoro};
  AnnounceCodeTables(ctx, false, false);  // the description's activity kinds
  OpenWithIndex(vuoro, kSlotsByKey);
  if (vuoro.FindKey(key.Values())) DescribeSlot(ctx, vuoro);
  vuoro.Close();
  RefreshSession(ctx);
  return Answer::Page(ctx.pages.PageProdPoista, "poista.html");
}

namespace {

// Deletes the user's own open reservation `jno` of the slot `key` when the
// slot still exists and starts after the cancellation deadline; nullopt
// when it did, otherwise why not.
std::optional<PageError> DeleteOwnReservation(RequestContext& ctx, const SlotKey& key, int64_t jno,
                                              const std::string& asNo) {
  store::Table& va = ctx.tbl->TblVa;
  store::Table& vuoro = ctx.tbl->TblVuoro;
  TableGuard guard{&va, &vuoro};
  OpenWithIndex(va, kReservationsBySlot);
  if (!va.FindKey({store::Txt(key.kau), store::Txt(key.vuo), store::Txt(key.seq), store::Int(jno)}) ||
      va.Text("AsNo") != asNo || va.IsNull("Status") || va.Int("Status") != 0)
    return PageError::NotFound;
  OpenWithIndex(vuoro, kSlotsByKey);
  if (!vuoro.FindKey(key.Values())) return PageError::NotFound;
  if (Millis(vuoro.Date("VuoroAika")) <= Millis(ctx.Now()) + ctx.settings.PoistaEnnenPv * kMillisPerHour)
    return PageError::TooLateToCancel;
  NoteCancellation(ctx, va.Text("Kausi"), va.Text("VuoroNo"), va.Text("VuoroNoSeq"), asNo, jno);
  va.Delete();
  return std::nullopt;
}

}  // namespace

Answer WebModOrvaneWebActPoisVarAction(RequestContext& ctx) {
  const SlotKey key = SlotKey::FromQuery(ctx.req);
  long long jno = ToIntDef(Cut(ctx.req.Field("JNo"), kJnoWidth), -1);
  if (jno < INT32_MIN || jno > INT32_MAX) jno = -1;  // Jno is a 32-bit field
  const Settings& s = ctx.settings;
  store::Table& reg = ctx.tbl->TblWebReg;  // on the user's row (the gate)
  const std::string asNo = reg.Text("AsNo");

  // The slot's lookup goes along with the reservation's.
  AnnounceFind(ctx.tbl->TblVuoro, kSlotsByKey, key.Values());
  const std::optional<PageError> refusal = DeleteOwnReservation(ctx, key, jno, asNo);

  // The fee goes back to the balance it was taken from.
  bool refundWebBalance = false;
  if (!refusal && s.VarMaksuKaytossa == 1) {
    store::Table& as = ctx.tbl->TblAsiakas;
    TableGuard guard{&as};
    OpenWithIndex(as, "AsNo");
    if (as.FindKey({store::Txt(asNo)})) {
      const double billed = as.Float("Laskutettu");
      as.Edit();
      as["Laskutettu"].SetFloat(RoundCents(billed + s.Varausmaksu));
      as.Post();
    } else {
      refundWebBalance = true;
    }
  }

  const double webBalance = reg.Float("TmpSaldo");
  reg.Edit();
  if (refundWebBalance) reg["TmpSaldo"].SetFloat(RoundCents(webBalance + s.Varausmaksu));
  reg["Aika"].SetDateTime(ctx.Now());
  reg.Post();

  // The freed place goes to the first in the slot's line in this same
  // transaction, before anyone else can take it.
  SettleTouchedLine(ctx, key);
  if (refusal) return Answer::Error(*refusal);
  QueueSlotMail(ctx, store::MailKind::Cancellation, key);
  return Answer::Redirect(ProgramUrl("PoisOk", {{"ID", ctx.page.SessionId}, {"Lang", ctx.page.Lang}}));
}

Answer WebModOrvaneWebActPoisOkAction(RequestContext& ctx) {
  return Answer::Page(ctx.pages.PageProdPoisOk, "poisok.html");
}

}  // namespace wo
