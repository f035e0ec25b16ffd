// Registration of new web users, the edit of own details, and the
// customer-number counter.
#include "booking/accounts.h"
#include "frame/html.h"
#include "base/text.h"
#include "module/module.h"
#include "store/database.h"

namespace wo {

using accounts::CloseAtExit;
using accounts::kNoSession;
using accounts::QueryField;

namespace {

// The first customer number of a site whose counter row is missing.
constexpr int64_t kFirstCustomerNumber = 500000;

// The label of the form's decline button, as the Finnish page shows it.
constexpr std::string_view kDeclineLabel = "En hyv\xe4ksy s\xe4\xe4nt\xf6j\xe4";

// The fields of the registration form, cut to their widths.
struct RegForm {
  std::string tunnus, koodi, sNimi, eNimi, os01, os02, os03, email, puh, mPuh, toim;

  static RegForm FromQuery(const Request& rq) {
    RegForm f;
    f.tunnus = QueryField(rq, "TUNNUS", 50);
    f.koodi = QueryField(rq, "KOODI", 50);
    f.sNimi = QueryField(rq, "SNIMI", 35);
    f.eNimi = QueryField(rq, "ENIMI", 25);
    f.os01 = QueryField(rq, "OS01", 30);
    f.os02 = QueryField(rq, "OS02", 5);
    f.os03 = QueryField(rq, "OS03", 25);
    f.email = QueryField(rq, "EMAIL", 80);
    f.puh = QueryField(rq, "PUH", 15);
    f.mPuh = QueryField(rq, "MPUH", 15);
    f.toim = QueryField(rq, "TOIM", 50);
    return f;
  }

  // True when a field that would be stored holds a control byte (below
  // 32): such text has no place in a name, an address or a user name.
  bool HasControlBytes() const {
    for (const std::string* f : {&tunnus, &koodi, &sNimi, &eNimi, &os01, &os02, &os03, &email, &puh, &mPuh})
      for (char c : *f)
        if (static_cast<unsigned char>(c) < 32) return true;
    return false;
  }

  // The details that both a new registration and an edit write.
  void WriteDetails(store::Table& reg) const {
    reg["Sukunimi"].SetText(sNimi);
    reg["EtuNimi"].SetText(eNimi);
    reg["KatuOsoite1"].SetText(os01);
    reg["PostiNo"].SetText(os02);
    reg["PostiToimiPaikka"].SetText(os03);
    reg["EMail1"].SetText(email);
    reg["PuhNo"].SetText(puh);
    reg["MatkaPuh"].SetText(mPuh);
  }
};

// What the save of the form came to, decided inside the write transaction
// and answered after it.
enum class SaveOutcome { Updated, Registered, Refused };

}  // namespace

std::string WebModule::NextParamNumber(std::string_view key, int64_t first) {
  store::Table& param = tbl->TblParam;
  CloseAtExit closeParam(param);
  param.SetIndex("Avain");
  param.Open();
  if (!param.FindKey({store::Txt(std::string(key))})) {
    // A site made without the counter row: begin it at `first`, which is
    // the number handed out now, so that the next one differs.
    param.Append();
    param["Avain"].SetText(key);
    param["ArvoInt32"].SetInt(first);
    param.Post();
    return std::to_string(first);
  }
  const int64_t next = param.Int("ArvoInt32") + 1;
  param.Edit();
  param["ArvoInt32"].SetInt(next);
  param.Post();
  return std::to_string(next);
}

// WEBPAGE: /SavReg
// Query fields: ID, Lang, Tunnus, Koodi, SNimi, ENimi, Os01, Os02, Os03,
// EMail, Puh, MPuh, Toim (10 to 13 of them).
// The decline button redirects to the site's home page. Otherwise the form
// is validated (ErrorCode 4: user name or password; 3: a required detail
// missing, or a control byte in a field) and then:
//  - with a session ID (longer than 10 characters): the user's own details
//    are updated; a session ID of no row, of a blocked user or older than
//    12 hours gives the error page;
//  - without one, for an existing user name: its right password logs the
//    user in (not a blocked one), a wrong one gives the error page;
//  - for a new user name: a customer number is drawn from the PARAM counter
//    "WebAsNo" (created at 500000 when missing) and the user's row
//    appended, in one write transaction.
// Success redirects to /regok with the session ID and "Upd=Y" (update or
// login) or "Upd=N" (new user).
void WebModule::WebModOrvaneWebActSavRegAction(const Request& rq, Response& rs, bool&) {
  page.SessionId = kNoSession;
  page.Lang = QueryField(rq, "LANG", 15);
  const int fieldCount = rq.FieldCount();
  if (fieldCount < 10 || fieldCount > 13) {
    ErrorPage();
    return;
  }
  page.SessionId = QueryField(rq, "ID", 50);
  const RegForm form = RegForm::FromQuery(rq);
  std::string remoteHost = Cut(rq.remoteHost(), 80);

  // The decline button: its Finnish label, or its label in the page's
  // language, leaves without a trace.
  if (form.toim == kDeclineLabel ||
      (!form.toim.empty() && form.toim == TranslatedText("C35", kDeclineLabel))) {
    rs.SendRedirect(settings.LnkKoti);
    return;
  }

  const bool hasSession = page.SessionId.size() > 10;
  if (form.koodi.size() > 14 || form.tunnus.size() < 4 || (!hasSession && form.koodi.size() < 4) ||
      form.tunnus == form.koodi)
    page.ErrorCode = 4;
  if (form.sNimi.empty() || form.eNimi.empty() || form.puh.empty() || form.HasControlBytes()) page.ErrorCode = 3;
  if (page.ErrorCode != 0) {
    page.SessionId = kNoSession;
    ErrorPage();
    return;
  }
  if (remoteHost.empty()) remoteHost = Cut(rq.remoteAddr(), 80);

  store::Table& reg = tbl->TblWebReg;
  SaveOutcome outcome;
  if (hasSession) {
    // Edit of own details: the row of a session that the details form
    // would accept, so neither a blocked user nor an ID older than 12 hours
    // can save (nor revive the session through Aika).
    CloseAtExit closeReg(reg);
    if (DetailsSessionLookup()) {
      reg.Edit();
      form.WriteDetails(reg);
      reg["ID"].SetText(page.SessionId);
      reg["Aika"].SetDateTime(Now());
      reg["Status"].SetInt(2);
      reg["RemoteHost"].SetText(remoteHost);
      reg.Post();
      outcome = SaveOutcome::Updated;
    } else {
      outcome = SaveOutcome::Refused;
    }
  } else {
    // The look-up of the user name, the counter and the new row form one
    // write transaction: two registrations at the same moment neither draw
    // the same number nor both append the same user name.
    outcome = store::InWriteTransaction(*conn, [&]() {
      CloseAtExit closeReg(reg);
      reg.SetIndex("Tunnus");
      reg.Open();
      if (reg.FindKey({store::Txt(form.tunnus)})) {
        // The user name exists: its right password logs the user in again;
        // the submitted details are not stored.
        if (!accounts::PasswordMatches(reg.Text("PinKoodi"), form.koodi) || accounts::IsBlocked(reg))
          return SaveOutcome::Refused;
        page.SessionId = MakeSessionId(reg.Text("AsNo"));
        reg.Edit();
        reg["ID"].SetText(page.SessionId);
        reg["Aika"].SetDateTime(Now());
        reg.Post();
        return SaveOutcome::Updated;
      }
      const std::string asNo = NextParamNumber("WebAsNo", kFirstCustomerNumber);
      page.SessionId = MakeSessionId(asNo);
      reg.Append();
      reg["Tunnus"].SetText(form.tunnus);
      reg["PinKoodi"].SetText(EncodePassword(form.koodi));
      reg["AsNo"].SetText(PadLeft15(asNo));
      reg["KorttiLyh"].SetText("");
      form.WriteDetails(reg);
      reg["ID"].SetText(page.SessionId);
      reg["Aika"].SetDateTime(Now());
      reg["Status"].SetInt(1);
      reg["RemoteHost"].SetText(remoteHost);
      reg.Post();
      return SaveOutcome::Registered;
    });
  }

  if (outcome == SaveOutcome::Refused) {
    page.SessionId = kNoSession;
    page.ErrorCode = 0;
    ErrorPage();
    return;
  }
  rs.SendRedirect(std::string(kProgramUrl) + "regok?ID=" + UrlEncode(page.SessionId) +
                  "&Lang=" + UrlEncode(page.Lang) + (outcome == SaveOutcome::Updated ? "&Upd=Y" : "&Upd=N"));
}

// WEBPAGE: /RegOk
// Query fields: ID, Lang, Upd (1 to 3 of them).
// The confirmation page regok.html; Upd "Y" names it an update. No session
// test of its own.
void WebModule::WebModOrvaneWebActRecOkAction(const Request& rq, Response&, bool&) {
  page.SessionId = kNoSession;
  page.Lang = QueryField(rq, "LANG", 15);
  const int fieldCount = rq.FieldCount();
  if (fieldCount < 1 || fieldCount > 3) {
    ErrorPage();
    return;
  }
  page.SessionId = QueryField(rq, "ID", 50);
  page.RegMode = QueryField(rq, "UPD", 10);
  RenderPage(PageProdRegOk, "regok.html");
}

}  // namespace wo
