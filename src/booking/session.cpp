#include "booking/session.h"

#include <array>

#include "base/text.h"
#include "booking/common.h"
#include "booking/login_throttle.h"
#include "frame/html.h"
#include "module/context.h"
#include "module/password_cipher.h"
#include "module/session.h"
#include "module/table_guard.h"

namespace wo {

using namespace booking;

namespace {

constexpr std::string_view kIdChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

}  // namespace

std::string MakeSessionId(std::string_view customerNumber) {
  const size_t length = Trim(customerNumber).size() + 16;
  std::string id;
  id.reserve(length);
  std::array<unsigned char, 64> buf;
  while (id.size() < length) {
    SecureRandomBytes(buf.data(), buf.size());
    for (unsigned char b : buf) {
      if (b >= 248) continue;  // 248 = 4 * 62: every character equally likely
      id += kIdChars[b % kIdChars.size()];
      if (id.size() == length) break;
    }
  }
  return id;
}

Answer WebModOrvaneWebActChkLoginAction(RequestContext& ctx) {
  const Request& rq = ctx.req;
  const std::string tunnus = Cut(rq.Field("TUNNUS"), kFormFieldWidth);
  const std::string koodi = Cut(rq.Field("KOODI"), kFormFieldWidth);
  const std::string address = Cut(rq.remoteAddr(), kRemoteHostWidth);
  const SiteIni& ini = ctx.ini;
  const LoginLimits limits{ini.LoginFailuresPerUser, ini.LoginFailuresPerAddress, ini.LoginLockMinutes};
  PageState& page = ctx.page;
  page.SessionId = kNoSession;

  // Every failure reads alike, unless ClearMessages tells a wrong name or
  // password from a refused login (throttled, or a blocked user).
  const bool clear = ctx.ini.ClearMessages;
  LoginThrottle throttle(ctx.conn, limits, ctx.Now());
  if (throttle.Locked(tunnus, address)) return Answer::Error(clear ? PageError::LoginRefused : PageError::Search);
  store::Table& reg = ctx.tbl->TblWebReg;
  TableGuard guard{&reg};
  reg.SetIndex("Tunnus");
  reg.Open();
  if (!reg.FindKey({store::Txt(tunnus)}) || !ctx.cipher.Matches(reg.Text("PinKoodi"), koodi)) {
    throttle.RecordFailure(tunnus, address);
    return Answer::Error(clear ? PageError::WrongLogin : PageError::Search);
  }
  if (IsBlocked(reg)) {
    throttle.RecordFailure(tunnus, address);
    return Answer::Error(clear ? PageError::LoginRefused : PageError::Search);
  }
  throttle.Clear(tunnus);
  page.SessionId = MakeSessionId(reg.Text("AsNo"));
  reg.Edit();
  reg["ID"].SetText(page.SessionId);
  reg["Aika"].SetDateTime(ctx.Now());
  reg.Post();
  return Answer::Redirect(ProgramUrl("resval", {{"ID", page.SessionId}, {"Lang", page.Lang}}));
}

Answer WebModOrvaneWebActLogOutAction(RequestContext& ctx) {
  PageState& page = ctx.page;
  if (!IsNone(page.SessionId)) {
    store::Table& reg = ctx.tbl->TblWebReg;
    TableGuard guard{&reg};
    if (PlainSessionLookup(ctx)) {
      reg.Edit();
      reg["ID"].SetText(kNoSession);
      reg["Aika"].SetDateTime(ctx.Now());
      reg.Post();
    }
  }
  page.SessionId = kNoSession;
  return Answer::Redirect(ProgramUrl("index", {{"Lang", page.Lang}}));
}

}  // namespace wo
