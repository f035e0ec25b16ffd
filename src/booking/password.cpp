#include "booking/password.h"

#include "base/text.h"
#include "booking/common.h"
#include "booking/password_reset.h"
#include "booking/plain_pages.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/session.h"

namespace wo {

using namespace booking;

Answer WebModOrvaneWebActVaihdaSanaAction(RequestContext& ctx) {
  PageState& page = ctx.page;
  const std::string koodi = Cut(ctx.req.Field("KOODI"), kFormFieldWidth);
  const std::string uKoodi = Cut(ctx.req.Field("UKOODI"), kFormFieldWidth);
  store::Table& reg = ctx.tbl->TblWebReg;  // on the user's row (the gate)
  // Under ClearMessages a refusal says that the password was wrong and
  // keeps the session, which is the user's own.
  const bool clear = ctx.ini.ClearMessages;
  if (!ctx.cipher.Matches(reg.Text("PinKoodi"), koodi)) {
    if (!clear) page.SessionId = kNoSession;
    return Answer::Error(clear ? PageError::WrongLogin : PageError::Search);
  }
  if (!AcceptableNewPassword(uKoodi, reg.Text("Tunnus"))) {
    if (!clear) page.SessionId = kNoSession;
    return Answer::Error(PageError::BadLogin);
  }
  // With the reset by mail on, links the user asked for end here, before
  // the new password is stored.
  if (ctx.ini.Mail) DeleteResetLinks(ctx.conn, reg.Text("Tunnus"));
  reg.Edit();
  reg["PinKoodi"].SetText(ctx.cipher.Encode(uKoodi));
  reg["Aika"].SetDateTime(ctx.Now());
  reg.Post();
  return Answer::Redirect(ProgramUrl("VaihdaOk", {{"ID", page.SessionId}, {"Lang", page.Lang}, {"Upd", "Y"}}));
}

bool AcceptableNewPassword(std::string_view password, std::string_view tunnus) {
  return password.size() >= 4 && password.size() <= 14 && password != tunnus;
}

Answer WebModOrvaneWebActVaihdaOkAction(RequestContext& ctx) {
  return ConfirmationPage(ctx, ctx.pages.PageProdVaihdaOk, "vaihdaok.html");
}

}  // namespace wo
