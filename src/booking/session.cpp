// Login, logout and the session tests.
//
// A session lives only in the user's WEBREG row: ID holds the session ID
// issued at login (its first 15 characters; links carry the whole token)
// and Aika the time of the last session event. "0" is no session.
#include <array>
#include <utility>

#include "booking/accounts.h"
#include "booking/login_throttle.h"
#include "frame/html.h"
#include "base/text.h"
#include "module/module.h"
#include "store/database.h"

namespace wo {

using accounts::CloseAtExit;
using accounts::kNoSession;
using accounts::QueryField;

namespace {

constexpr std::string_view kIdChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// "0" and an empty ID both stand for no session.
bool NoSession(const std::string& id) { return id.empty() || id == "0"; }

struct DaySeconds {
  long day;
  long secs;
};

// The day number and the whole seconds since midnight of a date-time
// (fractions of a second dropped).
DaySeconds SplitDateTime(DateTime t) {
  DateParts p = Decode(t);
  return DaySeconds{static_cast<long>(EncodeDate(p.year, p.month, p.day)),
                    p.hour * 3600L + p.minute * 60L + p.second};
}

}  // namespace

// ---- session IDs and the idle limit ----

std::string MakeSessionId(std::string_view customerNumber) {
  // As long as the customer number (trimmed) plus 16, so every length test
  // of the pages treats it as a session; every character is drawn from the
  // operating system's random source, 62 letters and digits, by rejection
  // so that each is equally likely.
  const size_t length = Trim(customerNumber).size() + 16;
  std::string id;
  id.reserve(length);
  std::array<unsigned char, 64> buf;
  while (id.size() < length) {
    accounts::SecureRandomBytes(buf.data(), buf.size());
    for (unsigned char b : buf) {
      if (b >= 248) continue;  // 248 = 4 * 62
      id += kIdChars[b % kIdChars.size()];
      if (id.size() == length) break;
    }
  }
  return id;
}

bool SessionTimedOut(DateTime aika) {
  DaySeconds a = SplitDateTime(aika), b = SplitDateTime(Now());
  // The difference has no sign: a value in the future counts as well.
  if (b.day < a.day || (b.day == a.day && b.secs < a.secs)) std::swap(a, b);
  long days = b.day - a.day;
  long secs = b.secs - a.secs;
  if (secs < 0) {
    --days;
    secs += 86400;
  }
  return days > 0 || secs > 600;
}

// ---- the session tests ----

bool WebModule::PlainSessionLookup() {
  if (NoSession(page.SessionId)) return false;
  store::Table& reg = tbl->TblWebReg;
  reg.SetIndex("ID;Tunnus");
  reg.Open();
  // A blocked user has no session, whatever the row's ID still says.
  return reg.FindKey({store::Txt(page.SessionId)}) && !accounts::IsBlocked(reg);
}

bool WebModule::DetailsSessionLookup() {
  if (page.SessionId.size() <= 10) return false;
  store::Table& reg = tbl->TblWebReg;
  reg.SetIndex("ID;Tunnus");
  reg.Open();
  return reg.FindKey({store::Txt(page.SessionId)}) && !accounts::IsBlocked(reg) && Now() - reg.Date("Aika") < 0.5;
}

SessionState WebModule::IdleTestedSession() {
  if (!PlainSessionLookup()) return SessionState::None;
  store::Table& reg = tbl->TblWebReg;
  if (SessionTimedOut(reg.Date("Aika"))) {
    reg.Edit();
    reg["ID"].SetText(kNoSession);
    reg["Aika"].SetDateTime(Now());
    reg.Post();
    return SessionState::TimedOut;
  }
  return SessionState::Valid;
}

void WebModule::RefreshSession() {
  store::Table& reg = tbl->TblWebReg;
  reg.Edit();
  reg["Aika"].SetDateTime(Now());
  reg.Post();
}

// ---- actions ----

// WEBPAGE: /ChkLogin
// Query fields: Lang, Tunnus (user name), Koodi (password).
// Checks the user name and password against WEBREG, issues a new session ID
// (any earlier one stops matching) and redirects to /resval with it. Every
// failure -- too few fields, unknown user, wrong password, blocked user --
// gives the same error page and writes nothing but the failure's record for
// the login throttle. While the user name or the client's address is
// throttled (booking/login_throttle.h) the same page comes without a
// password test. The throttle, the test and the session are one write
// transaction, so simultaneous guesses are counted one by one.
void WebModule::WebModOrvaneWebActChkLoginAction(const Request& rq, Response& rs, bool&) {
  page.SessionId = kNoSession;
  page.Lang = QueryField(rq, "LANG", 15);
  if (rq.FieldCount() < 2) {
    ErrorPage();
    return;
  }
  const std::string tunnus = QueryField(rq, "TUNNUS", 50);
  const std::string koodi = QueryField(rq, "KOODI", 50);
  const std::string address = Cut(rq.remoteAddr(), 80);
  const LoginLimits limits{ini.LoginFailuresPerUser, ini.LoginFailuresPerAddress, ini.LoginLockMinutes};

  const bool loggedIn = store::InWriteTransaction(*conn, [&] {
    LoginThrottle throttle(*conn, limits, Now());
    if (throttle.Locked(tunnus, address)) return false;
    store::Table& reg = tbl->TblWebReg;
    CloseAtExit closeReg(reg);
    reg.SetIndex("Tunnus");
    reg.Open();
    if (!reg.FindKey({store::Txt(tunnus)}) || !accounts::PasswordMatches(reg.Text("PinKoodi"), koodi) ||
        accounts::IsBlocked(reg)) {
      throttle.RecordFailure(tunnus, address);
      return false;
    }
    throttle.Clear(tunnus);
    page.SessionId = MakeSessionId(reg.Text("AsNo"));
    reg.Edit();
    reg["ID"].SetText(page.SessionId);
    reg["Aika"].SetDateTime(Now());
    reg.Post();
    return true;
  });
  if (!loggedIn) {
    page.SessionId = kNoSession;
    ErrorPage();
    return;
  }
  rs.SendRedirect(std::string(kProgramUrl) + "resval?ID=" + UrlEncode(page.SessionId) +
                  "&Lang=" + UrlEncode(page.Lang));
}

// WEBPAGE: /LogOut
// Query fields: Lang, ID.
// Ends the session of ID (WEBREG.ID := "0") and redirects to the start page.
// An ID that matches no row changes nothing; "0" or an empty ID touches no
// table. An empty query gives the error page.
void WebModule::WebModOrvaneWebActLogOutAction(const Request& rq, Response& rs, bool&) {
  page.SessionId = kNoSession;
  page.Lang = QueryField(rq, "LANG", 15);
  if (rq.FieldCount() == 0) {
    ErrorPage();
    return;
  }
  page.SessionId = QueryField(rq, "ID", 50);
  if (!NoSession(page.SessionId)) {
    store::Table& reg = tbl->TblWebReg;
    CloseAtExit closeReg(reg);
    if (PlainSessionLookup()) {
      reg.Edit();
      reg["ID"].SetText(kNoSession);
      reg["Aika"].SetDateTime(Now());
      reg.Post();
    }
  }
  page.SessionId = kNoSession;
  rs.SendRedirect(IndexUrl());
}

}  // namespace wo
