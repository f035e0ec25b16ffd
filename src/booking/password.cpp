// The password change of a logged-in user.
#include "booking/accounts.h"
#include "frame/html.h"
#include "base/text.h"
#include "module/module.h"

namespace wo {

using accounts::CloseAtExit;
using accounts::kNoSession;
using accounts::QueryField;

// WEBPAGE: /VaihdaSana
// Query fields: Lang, ID, Koodi (current password), UKoodi (new password).
// For the session of ID (no idle limit) whose current password is right and
// whose user is not blocked, stores the new password and redirects to
// /VaihdaOk; the session ID stays. A new password of fewer than 4 or more
// than 14 characters, or equal to the user name, gives ErrorCode 4; every
// other failure the error page with ErrorCode 0. A failure writes nothing.
void WebModule::WebModOrvaneWebActVaihdaSanaAction(const Request& rq, Response& rs, bool&) {
  page.SessionId = kNoSession;
  page.Lang = QueryField(rq, "LANG", 15);
  if (rq.FieldCount() == 0) {
    ErrorPage();
    return;
  }
  page.SessionId = QueryField(rq, "ID", 50);
  if (page.SessionId == "0" || page.SessionId.empty()) {
    page.SessionId = kNoSession;
    ErrorPage();
    return;
  }
  const std::string koodi = QueryField(rq, "KOODI", 50);
  const std::string uKoodi = QueryField(rq, "UKOODI", 50);

  store::Table& reg = tbl->TblWebReg;
  CloseAtExit closeReg(reg);
  if (!PlainSessionLookup() || !accounts::PasswordMatches(reg.Text("PinKoodi"), koodi) ||
      accounts::IsBlocked(reg)) {
    page.SessionId = kNoSession;
    ErrorPage();
    return;
  }
  // The rules of registration: 4 to 14 characters, not the user name.
  if (uKoodi.size() < 4 || uKoodi.size() > 14 || uKoodi == reg.Text("Tunnus")) {
    page.SessionId = kNoSession;
    page.ErrorCode = 4;
    ErrorPage();
    return;
  }
  reg.Edit();
  reg["PinKoodi"].SetText(EncodePassword(uKoodi));
  reg["Aika"].SetDateTime(Now());
  reg.Post();
  rs.SendRedirect(std::string(kProgramUrl) + "VaihdaOk?ID=" + UrlEncode(page.SessionId) +
                  "&Lang=" + UrlEncode(page.Lang) + "&Upd=Y");
}

// WEBPAGE: /VaihdaOk
// Query fields: Lang, ID, Upd (1 to 3 of them).
// The confirmation page vaihdaok.html. No session test of its own.
void WebModule::WebModOrvaneWebActVaihdaOkAction(const Request& rq, Response&, bool&) {
  page.SessionId = kNoSession;
  page.Lang = QueryField(rq, "LANG", 15);
  const int fieldCount = rq.FieldCount();
  if (fieldCount < 1 || fieldCount > 3) {
    ErrorPage();
    return;
  }
  page.SessionId = QueryField(rq, "ID", 50);
  page.RegMode = QueryField(rq, "UPD", 10);
  RenderPage(PageProdVaihdaOk, "vaihdaok.html");
}

}  // namespace wo
