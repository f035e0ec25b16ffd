#include "booking/password_reset.h"

#include <array>
#include <vector>

#include "base/text.h"
#include "booking/common.h"
#include "booking/login_throttle.h"
#include "booking/password.h"
#include "frame/html.h"
#include "mail/mail_queue.h"
#include "module/context.h"
#include "module/secret_token.h"
#include "module/session.h"
#include "module/table_guard.h"
#include "store/schema.h"

namespace wo {

using namespace booking;

namespace {

constexpr std::string_view kTable = "WEBPALAUTUS";
constexpr size_t kTokenBytes = 20;
constexpr size_t kTokenWidth = 2 * kTokenBytes;  // the query field T, in hexadecimal digits
constexpr size_t kUserNameWidth = 15;            // WEBREG.Tunnus

std::string NewToken() { return NewSecretToken(kTokenBytes); }

LoginLimits LimitsOf(const SiteIni& ini) {
  return {ini.LoginFailuresPerUser, ini.LoginFailuresPerAddress, ini.LoginLockMinutes};
}

// The links of WEBPALAUTUS, through one handle.
class ResetLinks {
 public:
  explicit ResetLinks(store::Connection& c) : t_(c, store::TableNamed(kTable), "", "Tiiviste") { t_.Open(); }

  // Deletes the links that lapsed before `now`.
  void DeleteLapsed(DateTime now) {
    t_.SetIndex("Voimassa");
    t_.SetRange({store::Dt(EncodeDate(1, 1, 1))}, {store::Dt(now - 1.0 / kSecondsPerDay)});
    while (!t_.Eof()) t_.Delete();
    t_.CancelRange();
  }
  void Add(std::string_view hash, std::string_view tunnus, DateTime now) {
    t_.Append();
    t_["Tiiviste"].SetText(hash);
    t_["Tunnus"].SetText(tunnus);
    t_["Luotu"].SetDateTime(now);
    t_["Voimassa"].SetDateTime(now + kResetValidMinutes / 1440.0);
    t_.Post();
  }
  // The user name of the link of `token` that is still valid at `now`;
  // "" when there is none.
  std::string UserOf(std::string_view token, DateTime now) {
    if (token.size() != kTokenWidth) return {};
    t_.SetIndex("Tiiviste");
    if (!t_.FindKey({store::Txt(ResetTokenHash(token))}) || Millis(t_.Date("Voimassa")) <= Millis(now)) return {};
    return t_.Text("Tunnus");
  }
  void DeleteUser(std::string_view tunnus) {
    t_.SetIndex("Tunnus");
    t_.SetRange({store::Txt(std::string(tunnus))}, {store::Txt(std::string(tunnus))});
    while (!t_.Eof()) t_.Delete();
    t_.CancelRange();
  }

 private:
  store::Table t_;
};

// The users a reset request names: the user whose name is `asked`, and
// when `asked` holds an "@", every user whose EMail1 is that address
// (letter case aside), each once; blocked users left out. Finding users by
// address reads every WEBREG row, whatever the address.
std::vector<mail::Recipient> UsersAskedFor(store::Table& reg, std::string_view asked) {
  std::vector<mail::Recipient> out;
  OpenWithIndex(reg, "Tunnus");
  if (reg.FindKey({store::Txt(std::string(asked))}) && !IsBlocked(reg)) out.push_back(mail::RecipientOf(reg));
  if (asked.find('@') == std::string_view::npos) return out;
  for (reg.First(); !reg.Eof(); reg.Next()) {
    if (!SameText(Trim(reg.Text("EMail1")), asked) || IsBlocked(reg)) continue;
    mail::Recipient to = mail::RecipientOf(reg);
    if (out.empty() || out.front().userName != to.userName) out.push_back(std::move(to));
  }
  return out;
}

Answer NoticePage(RequestContext& ctx, std::string_view file, const TextDef& notice) {
  ctx.page.ResetNotice = &notice;
  return Answer::Page(ctx.pages.PageProdLogin, file);
}

}  // namespace

std::string ResetTokenHash(std::string_view token) { return SecretTokenHash(token); }

void DeleteResetLinks(store::Connection& conn, std::string_view tunnus) { ResetLinks(conn).DeleteUser(tunnus); }

Answer WebModOrvaneWebActUnohtuiAction(RequestContext& ctx) {
  PageState& page = ctx.page;
  page.SessionId = kNoSession;
  const std::string asked = Trim(Cut(ctx.req.Field("TUNNUS"), kFormFieldWidth));
  if (asked.empty()) return Answer::Page(ctx.pages.PageProdLogin, "unohtui.html");

  const DateTime now = ctx.Now();
  const std::string address = Cut(ctx.req.remoteAddr(), kRemoteHostWidth);
  LoginThrottle throttle(ctx.conn, LimitsOf(ctx.ini), now);
  if (throttle.Locked(asked, address)) return NoticePage(ctx, "unohtui.html", texts::C81);
  throttle.RecordFailure(asked, address);

  // The same work for every text of the same form: the lookups depend on
  // whether it holds an "@", never on whether anyone answers to it, and
  // at least one link is made and stored. Only a user who may have mail
  // gets a row in the outbox.
  ResetLinks links(ctx.conn);
  links.DeleteLapsed(now);
  store::Table& reg = ctx.tbl->TblWebReg;
  TableGuard guard{&reg};
  const std::vector<mail::Recipient> users = UsersAskedFor(reg, asked);
  for (const mail::Recipient& to : users) {
    const std::string token = NewToken();
    links.Add(ResetTokenHash(token), to.userName, now);
    mail::QueueResetMail(ctx.conn, ctx.ini, to, page.Lang, token, kResetValidMinutes, now);
  }
  if (users.empty()) links.Add(ResetTokenHash(NewToken()), Cut(asked, kUserNameWidth), now);
  return NoticePage(ctx, "unohtui.html", texts::C81);
}

Answer WebModOrvaneWebActPalautaAction(RequestContext& ctx) {
  PageState& page = ctx.page;
  page.SessionId = kNoSession;
  const std::string token = Cut(ctx.req.Field("T"), kTokenWidth + 1);
  if (token.empty() && !ctx.req.Field("VALMIS").empty())
    return Answer::Page(ctx.pages.PageProdLogin, "palautaok.html");

  // A link that is refused counts as a failed login of the client's
  // address; while the address is locked no link is looked at.
  const DateTime now = ctx.Now();
  const std::string address = Cut(ctx.req.remoteAddr(), kRemoteHostWidth);
  LoginThrottle throttle(ctx.conn, LimitsOf(ctx.ini), now);
  if (throttle.Locked({}, address)) return NoticePage(ctx, "unohtui.html", texts::C82);
  ResetLinks links(ctx.conn);
  const std::string tunnus = links.UserOf(token, now);
  store::Table& reg = ctx.tbl->TblWebReg;
  TableGuard guard{&reg};
  OpenWithIndex(reg, "Tunnus");
  if (tunnus.empty() || !reg.FindKey({store::Txt(tunnus)}) || IsBlocked(reg)) {
    throttle.RecordFailure({}, address);
    return NoticePage(ctx, "unohtui.html", texts::C82);
  }

  page.HiddenFields = HiddenInput("Lang", page.Lang) + HiddenInput("T", token);
  const std::string uKoodi = Cut(ctx.req.Field("UKOODI"), kFormFieldWidth);
  const std::string again = Cut(ctx.req.Field("UKOODI2"), kFormFieldWidth);
  if (uKoodi.empty() && again.empty()) return Answer::Page(ctx.pages.PageProdLogin, "palauta.html");
  if (uKoodi != again) return NoticePage(ctx, "palauta.html", texts::C84);
  if (!AcceptableNewPassword(uKoodi, reg.Text("Tunnus"))) return NoticePage(ctx, "palauta.html", texts::C83);

  reg.Edit();
  reg["PinKoodi"].SetText(ctx.cipher.Encode(uKoodi));
  reg["ID"].SetText(kNoSession);
  reg["Aika"].SetDateTime(now);
  reg.Post();
  links.DeleteUser(tunnus);
  throttle.Clear(tunnus);
  return Answer::Redirect(ProgramUrl("Palauta", {{"Lang", page.Lang}, {"Valmis", "1"}}));
}

}  // namespace wo
