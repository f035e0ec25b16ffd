// Own reservations and cancellation: the OMATLISTA rows of /Omat, the
// cancellation confirmation (/Poista), the cancellation with its refund
// (/PoisVar) and its done page (/PoisOk).
//
// A reservation can be cancelled while its slot starts later than now plus
// PoistaEnnenPv hours. The list offers the link only until then, and the
// cancellation itself holds to the same deadline, so a link kept or crafted
// after it neither deletes nor refunds. The delete, the refund and the
// session refresh are one write transaction.
#include "booking/booking_common.h"
#include "module/texts.h"

namespace wo {

using namespace booking;

// The OMATLISTA tag: the date, user and (with the fee in use) balance rows,
// then, when the user holds open reservations, a header row and one row per
// reservation whose slot starts later than now minus MaxVanhatPv days. Lines
// end with a single CR. Empty without a session.
void WebModule::BuildOwnReservationList(std::string& out) {
  if (page.SessionId == "0") return;
  const DateTime nowT = Now();
  const int64_t now = Millis(nowT);
  const int64_t deadline = now + settings.PoistaEnnenPv * kMillisPerHour;
  const int64_t oldest = now - settings.MaxVanhatPv * kMillisPerDay;
  const bool showInstructor = settings.NaytaOhjaaja != 0;
  const std::string colspan = std::to_string(showInstructor ? 4 : 3);
  const std::string& sep = ini.TimeSeparator;

  store::Table& reg = tbl->TblWebReg;
  store::Table& vaAs = tbl->TblVaAs;
  store::Table& vuoro = tbl->TblVuoro;
  CloseOnExit closer{&reg, &vaAs, &vuoro};
  if (!PlainSessionLookup()) return;

  const std::string name = Cut(reg.Text("Sukunimi") + " " + reg.Text("EtuNimi"), 80);
  const std::string asNo = reg.Text("AsNo");
  out += "<tr>\r<th width=\"28%\">" + TranslatedText(texts::C43) + "</th><th colspan=" + colspan + ">" +
         FormatDateTimeShort(nowT, sep) + "</th>\r</tr>\r";
  // The name is the user's own typing: escaped like every such value.
  out += "<tr>\r<th>" + TranslatedText(texts::C44) + "</th><th colspan=" + colspan + ">" +
         HtmlEscape(name) + "</th>\r</tr>\r";
  if (settings.VarMaksuKaytossa == 1) {
    double balance = reg.Float("TmpSaldo");
    GetCustomerBalance(asNo, balance);
    out += "<tr>\r<th>" + TranslatedText(texts::C45) + "</th><th colspan=" + colspan + ">" +
           FormatAmount10_2(balance, ini.DecimalSeparator) + " EUR</th>\r</tr>\r";
  }

  if (vaAs.IsOpen()) vaAs.Close();
  OpenWithIndex(vaAs, "AsNo;Status");
  const std::vector<store::Value> k = {store::Txt(asNo), store::Int(0)};
  vaAs.SetRange(k, k);
  if (vaAs.IsEmpty()) return;

  out += "<tr class=\"otsikko\">\r<th>" + TranslatedText(texts::C46) + "</th><th>" +
         TranslatedText(texts::C47) + "</th><th>" + TranslatedText(texts::C48) + "</th>";
  if (showInstructor) out += "<th>" + TranslatedText(texts::C48a) + "</th>";
  out += "<th>" + TranslatedText(texts::C49) + "</th>\r</tr>\r";

  LoadActivityKinds();
  OpenWithIndex(vuoro, "Kausi;VuoroNo;VuoroNoSeq");
  for (vaAs.First(); !vaAs.Eof(); vaAs.Next()) {
    const std::string kausi = vaAs.Text("Kausi");
    const std::string vuoroNo = vaAs.Text("VuoroNo");
    const std::string seq = vaAs.Text("VuoroNoSeq");
    const int64_t jno = vaAs.Int("Jno");
    if (!vuoro.FindKey({store::Txt(kausi), store::Txt(vuoroNo), store::Txt(seq)})) continue;
    const DateTime startT = vuoro.Date("VuoroAika");
    const int64_t start = Millis(startT);
    if (start <= oldest) continue;

    out += "<tr>\r";
    out += "<td>" + FormatDateTimeShort(startT, sep) + " - " + FormatTime(startT + vuoro.Date("Kesto"), sep) +
           "</td>\r";
    out += "<td>" + ResourceNameOf(vuoro.Text("ResNo")) + "</td>\r";
    out += "<td>" + ActivityKindText(vuoro.Text("Laji")) + "</td>\r";
    if (showInstructor) out += "<td>" + InstructorText(vuoro.Text("Ohjaaja")) + "</td>\r";
    if (start > deadline) {
      out += "<td><A HREF=\"" + std::string(kProgramUrl) + "Poista?ID=" + UrlEncode(page.SessionId) +
             "&Lang=" + UrlEncode(page.Lang) + "&Kau=" + UrlEncode(Trim(kausi)) + "&Vuo=" + UrlEncode(Trim(vuoroNo)) +
             "&Seq=" + UrlEncode(Trim(seq)) + "&JNo=" + std::to_string(jno) + "\">" +
             TranslatedText(texts::C50) + "</A></td>\r";
    } else if (start >= now) {
      out += "<td>&nbsp;</td>\r";
    } else {
      out += "<td>" + TranslatedText(texts::C51) + "</td>\r";
    }
    out += "</tr>\r";
  }
}

// Replaces `balance` by Asiakas.Laskutettu when the customer has a row.
void WebModule::GetCustomerBalance(std::string_view asNo, double& balance) {
  store::Table& as = tbl->TblAsiakas;
  CloseOnExit closer{&as};
  OpenWithIndex(as, "AsNo");
  if (as.FindKey({store::Txt(std::string(asNo))})) balance = as.Float("Laskutettu");
}

// WEBPAGE: /Poista (WebActPoista)
// Query: LANG, ID, Kau, Vuo, Seq, JNo.
// Answers poista.html with the slot described in VARAUS and the reservation's
// key in the hidden fields of VARPARAM (an unknown slot leaves VARAUS empty).
// Error page for fewer than 5 fields; redirects to the start page without a
// session and to the login page after a time-out. A valid session is
// refreshed. Reads no reservation: /PoisVar makes the checks.
void WebModule::WebModOrvaneWebActPoistaAction(const Request& rq, Response& rs, bool&) {
  page.SessionId = kNoSession;
  page.Lang = Cut(rq.Field("LANG"), 15);
  page.HiddenFields.clear();
  if (rq.FieldCount() < 5) {
    ErrorPage();
    return;
  }
  page.SessionId = Cut(rq.Field("ID"), 50);
  const SlotKey key = SlotKey::FromQuery(rq);
  const std::string jno = Cut(rq.Field("JNo"), 10);
  page.HiddenFields = HiddenInput("ID", page.SessionId) + HiddenInput("Lang", page.Lang) +
                      HiddenInput("Kau", key.kau) + HiddenInput("Vuo", Trim(key.vuo)) +
                      HiddenInput("Seq", Trim(key.seq)) + HiddenInput("JNo", Trim(jno));

  store::Table& vuoro = tbl->TblVuoro;
  CloseOnExit closer{&tbl->TblWebReg, &vuoro};
  switch (IdleTestedSession()) {
    case SessionState::None: rs.SendRedirect(IndexUrl()); return;
    case SessionState::TimedOut: rs.SendRedirect(LoginUrl(page.Lang)); return;
    case SessionState::Valid: break;
  }

  OpenWithIndex(vuoro, "Kausi;VuoroNo;VuoroNoSeq");
  if (vuoro.FindKey(key.Values())) {
    const DateTime start = vuoro.Date("VuoroAika");
    const DateTime end = start + vuoro.Date("Kesto");
    const std::string resNo = vuoro.Text("ResNo");
    const std::string laji = vuoro.Text("Laji");
    page.Resurssi = Cut(resNo, 5);
    LoadActivityKinds();
    const std::string& sep = ini.TimeSeparator;
    page.ReservationText = Cut(ResourceNameOf(resNo) + " : " + FormatDateTimeShort(start, sep) + " - " +
                                   FormatTime(end, sep) + " " + ActivityKindText(laji),
                               80);
  }
  vuoro.Close();
  RefreshSession();
  RenderPage(PageProdPoista, "poista.html");
}

namespace {

// The cancellation's table work, run inside the write transaction; decides
// the answer that the action gives once the transaction is committed.
Answer CancelUnderLock(WebModule& m, const SlotKey& key, int64_t jno) {
  store::Table& reg = m.tbl->TblWebReg;
  store::Table& va = m.tbl->TblVa;
  store::Table& vuoro = m.tbl->TblVuoro;
  store::Table& as = m.tbl->TblAsiakas;
  CloseOnExit closer{&reg, &va, &vuoro, &as};
  switch (m.IdleTestedSession()) {
    case SessionState::None: return Answer::Redirect(m.IndexUrl());
    case SessionState::TimedOut: return Answer::Redirect(LoginUrl(m.page.Lang));
    case SessionState::Valid: break;
  }
  const std::string asNo = reg.Text("AsNo");

  // Only the user's own open reservation of an existing slot that starts
  // after the deadline is deleted.
  int err = 0;
  OpenWithIndex(va, "Kausi;VuoroNo;VuoroNoSeq;Jno");
  if (!va.FindKey({store::Txt(key.kau), store::Txt(key.vuo), store::Txt(key.seq), store::Int(jno)}) ||
      va.Text("AsNo") != asNo || va.IsNull("Status") || va.Int("Status") != 0) {
    err = kErrNotFound;
  } else {
    OpenWithIndex(vuoro, "Kausi;VuoroNo;VuoroNoSeq");
    if (!vuoro.FindKey(key.Values())) {
      err = kErrNotFound;
    } else if (Millis(vuoro.Date("VuoroAika")) <= Millis(Now()) + m.settings.PoistaEnnenPv * kMillisPerHour) {
      err = kErrTooLateToCancel;
    } else {
      va.Delete();
    }
    vuoro.Close();
  }
  va.Close();

  // The fee goes back to the balance it was taken from.
  bool refundWebBalance = false;
  if (err == 0 && m.settings.VarMaksuKaytossa == 1) {
    OpenWithIndex(as, "AsNo");
    if (as.FindKey({store::Txt(asNo)})) {
      const double billed = as.Float("Laskutettu");
      as.Edit();
      as["Laskutettu"].SetFloat(RoundCents(billed + m.settings.Varausmaksu));
      as.Post();
    } else {
      refundWebBalance = true;
    }
    as.Close();
  }

  const double webBalance = reg.Float("TmpSaldo");
  reg.Edit();
  if (refundWebBalance) reg["TmpSaldo"].SetFloat(RoundCents(webBalance + m.settings.Varausmaksu));
  reg["Aika"].SetDateTime(Now());
  reg.Post();

  if (err != 0) return Answer::Error(err);
  return Answer::Redirect(PageUrl("PoisOk", m.page.SessionId, m.page.Lang));
}

}  // namespace

// WEBPAGE: /PoisVar (WebActPoisVar)
// Query: LANG, ID, Kau, Vuo, Seq, JNo.
// Deletes the user's open reservation, refunds the fee with the fee in use
// (to Asiakas.Laskutettu, or to WEBREG.TmpSaldo without a customer row) and
// redirects to /PoisOk. Error page: fewer than 4 or more than 6 fields (0), a
// reservation that is not the user's open one or whose slot is gone (5), past
// the cancellation deadline (10); the session is refreshed in both. Redirects
// to the start page without a session and to the login page after a time-out.
void WebModule::WebModOrvaneWebActPoisVarAction(const Request& rq, Response& rs, bool&) {
  page.SessionId = kNoSession;
  page.Lang = Cut(rq.Field("LANG"), 15);
  const int fields = rq.FieldCount();
  if (fields < 4 || fields > 6) {
    ErrorPage();
    return;
  }
  page.SessionId = Cut(rq.Field("ID"), 50);
  const SlotKey key = SlotKey::FromQuery(rq);
  long long jno = ToIntDef(Cut(rq.Field("JNo"), 10), -1);
  if (jno < INT32_MIN || jno > INT32_MAX) jno = -1;  // Jno is a 32-bit field

  const Answer answer = store::InWriteTransaction(*conn, [&] { return CancelUnderLock(*this, key, jno); });
  Deliver(*this, rs, answer);
}

// WEBPAGE: /PoisOk (WebActPoisOk)
// Query: LANG, ID. Answers poisok.html; the error page when the query has no
// field. Reads no table.
void WebModule::WebModOrvaneWebActPoisOkAction(const Request& rq, Response&, bool&) {
  page.SessionId = kNoSession;
  page.Lang = Cut(rq.Field("LANG"), 15);
  if (rq.FieldCount() == 0) {
    ErrorPage();
    return;
  }
  page.SessionId = Cut(rq.Field("ID"), 50);
  RenderPage(PageProdPoisOk, "poisok.html");
}

}  // namespace wo
