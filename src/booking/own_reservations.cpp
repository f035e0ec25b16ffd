#include "booking/own_reservations.h"

#include <climits>

#include "base/format.h"
#include "booking/calendar.h"
#include "booking/calendar_feed.h"
#include "booking/common.h"
#include "booking/reservation.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "module/texts.h"

namespace wo {

using namespace booking;

namespace {

// The width of the user's name in the list.
constexpr size_t kListNameWidth = 80;

// The head of the list: the date, the user and, with the fee in use, the
// balance (Asiakas.Laskutettu, or WEBREG.TmpSaldo without a customer row).
// REQUIRES: TblWebReg on the user's row.
void ListHead(RequestContext& ctx, const std::string& colspan, std::string& out) {
  store::Table& reg = ctx.tbl->TblWebReg;
  const std::string name = Cut(reg.Text("Sukunimi") + " " + reg.Text("EtuNimi"), kListNameWidth);
  out += "<tr>\r<th width=\"28%\">" + ctx.TranslatedText(texts::C43) + "</th><th colspan=" + colspan + ">" +
         FormatDateTimeShort(ctx.Now(), ctx.TimeSep()) + "</th>\r</tr>\r";
  // The name is the user's own typing: escaped like every such value.
  out += "<tr>\r<th>" + ctx.TranslatedText(texts::C44) + "</th><th colspan=" + colspan + ">" + HtmlEscape(name) +
         "</th>\r</tr>\r";
  if (ctx.settings.VarMaksuKaytossa != 1) return;
  double balance = reg.Float("TmpSaldo");
  store::Table& as = ctx.tbl->TblAsiakas;
  TableGuard guard{&as};
  OpenWithIndex(as, "AsNo");
  if (as.FindKey({store::Txt(reg.Text("AsNo"))})) balance = as.Float("Laskutettu");
  out += "<tr>\r<th>" + ctx.TranslatedText(texts::C45) + "</th><th colspan=" + colspan + ">" +
         FormatAmount10_2(balance, ctx.DecimalSep()) + " EUR</th>\r</tr>\r";
}

// One row of the list: the reservation at vaAs's row, its slot at vuoro's.
// The action cell: the cancel link until the deadline, then nothing until
// the slot starts, then "Perumaton".
void ListRow(RequestContext& ctx, store::Table& vaAs, store::Table& vuoro, int64_t now, int64_t deadline,
             std::string& out) {
  const std::string& sep = ctx.TimeSep();
  const DateTime startT = vuoro.Date("VuoroAika");
  const int64_t start = Millis(startT);
  out += "<tr>\r";
  out += "<td>" + FormatDateTimeShort(startT, sep) + " - " + FormatTime(startT + vuoro.Date("Kesto"), sep);
  if (ctx.ini.CalendarFeed) {
    out += ' ';
    out += AddToCalendarLink(ctx, vaAs.Text("Kausi"), vaAs.Text("VuoroNo"), vaAs.Text("VuoroNoSeq"));
  }
  out += "</td>\r";
  out += "<td>" + ResourceNameOf(ctx, vuoro.Text("ResNo")) + "</td>\r";
  out += "<td>" + ActivityKindText(ctx, vuoro.Text("Laji")) + "</td>\r";
  if (ctx.settings.NaytaOhjaaja != 0) out += "<td>" + InstructorText(ctx, vuoro.Text("Ohjaaja")) + "</td>\r";
  if (start > deadline) {
    const std::string kau = Trim(vaAs.Text("Kausi")), vuo = Trim(vaAs.Text("VuoroNo")),
                      seq = Trim(vaAs.Text("VuoroNoSeq")), jno = std::to_string(vaAs.Int("Jno"));
    out += "<td>" +
           LinkOpen(ProgramUrl("Poista", {{"ID", ctx.page.SessionId},
                                          {"Lang", ctx.page.Lang},
                                          {"Kau", kau},
                                          {"Vuo", vuo},
                                          {"Seq", seq},
                                          {"JNo", jno}})) +
           ctx.TranslatedText(texts::C50) + "</A></td>\r";
  } else if (start >= now) {
    out += "<td>&nbsp;</td>\r";
  } else {
    out += "<td>" + ctx.TranslatedText(texts::C51) + "</td>\r";
  }
  out += "</tr>\r";
}

}  // namespace

std::string OwnReservationList(RequestContext& ctx) {
  std::string out;
  if (IsNone(ctx.page.SessionId)) return out;
  const Settings& s = ctx.settings;
  const int64_t now = Millis(ctx.Now());
  const int64_t deadline = now + s.PoistaEnnenPv * kMillisPerHour;
  const int64_t oldest = now - s.MaxVanhatPv * kMillisPerDay;
  const std::string colspan = std::to_string(s.NaytaOhjaaja != 0 ? 4 : 3);

  store::Table& reg = ctx.tbl->TblWebReg;
  store::Table& vaAs = ctx.tbl->TblVaAs;
  store::Table& vuoro = ctx.tbl->TblVuoro;
  TableGuard guard{&reg, &vaAs, &vuoro};
  if (!PlainSessionLookup(ctx)) return out;
  ListHead(ctx, colspan, out);

  if (vaAs.IsOpen()) vaAs.Close();
  OpenWithIndex(vaAs, kReservationsByCustomer);
  const std::vector<store::Value> k = {store::Txt(reg.Text("AsNo")), store::Int(0)};
  vaAs.SetRange(k, k);
  if (vaAs.IsEmpty()) return out;

  out += "<tr class=\"otsikko\">\r<th>" + ctx.TranslatedText(texts::C46) + "</th><th>" +
         ctx.TranslatedText(texts::C47) + "</th><th>" + ctx.TranslatedText(texts::C48) + "</th>";
  if (s.NaytaOhjaaja != 0) out += "<th>" + ctx.TranslatedText(texts::C48a) + "</th>";
  out += "<th>" + ctx.TranslatedText(texts::C49) + "</th>\r</tr>\r";

  LoadActivityKinds(ctx);
  OpenWithIndex(vuoro, kSlotsByKey);
  for (vaAs.First(); !vaAs.Eof(); vaAs.Next()) {
    if (!vuoro.FindKey({store::Txt(vaAs.Text("Kausi")), store::Txt(vaAs.Text("VuoroNo")),
                        store::Txt(vaAs.Text("VuoroNoSeq"))}))
      continue;
    if (Millis(vuoro.Date("VuoroAika")) <= oldest) continue;
    ListRow(ctx, vaAs, vuoro, now, deadline, out);
  }
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

  if (refusal) return Answer::Error(*refusal);
  QueueSlotMail(ctx, store::MailKind::Cancellation, key);
  return Answer::Redirect(ProgramUrl("PoisOk", {{"ID", ctx.page.SessionId}, {"Lang", ctx.page.Lang}}));
}

Answer WebModOrvaneWebActPoisOkAction(RequestContext& ctx) {
  return Answer::Page(ctx.pages.PageProdPoisOk, "poisok.html");
}

}  // namespace wo
