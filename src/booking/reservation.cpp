// Making a reservation: the confirmation page (/Varaa), the commit (/Var)
// with its checks and the VAVARAUS row, and the success page (/VarOk).
//
// The commit's checks and writes run in one write transaction of the store,
// which excludes every other writer: two visitors committing for the last
// place of a slot, or one visitor committing several slots at once, are
// served one after the other, so a slot never gets more rows than places, a
// customer never more reservations than the limits allow, and no two rows of
// a slot share a Jno.
#include <algorithm>

#include "booking/booking_common.h"

namespace wo {

using namespace booking;

// WEBPAGE: /Varaa (WebActVaraa)
// Query: LANG, ID, Kau, Vuo, Seq.
// Answers varaa.html with the slot described in VARAUS and its key in the
// hidden fields of VARPARAM. Error page: fewer than 4 fields (0), a slot key
// VaVuoro lacks (5), a slot at or beyond the booking horizon (6), a slot that
// has started (9). Redirects to the start page without a session and to the
// login page when the session has timed out. A valid session is refreshed.
void WebModule::WebModOrvaneWebActVaraaAction(const Request& rq, Response& rs, bool&) {
  page.SessionId = kNoSession;
  page.Lang = Cut(rq.Field("LANG"), 15);
  page.HiddenFields.clear();
  if (rq.FieldCount() < 4) {
    ErrorPage();
    return;
  }
  page.SessionId = Cut(rq.Field("ID"), 50);
  const SlotKey key = SlotKey::FromQuery(rq);
  page.HiddenFields = HiddenInput("ID", page.SessionId) + HiddenInput("Lang", page.Lang) +
                      HiddenInput("Kau", key.kau) + HiddenInput("Vuo", Trim(key.vuo)) +
                      HiddenInput("Seq", Trim(key.seq));

  store::Table& vuoro = tbl->TblVuoro;
  CloseOnExit closer{&tbl->TblWebReg, &vuoro};
  switch (IdleTestedSession()) {
    case SessionState::None: rs.SendRedirect(IndexUrl()); return;
    case SessionState::TimedOut: rs.SendRedirect(LoginUrl(page.Lang)); return;
    case SessionState::Valid: break;
  }

  OpenWithIndex(vuoro, "Kausi;VuoroNo;VuoroNoSeq");
  const bool found = vuoro.FindKey(key.Values());
  DateTime start = 0;
  if (found) {
    start = vuoro.Date("VuoroAika");
    const DateTime end = start + vuoro.Date("Kesto");
    const std::string resNo = vuoro.Text("ResNo");
    const std::string laji = vuoro.Text("Laji");
    page.Resurssi = Cut(resNo, 5);
    LoadActivityKinds();
    const std::string& sep = ini.TimeSeparator;
    page.ReservationText = Cut(Cut(ResourceNameOf(resNo) + " : ", 38) + FormatDateTimeShort(start, sep) + " - " +
                                   FormatTime(end, sep) + " " + ActivityKindText(laji),
                               80);
  }
  vuoro.Close();
  RefreshSession();

  const int64_t now = Millis(Now());
  if (!found) {
    page.ErrorCode = kErrNotFound;
    ErrorPage();
  } else if (Millis(start) >= now + settings.MaxVarausPv * kMillisPerDay) {
    page.ErrorCode = 6;
    ErrorPage();
  } else if (Millis(start) <= now) {
    page.ErrorCode = kErrSlotClosed;
    ErrorPage();
  } else {
    RenderPage(PageProdVaraa, "varaa.html");
  }
}

namespace {

// The commit's table work, run inside the write transaction; decides the
// answer that the action gives once the transaction is committed.
Answer CommitUnderLock(WebModule& m, const SlotKey& key, const std::string& koodi) {
  store::Table& reg = m.tbl->TblWebReg;
  store::Table& vuoro = m.tbl->TblVuoro;
  CloseOnExit closer{&reg, &vuoro};
  switch (m.IdleTestedSession()) {
    case SessionState::None: return Answer::Redirect(m.IndexUrl());
    case SessionState::TimedOut: return Answer::Redirect(LoginUrl(m.page.Lang));
    case SessionState::Valid: break;
  }

  // A slot that does not exist, lies beyond the horizon or has started is
  // refused before any check; the session is not refreshed.
  OpenWithIndex(vuoro, "Kausi;VuoroNo;VuoroNoSeq");
  if (!vuoro.FindKey(key.Values())) return Answer::Error(kErrNotFound);
  const int places = static_cast<int>(vuoro.Int("Maara"));
  const int64_t start = Millis(vuoro.Date("VuoroAika"));
  const int64_t now = Millis(Now());
  if (start >= now + m.settings.MaxVarausPv * kMillisPerDay) return Answer::Error(6);
  if (start <= now) return Answer::Error(kErrSlotClosed);
  // A web code must be one the slot's resource offers; anything else is a
  // forged form, refused before anything is written.
  if (!koodi.empty() && koodi != "Web") {
    store::Table& codes = m.tbl->TblWebKoodi;
    CloseOnExit closeCodes{&codes};
    OpenWithIndex(codes, "ResNo;WebKoodi");
    if (!codes.FindKey({store::Txt(Cut(vuoro.Text("ResNo"), 5)), store::Txt(koodi)})) return Answer::Error(0);
  }

  double balance = reg.Float("TmpSaldo");
  bool chargeWebBalance = false;
  const int err = m.CommitReservation(
      key.kau, key.vuo, key.seq, reg.Text("AsNo"), reg.Text("KorttiLyh"), koodi, places, balance,
      chargeWebBalance);

  reg.Edit();
  if (chargeWebBalance && m.settings.VarMaksuKaytossa == 1) reg["TmpSaldo"].SetFloat(balance);
  reg["Aika"].SetDateTime(Now());
  reg.Post();

  if (err != 0) return Answer::Error(err);
  return Answer::Redirect(PageUrl("VarOk", m.page.SessionId, m.page.Lang));
}

}  // namespace

// WEBPAGE: /Var (WebActVar)
// Query: LANG, ID, Kau, Vuo, Seq and, where the resource has web codes, Koodi.
// Checks the session, the slot, the customer's limits, duplicates, the places
// and the balance, writes one VAVARAUS row and redirects to /VarOk. Error
// page: fewer than 4 or more than 6 fields or a Koodi other than "" and
// "Web" that the resource's WEBKOODI rows lack (0), a duplicate (1), too many open
// (2) or past (7) reservations, a slot VaVuoro lacks (5), beyond the horizon
// (6), full or started (9), the credit limit (8). Redirects to the start page
// without a session and to the login page after a time-out.
void WebModule::WebModOrvaneWebActVarAction(const Request& rq, Response& rs, bool&) {
  page.SessionId = kNoSession;
  page.Lang = Cut(rq.Field("LANG"), 15);
  const int fields = rq.FieldCount();
  if (fields < 4 || fields > 6) {
    ErrorPage();
    return;
  }
  page.SessionId = Cut(rq.Field("ID"), 50);
  const SlotKey key = SlotKey::FromQuery(rq);
  const std::string koodi = Cut(rq.Field("Koodi"), 5);

  const Answer answer = store::InWriteTransaction(*conn, [&] { return CommitUnderLock(*this, key, koodi); });
  Deliver(*this, rs, answer);
}

// REQUIRES: TblWebReg positioned on the user's row (its names and phone are
// used when the customer has no Asiakas row). Runs inside the caller's write
// transaction, or in one of its own when there is none. Returns 0 when the
// row was written, else the error code; nothing is written on a refusal.
int WebModule::CommitReservation(const std::string& kau, const std::string& vuo, const std::string& seq,
                                 const std::string& asNo, const std::string& korttiLyh, std::string koodi,
                                 int places, double& balance, bool& chargeWebBalance) {
  if (!conn->InTransaction()) {
    return store::InWriteTransaction(*conn, [&] {
      return CommitReservation(kau, vuo, seq, asNo, korttiLyh, koodi, places, balance, chargeWebBalance);
    });
  }

  bool ok = true;
  int err = 0;
  store::Table& va = tbl->TblVa;
  CloseOnExit closeVa{&va};
  OpenWithIndex(va, "Kausi;VuoroNo;VuoroNoSeq;Jno");
  int64_t highestJno = 0;

  int open = 0, past = 0;
  CountOpenReservations(asNo, open, past);
  if (open >= settings.MaxAsVaraus) {
    ok = false;
    err = 2;
  }
  if (past >= settings.MaxVanhatVaraukset) {
    ok = false;
    err = 7;
  }

  // The slot's rows: the highest Jno, duplicates by customer or card, and
  // the places taken.
  const std::vector<store::Value> slot = {store::Txt(kau), store::Txt(vuo), store::Txt(seq)};
  va.SetRange(slot, slot);
  int rows = 0;
  if (!va.IsEmpty()) {
    for (va.First(); ok && !va.Eof(); va.Next(), ++rows) {
      highestJno = std::max(highestJno, va.Int("Jno"));
      if (va.Text("AsNo") == asNo) {
        ok = false;
        err = 1;
      } else if (!korttiLyh.empty() && va.Text("KorttiLyh") == korttiLyh) {
        ok = false;
        err = 1;
      }
    }
  }
  if (!ok) return err;
  if (rows >= places) return kErrSlotClosed;

  const int64_t jno = highestJno + 1;
  store::Table& reg = tbl->TblWebReg;
  std::string name = Cut(reg.Text("Sukunimi") + " " + reg.Text("EtuNimi"), 35);
  std::string phone = reg.Text("PuhNo");
  // Balances are compared and stored in whole cents (RoundCents), so that
  // a balance that reaches the limit exactly is within it.
  balance = RoundCents(balance - settings.Varausmaksu);

  {
    store::Table& as = tbl->TblAsiakas;
    CloseOnExit closeAs{&as};
    OpenWithIndex(as, "AsNo");
    if (as.FindKey({store::Txt(asNo)})) {
      name = as.Text("AsNimi");
      phone = as.Text("PuhNo");
      balance = RoundCents(as.Float("Laskutettu") - settings.Varausmaksu);
      // The credit limit holds whether or not the fee is charged.
      if (balance < RoundCents(settings.Luottoraja)) {
        ok = false;
        err = 8;
      }
      if (settings.VarMaksuKaytossa == 1 && ok) {
        as.Edit();
        as["Laskutettu"].SetFloat(balance);
        as.Post();
      }
    } else {
      chargeWebBalance = true;
    }
  }
  if (koodi.empty()) koodi = "Web";

  if (!ok) {
    chargeWebBalance = false;
    return err;
  }
  const DateTime now = Now();
  va.Append();
  va["Kausi"].SetText(kau);
  va["VuoroNo"].SetText(vuo);
  va["VuoroNoSeq"].SetText(seq);
  va["Jno"].SetInt(jno);
  va["AsNo"].SetText(asNo);
  va["AsNimi"].SetText(name);
  va["KorttiLyh"].SetText(korttiLyh);
  va["PuhNo"].SetText(phone);
  va["Huom"].SetText(koodi);
  va["Status"].SetInt(0);
  va["Kaytettyaika"].SetNull();
  va["Varausaika"].SetDateTime(now);
  va["AikaLeima"].SetDateTime(now);
  va.Post();
  return 0;
}

// Open: the customer's Status-0 reservations whose slot starts after now
// minus MaxVanhatPv days; past: those of them that started before now. A
// reservation whose slot VaVuoro lacks counts in neither.
void WebModule::CountOpenReservations(std::string_view asNo, int& open, int& past) {
  const int64_t now = Millis(Now());
  const int64_t oldest = now - settings.MaxVanhatPv * kMillisPerDay;
  open = 0;
  past = 0;

  store::Table& vaAs = tbl->TblVaAs;
  store::Table& vuoro = tbl->TblVuoro;
  CloseOnExit closer{&vaAs};
  if (!vuoro.IsOpen()) closer.Add(&vuoro);  // the commit has it open already
  OpenWithIndex(vuoro, "Kausi;VuoroNo;VuoroNoSeq");

  if (vaAs.IsOpen()) vaAs.Close();
  OpenWithIndex(vaAs, "AsNo;Status");
  const std::vector<store::Value> k = {store::Txt(std::string(asNo)), store::Int(0)};
  vaAs.SetRange(k, k);
  if (vaAs.IsEmpty()) return;
  for (vaAs.First(); !vaAs.Eof(); vaAs.Next()) {
    if (!vuoro.FindKey({store::Txt(vaAs.Text("Kausi")), store::Txt(vaAs.Text("VuoroNo")),
                        store::Txt(vaAs.Text("VuoroNoSeq"))}))
      continue;
    const int64_t start = Millis(vuoro.Date("VuoroAika"));
    if (start > oldest) {
      ++open;
      if (start < now) ++past;
    }
  }
}

// WEBPAGE: /VarOk (WebActVarOk)
// Query: LANG, ID. Answers varok.html; the error page when the query has no
// field. Reads no table.
void WebModule::WebModOrvaneWebActVarOkAction(const Request& rq, Response&, bool&) {
  page.SessionId = kNoSession;
  page.Lang = Cut(rq.Field("LANG"), 15);
  if (rq.FieldCount() == 0) {
    ErrorPage();
    return;
  }
  page.SessionId = Cut(rq.Field("ID"), 50);
  RenderPage(PageProdVarOk, "varok.html");
}

}  // namespace wo
