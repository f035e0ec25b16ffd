// The idle limit, login, logout and the session tests that the booking
// actions use.
#include <gtest/gtest.h>

#include "unit/accounts_support.h"

namespace wo::test::accounts {
namespace {

TEST(AccountsSessionTimeout, BoundariesInWholeSecondsWithoutSign) {
  FixedClock clock(kNow);
  EXPECT_FALSE(SessionTimedOut(kNow - Seconds(600)));
  EXPECT_TRUE(SessionTimedOut(kNow - Seconds(601)));
  EXPECT_FALSE(SessionTimedOut(kNow + Seconds(600)));
  EXPECT_TRUE(SessionTimedOut(kNow + Seconds(601)));
  EXPECT_TRUE(SessionTimedOut(kNow - 1.0));
  EXPECT_TRUE(SessionTimedOut(0));  // a null Aika
  // Fractions of a second are dropped, not rounded.
  EXPECT_TRUE(SessionTimedOut(kNow - Seconds(600.2)));
  clock.Set(kNow + Seconds(0.9));
  EXPECT_FALSE(SessionTimedOut(kNow - Seconds(600)));
  // Across midnight.
  clock.Set(EncodeDate(2026, 3, 16) + EncodeTime(0, 5, 0));
  EXPECT_FALSE(SessionTimedOut(EncodeDate(2026, 3, 15) + EncodeTime(23, 55, 0)));
  EXPECT_TRUE(SessionTimedOut(EncodeDate(2026, 3, 15) + EncodeTime(23, 54, 59)));
}

class AccountsLogin : public ::testing::Test {
 protected:
  FixedClock clock_{kNow};
  AccountsSite site_;

  CgiResult Login(const std::string& tunnus, const std::string& koodi) {
    return site_.RunInProcess("/ChkLogin", "Lang=FIN&Tunnus=" + UrlEncode(tunnus) + "&Koodi=" + UrlEncode(koodi));
  }
  // A user whose session's last event lies `idle` seconds back.
  std::string SessionIdleFor(double idle) {
    const std::string id = MakeSessionId("500001");
    site_.AddUser({.tunnus = "matti", .id = id.substr(0, 15), .aika = kNow - Seconds(idle)});
    return id;
  }
};

TEST_F(AccountsLogin, RightPasswordIssuesASessionAndRedirects) {
  site_.AddUser({.tunnus = "matti", .password = "S\xe4hk\xf6" "1", .asNo = "         500123"});
  CgiResult r = site_.RunInProcess("/ChkLogin", "Lang=Eng&Tunnus=matti&Koodi=S%E4hk%F61");
  const std::string id = IdOf(r, "resval");
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "resval?ID=" + id + "&Lang=Eng");
  EXPECT_EQ(id.size(), 22u);
  EXPECT_TRUE(LettersAndDigits(id));
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["ID"], id.substr(0, 15));
  EXPECT_EQ(row["Aika"], Stored(kNow));
  EXPECT_EQ(row["Status"], "1");
  EXPECT_EQ(row["RemoteHost"], "old.host");
}

TEST_F(AccountsLogin, EveryFailureGivesTheSamePageAndWritesNothing) {
  site_.AddUser({.tunnus = "matti"});
  site_.AddUser({.tunnus = "estetty", .status = "4"});
  const std::string before = site_.Dump();
  for (const char* q : {"Lang=FIN", "Lang=FIN&Tunnus=tuntematon&Koodi=Salasana1", "Lang=FIN&Tunnus=matti&Koodi=salasana1",
                        "Lang=FIN&Tunnus=matti&Koodi=Salasana", "Lang=FIN&Tunnus=matti",
                        "Lang=FIN&Tunnus=estetty&Koodi=Salasana1"}) {
    CgiResult r = site_.RunInProcess("/ChkLogin", q);
    EXPECT_EQ(r.status, 200) << q;
    EXPECT_EQ(r.body, kC19) << q;
  }
  EXPECT_EQ(site_.Dump(), before);
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Lang=Eng").body.substr(0, 8), "ENG-ERR[");
}

TEST_F(AccountsLogin, NullStatusAndLongUserNames) {
  site_.AddUser({.tunnus = "pitkakayttajanimi", .status = kNull});  // stored as its first 15
  EXPECT_EQ(site_.UserRow("pitkakayttajani")["Tunnus"], "pitkakayttajani");
  EXPECT_FALSE(IdOf(Login("pitkakayttajanimi", "Salasana1"), "resval").empty());
  EXPECT_FALSE(IdOf(Login("pitkakayttajaniXYZ", "Salasana1"), "resval").empty());
  EXPECT_EQ(site_.UserRow("pitkakayttajani")["Status"], "<null>");
}

TEST_F(AccountsLogin, SecondLoginInvalidatesTheFirstOnesLinks) {
  site_.AddUser({.tunnus = "matti"});
  const std::string first = IdOf(Login("matti", "Salasana1"), "resval");
  const std::string second = IdOf(Login("matti", "Salasana1"), "resval");
  ASSERT_NE(first.substr(0, 15), second.substr(0, 15));
  EXPECT_EQ(IdleTestedSession(*InProcessModule(site_, first)), SessionState::None);
  // Only the first 15 characters are compared.
  InProcessModule m(site_, second.substr(0, 15) + "ZZZZ");
  EXPECT_EQ(IdleTestedSession(*m), SessionState::Valid);
  EXPECT_EQ(m->tbl->TblWebReg.Text("Tunnus"), "matti");
}

TEST_F(AccountsLogin, IdleFor601SecondsEndsTheSession) {
  const std::string id = SessionIdleFor(601);
  EXPECT_EQ(IdleTestedSession(*InProcessModule(site_, id)), SessionState::TimedOut);
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["ID"], "0");
  EXPECT_EQ(row["Aika"], Stored(kNow));
  EXPECT_EQ(IdleTestedSession(*InProcessModule(site_, id)), SessionState::None);
}

TEST_F(AccountsLogin, IdleFor590SecondsIsValidAndRefreshes) {
  const std::string id = SessionIdleFor(590);
  {
    InProcessModule m(site_, id);
    ASSERT_EQ(IdleTestedSession(*m), SessionState::Valid);
    EXPECT_EQ(site_.UserRow("matti")["Aika"], Stored(kNow - Seconds(590)));  // the test writes nothing
    RefreshSession(*m);
  }
  EXPECT_EQ(site_.UserRow("matti")["Aika"], Stored(kNow));
  EXPECT_EQ(site_.UserRow("matti")["ID"], id.substr(0, 15));
}

TEST_F(AccountsLogin, ZeroAndEmptyIdsAreNoSession) {
  // Rows with the ID "0" or empty: no test may find them, logout leaves them.
  site_.AddUser({.tunnus = "nolla", .id = "0"});
  site_.AddUser({.tunnus = "tyhja", .id = ""});
  const std::string before = site_.Dump();
  for (const char* id : {"0", ""}) {
    EXPECT_FALSE(PlainSessionLookup(*InProcessModule(site_, id))) << id;
    EXPECT_EQ(IdleTestedSession(*InProcessModule(site_, id)), SessionState::None) << id;
  }
  for (const char* q : {"Lang=FIN&ID=0", "Lang=FIN&ID=", "Lang=FIN", "ID=" "AnUnknownSessionId"}) {
    CgiResult r = site_.RunInProcess("/LogOut", q);
    EXPECT_EQ(r.status, 302) << q;
    EXPECT_TRUE(r.Header("Location").starts_with(std::string(kProgramUrl) + "index?Lang=")) << q;
  }
  EXPECT_EQ(site_.Dump(), before);
  EXPECT_EQ(site_.RunInProcess("/LogOut", "").body, kC19);
}

// A blocked user (Status 4) has no session in any of the three tests, even
// with a fresh ID in the row; the same row unblocked has one.
TEST_F(AccountsLogin, BlockedUsersHaveNoSession) {
  for (const char* status : {"4", "2"}) {
    SCOPED_TRACE(status);
    AccountsSite site;
    const std::string id = MakeSessionId("500001");
    site.AddUser({.tunnus = "matti", .id = id.substr(0, 15), .aika = kNow - Seconds(30), .status = status});
    const bool live = std::string(status) != "4";
    EXPECT_EQ(PlainSessionLookup(*InProcessModule(site, id)), live);
    EXPECT_EQ(IdleTestedSession(*InProcessModule(site, id)), live ? SessionState::Valid : SessionState::None);
    InProcessModule details(site, id);
    LoadRegistrationDetails(*details);
    EXPECT_EQ(details->page.SessionId, live ? id : "0");
    EXPECT_EQ(details->page.RegDetails.Sukunimi, live ? "Virtanen" : "");
  }
}

TEST_F(AccountsLogin, LogoutEndsTheSessionWhateverItsAge) {
  const std::string id = SessionIdleFor(5000);
  CgiResult r = site_.RunInProcess("/LogOut", "Lang=E%26g&ID=" + id);
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "index?Lang=E%26g");
  EXPECT_EQ(site_.UserRow("matti")["ID"], "0");
  EXPECT_EQ(site_.UserRow("matti")["Aika"], Stored(kNow));
}

}  // namespace
}  // namespace wo::test::accounts
