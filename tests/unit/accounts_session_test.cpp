// Session IDs, the idle limit, login, logout and the session tests that
// the booking actions use.
#include <gtest/gtest.h>

#include <set>

#include "unit/accounts_support.h"

namespace wo::test::accounts {
namespace {

TEST(AccountsSessionId, LengthAlphabetAndNoSharedStoredPrefix) {
  std::set<std::string> whole, stored;
  std::set<char> seen;
  const int count = 5000;
  for (int i = 0; i < count; ++i) {
    std::string id = MakeSessionId("         500123");  // PadLeft15 of "500123"
    ASSERT_EQ(id.size(), 6u + 16u);
    ASSERT_TRUE(LettersAndDigits(id)) << id;
    whole.insert(id);
    stored.insert(id.substr(0, 15));  // what WEBREG.ID keeps
    seen.insert(id.begin(), id.end());
  }
  EXPECT_EQ(whole.size(), static_cast<size_t>(count));
  EXPECT_EQ(stored.size(), static_cast<size_t>(count));
  // Every one of the 62 letters and digits turns up.
  EXPECT_EQ(seen.size(), 62u);
  // The customer number counts only trimmed; the result stays longer than 15.
  EXPECT_EQ(MakeSessionId("").size(), 16u);
  EXPECT_EQ(MakeSessionId(" 1 ").size(), 17u);
  EXPECT_EQ(MakeSessionId("123456789012345").size(), 31u);
}

TEST(AccountsSessionTimeout, BoundariesInWholeSecondsWithoutSign) {
  const DateTime now = At(2026, 3, 15, 12, 0, 0);
  FixedClock clock(now);
  EXPECT_FALSE(SessionTimedOut(now));
  EXPECT_FALSE(SessionTimedOut(now - Seconds(590)));
  EXPECT_FALSE(SessionTimedOut(now - Seconds(600)));
  EXPECT_TRUE(SessionTimedOut(now - Seconds(601)));
  EXPECT_FALSE(SessionTimedOut(now + Seconds(600)));
  EXPECT_TRUE(SessionTimedOut(now + Seconds(601)));
  EXPECT_TRUE(SessionTimedOut(now - 1.0));
  EXPECT_TRUE(SessionTimedOut(now + 1.0));
  EXPECT_TRUE(SessionTimedOut(0));  // a null Aika
  // Fractions of a second are dropped, not rounded.
  EXPECT_TRUE(SessionTimedOut(now - Seconds(600.2)));  // 11:49:59.8 counts as 11:49:59
  clock.Set(now + Seconds(0.9));
  EXPECT_FALSE(SessionTimedOut(now - Seconds(600)));  // 600.9 s, but 600 whole seconds
  // Across midnight.
  const DateTime justAfter = At(2026, 3, 16, 0, 5, 0);
  clock.Set(justAfter);
  EXPECT_FALSE(SessionTimedOut(At(2026, 3, 15, 23, 55, 0)));
  EXPECT_TRUE(SessionTimedOut(At(2026, 3, 15, 23, 54, 59)));
  EXPECT_TRUE(SessionTimedOut(At(2026, 3, 15, 0, 5, 0)));
}

class AccountsLogin : public ::testing::Test {
 protected:
  const DateTime now_ = At(2026, 3, 15, 12, 0, 0);
  FixedClock clock_{now_};
  AccountsSite site_;

  std::string Login(const std::string& tunnus, const std::string& koodi, int* status = nullptr) {
    CgiResult r = site_.RunInProcess("/ChkLogin", "Lang=FIN&Tunnus=" + UrlEncode(tunnus) + "&Koodi=" + UrlEncode(koodi));
    if (status) *status = r.status;
    return IdOfLocation(r.Header("Location"), "resval");
  }
};

TEST_F(AccountsLogin, RightPasswordIssuesASessionAndRedirects) {
  site_.AddUser({.tunnus = "matti", .password = "S\xe4hk\xf6" "1", .asNo = "         500123", .status = "1"});
  CgiResult r = site_.RunInProcess("/ChkLogin", "Lang=Eng&Tunnus=matti&Koodi=S%E4hk%F61");
  ASSERT_EQ(r.status, 302);
  std::string id = IdOfLocation(r.Header("Location"), "resval");
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "resval?ID=" + id + "&Lang=Eng");
  EXPECT_EQ(id.size(), 22u);
  EXPECT_TRUE(LettersAndDigits(id));
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["ID"], id.substr(0, 15));
  EXPECT_EQ(row["Aika"], Stored(now_));
  EXPECT_EQ(row["Status"], "1");
  EXPECT_EQ(row["RemoteHost"], "old.host");
  EXPECT_EQ(row["Sukunimi"], "Virtanen");
}

TEST_F(AccountsLogin, EveryFailureGivesTheSamePageAndWritesNothing) {
  site_.AddUser({.tunnus = "matti", .password = "Salasana1"});
  site_.AddUser({.tunnus = "estetty", .password = "Salasana1", .status = "4"});
  const auto before = site_.Dump("WEBREG");
  const std::vector<std::string> queries = {
      "Lang=FIN",                                  // fewer than 2 fields
      "Lang=FIN&Tunnus=tuntematon&Koodi=Salasana1",  // no such user
      "Lang=FIN&Tunnus=matti&Koodi=salasana1",     // case differs
      "Lang=FIN&Tunnus=matti&Koodi=Salasana",      // a prefix
      "Lang=FIN&Tunnus=matti&Koodi=Salasana1x",    // longer
      "Lang=FIN&Tunnus=matti",                     // no password
      "Lang=FIN&Tunnus=estetty&Koodi=Salasana1",   // blocked, right password
  };
  for (const std::string& q : queries) {
    CgiResult r = site_.RunInProcess("/ChkLogin", q);
    EXPECT_EQ(r.status, 200) << q;
    EXPECT_EQ(r.body, ErrorBody(kC19)) << q;
  }
  EXPECT_EQ(site_.Dump("WEBREG"), before);
  // Only Lang: the error page of that language.
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Lang=Eng").body.substr(0, 8), "ENG-ERR[");
}

TEST_F(AccountsLogin, NullStatusLogsIn) {
  site_.AddUser({.tunnus = "nolla", .password = "Salasana1", .status = kNull});
  int status = 0;
  std::string id = Login("nolla", "Salasana1", &status);
  EXPECT_EQ(status, 302);
  EXPECT_EQ(site_.UserRow("nolla")["ID"], id.substr(0, 15));
  EXPECT_TRUE(site_.FieldIsNull("nolla", "Status"));  // login leaves Status as it is
}

TEST_F(AccountsLogin, LongUserNameIsLookedUpByItsFirst15Characters) {
  site_.AddUser({.tunnus = "pitkakayttajanimi", .password = "Salasana1"});  // stored as 15
  EXPECT_EQ(site_.UserRow("pitkakayttajani")["Tunnus"], "pitkakayttajani");
  EXPECT_FALSE(Login("pitkakayttajanimi", "Salasana1").empty());
  EXPECT_FALSE(Login("pitkakayttajaniXYZ", "Salasana1").empty());
  EXPECT_TRUE(Login("pitkakayttajanimi", "Salasana2").empty());
}

TEST_F(AccountsLogin, CustomerNumberBlanksDoNotCountInTheSessionId) {
  site_.AddUser({.tunnus = "matti", .password = "Salasana1", .asNo = "  42   "});
  EXPECT_EQ(Login("matti", "Salasana1").size(), 2u + 16u);
}

TEST_F(AccountsLogin, SecondLoginInvalidatesTheFirstOnesLinks) {
  site_.AddUser({.tunnus = "matti", .password = "Salasana1"});
  const std::string first = Login("matti", "Salasana1");
  const std::string second = Login("matti", "Salasana1");
  ASSERT_FALSE(first.empty());
  ASSERT_NE(first.substr(0, 15), second.substr(0, 15));
  {
    InProcessModule m(site_, "");
    m->page.SessionId = first;
    EXPECT_EQ(m->IdleTestedSession(), SessionState::None);
    EXPECT_FALSE(m->PlainSessionLookup());
    m->page.SessionId = second;
    EXPECT_EQ(m->IdleTestedSession(), SessionState::Valid);
    EXPECT_EQ(m->tbl->TblWebReg.Text("Tunnus"), "matti");
  }
  // Logging out with the first ID leaves the second session alone.
  site_.RunInProcess("/LogOut", "Lang=FIN&ID=" + first);
  EXPECT_EQ(site_.UserRow("matti")["ID"], second.substr(0, 15));
}

class AccountsSessionTests : public AccountsLogin {
 protected:
  // A user with a session whose last event lies `idle` seconds back.
  std::string UserIdleFor(double idleSeconds) {
    const std::string id = MakeSessionId("500001");
    site_.AddUser({.tunnus = "matti", .password = "Salasana1", .id = id.substr(0, 15),
                   .aika = Stored(now_ - Seconds(idleSeconds))});
    return id;
  }
};

TEST_F(AccountsSessionTests, IdleFor601SecondsEndsTheSession) {
  const std::string id = UserIdleFor(601);
  {
    InProcessModule m(site_, "");
    m->page.SessionId = id;
    EXPECT_EQ(m->IdleTestedSession(), SessionState::TimedOut);
  }
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["ID"], "0");
  EXPECT_EQ(row["Aika"], Stored(now_));
  // The ended session is gone for good.
  InProcessModule m(site_, "");
  m->page.SessionId = id;
  EXPECT_EQ(m->IdleTestedSession(), SessionState::None);
}

TEST_F(AccountsSessionTests, IdleFor590SecondsIsValidAndRefreshes) {
  const std::string id = UserIdleFor(590);
  {
    InProcessModule m(site_, "");
    m->page.SessionId = id;
    ASSERT_EQ(m->IdleTestedSession(), SessionState::Valid);
    EXPECT_EQ(site_.UserRow("matti")["Aika"], Stored(now_ - Seconds(590)));  // the test alone writes nothing
    m->RefreshSession();
  }
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["ID"], id.substr(0, 15));
  EXPECT_EQ(row["Aika"], Stored(now_));
}

TEST_F(AccountsSessionTests, AnIdDifferingOnlyAfterIts15thCharacterIsAccepted) {
  const std::string id = UserIdleFor(10);
  InProcessModule m(site_, "");
  m->page.SessionId = id.substr(0, 15) + "ZZZZZZZ";
  EXPECT_TRUE(m->PlainSessionLookup());
  m->page.SessionId = id.substr(0, 14);
  EXPECT_FALSE(m->PlainSessionLookup());
}

TEST_F(AccountsSessionTests, ZeroAndEmptyIdsAreNoSession) {
  // Rows whose ID is "0" or empty hold no session: no test may find them.
  site_.AddUser({.tunnus = "nolla", .password = "Salasana1", .id = "0", .aika = Stored(now_ - 1.0)});
  site_.AddUser({.tunnus = "tyhja", .password = "Salasana1", .id = "", .aika = Stored(now_ - 1.0)});
  const auto before = site_.Dump("WEBREG");
  for (const char* id : {"0", ""}) {
    InProcessModule m(site_, "");
    m->page.SessionId = id;
    EXPECT_FALSE(m->PlainSessionLookup()) << "'" << id << "'";
    EXPECT_EQ(m->IdleTestedSession(), SessionState::None) << "'" << id << "'";
  }
  for (const char* q : {"Lang=FIN&ID=0", "Lang=FIN&ID=", "Lang=FIN"}) {
    CgiResult r = site_.RunInProcess("/LogOut", q);
    EXPECT_EQ(r.status, 302) << q;
    EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "index?Lang=FIN") << q;
  }
  EXPECT_EQ(site_.Dump("WEBREG"), before);
}

TEST_F(AccountsSessionTests, LogoutEndsTheSession) {
  const std::string id = UserIdleFor(5000);  // logout looks at no time limit
  CgiResult r = site_.RunInProcess("/LogOut", "Lang=E%26g&ID=" + id);
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "index?Lang=E%26g");
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["ID"], "0");
  EXPECT_EQ(row["Aika"], Stored(now_));
}

TEST_F(AccountsSessionTests, LogoutOfAnUnknownIdChangesNothingAndAnEmptyQueryFails) {
  UserIdleFor(10);
  const auto before = site_.Dump("WEBREG");
  CgiResult r = site_.RunInProcess("/LogOut", "ID=" + MakeSessionId("1"));
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "index?Lang=");
  EXPECT_EQ(site_.Dump("WEBREG"), before);
  CgiResult empty = site_.RunInProcess("/LogOut", "");
  EXPECT_EQ(empty.status, 200);
  EXPECT_EQ(empty.body, ErrorBody(kC19));
}

}  // namespace
}  // namespace wo::test::accounts
