// The password change, its confirmation page, and the site's password key
// as the installed program uses it.
#include <gtest/gtest.h>

#include "booking/accounts.h"
#include "unit/accounts_support.h"

namespace wo::test::accounts {
namespace {

class AccountsPasswordChange : public ::testing::Test {
 protected:
  const DateTime now_ = At(2026, 3, 15, 12, 0, 0);
  FixedClock clock_{now_};
  AccountsSite site_;
  std::string id_ = MakeSessionId("500001");

  void SetUp() override { AddMatti("1", now_ - Seconds(30)); }
  void AddMatti(const std::string& status, DateTime aika) {
    site_.AddUser({.tunnus = "matti", .password = "Vanha\xe4" "1", .id = id_.substr(0, 15),
                   .aika = Stored(aika), .status = status});
  }
  std::string Query(const std::string& id, const std::string& koodi, const std::string& uKoodi) const {
    return "Lang=FIN&ID=" + id + "&Koodi=" + UrlEncode(koodi) + "&UKoodi=" + UrlEncode(uKoodi);
  }
  void ExpectRefused(const std::string& query, const std::string& body) {
    const auto before = site_.Dump("WEBREG");
    CgiResult r = site_.RunInProcess("/VaihdaSana", query);
    EXPECT_EQ(r.status, 200) << query;
    EXPECT_EQ(r.body, body) << query;
    EXPECT_EQ(site_.Dump("WEBREG"), before) << query;
  }
};

TEST_F(AccountsPasswordChange, StoresTheNewPasswordAndKeepsTheSession) {
  CgiResult r = site_.RunInProcess("/VaihdaSana", Query(id_, "Vanha\xe4" "1", "Uusi\xf6\xf6"));
  ASSERT_EQ(r.status, 302) << r.body;
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "VaihdaOk?ID=" + id_ + "&Lang=FIN&Upd=Y");
  auto row = site_.UserRow("matti");
  EXPECT_EQ(DecodePassword(row["PinKoodi"]), "Uusi\xf6\xf6");
  EXPECT_EQ(row["Aika"], Stored(now_));
  EXPECT_EQ(row["ID"], id_.substr(0, 15));
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Tunnus=matti&Koodi=Uusi%F6%F6").status, 302);
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Tunnus=matti&Koodi=Vanha%E41").status, 200);
}

TEST_F(AccountsPasswordChange, SamePasswordOnlyRefreshesAika) {
  const std::string stored = site_.UserRow("matti")["PinKoodi"];
  ASSERT_EQ(site_.RunInProcess("/VaihdaSana", Query(id_, "Vanha\xe4" "1", "Vanha\xe4" "1")).status, 302);
  auto row = site_.UserRow("matti");
  EXPECT_EQ(DecodePassword(row["PinKoodi"]), DecodePassword(stored));
  EXPECT_EQ(row["Aika"], Stored(now_));
}

TEST_F(AccountsPasswordChange, AnOldSessionStillAllowsTheChange) {
  clock_.Set(now_ + 1.0);  // a day after the last session event
  ASSERT_EQ(site_.RunInProcess("/VaihdaSana", Query(id_, "Vanha\xe4" "1", "Uusi1234")).status, 302);
  EXPECT_EQ(DecodePassword(site_.UserRow("matti")["PinKoodi"]), "Uusi1234");
}

TEST_F(AccountsPasswordChange, FailuresGiveTheSamePageAndWriteNothing) {
  ExpectRefused("", ErrorBody(kC19));
  ExpectRefused(Query("0", "Vanha\xe4" "1", "Uusi1234"), ErrorBody(kC19));
  ExpectRefused(Query("", "Vanha\xe4" "1", "Uusi1234"), ErrorBody(kC19));
  ExpectRefused(Query(MakeSessionId("500001"), "Vanha\xe4" "1", "Uusi1234"), ErrorBody(kC19));
  ExpectRefused(Query(id_, "vanha\xe4" "1", "Uusi1234"), ErrorBody(kC19));
  ExpectRefused(Query(id_, "", "Uusi1234"), ErrorBody(kC19));
}

TEST_F(AccountsPasswordChange, BlockedUserIsRefused) {
  auto c = site_.Connect();
  store::Table t(*c, store::TableNamed("WEBREG"), "", "Tunnus");
  t.Open();
  ASSERT_TRUE(t.FindKey({store::Txt("matti")}));
  t.Edit();
  t["Status"].SetInt(4);
  t.Post();
  t.Close();
  ExpectRefused(Query(id_, "Vanha\xe4" "1", "Uusi1234"), ErrorBody(kC19));
}

TEST_F(AccountsPasswordChange, NewPasswordFollowsTheRulesOfRegistration) {
  ExpectRefused(Query(id_, "Vanha\xe4" "1", ""), ErrorBody(kCode4));
  ExpectRefused(Query(id_, "Vanha\xe4" "1", "abc"), ErrorBody(kCode4));
  ExpectRefused(Query(id_, "Vanha\xe4" "1", "abcdefghijklmno"), ErrorBody(kCode4));
  ExpectRefused(Query(id_, "Vanha\xe4" "1", "matti"), ErrorBody(kCode4));
  ASSERT_EQ(site_.RunInProcess("/VaihdaSana", Query(id_, "Vanha\xe4" "1", "abcd")).status, 302);
  ASSERT_EQ(site_.RunInProcess("/VaihdaSana", Query(id_, "abcd", "\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6")).status, 302);
  EXPECT_EQ(DecodePassword(site_.UserRow("matti")["PinKoodi"]), "\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6");
}

TEST_F(AccountsPasswordChange, ConfirmationPage) {
  EXPECT_EQ(site_.RunInProcess("/VaihdaOk", "ID=abc&Lang=FIN&Upd=Y").body, "VAIHDAOK[P\xe4ivitys|abc]");
  EXPECT_EQ(site_.RunInProcess("/VaihdaOk", "").body, ErrorBody(kC19));
  EXPECT_EQ(site_.RunInProcess("/VaihdaOk", "ID=abc&Lang=FIN&Upd=Y&X=1").body, ErrorBody(kC19));
}

// The installed program reads its cipher key from the INI file: what one
// site stores, the built-in key cannot read.
TEST(AccountsPasswordKey, TheSiteKeyComesFromTheIniFile) {
  SiteOptions opts;
  opts.extraIni = "[Security]\nPasswordKey=oma salaisuus\n";
  AccountsSite site(opts);
  const std::string form =
      "ID=0&Lang=FIN&Tunnus=avaimella&Koodi=Salasana1&SNimi=K&ENimi=P&Os01=&Os02=&Os03=&EMail=&Puh=1&MPuh=&Toim=x";
  ASSERT_EQ(site.Run("/SavReg", form).status, 302);
  EXPECT_EQ(site.Run("/ChkLogin", "Tunnus=avaimella&Koodi=Salasana1").status, 302);
  SetPasswordKey("");
  const std::string stored = site.UserRow("avaimella")["PinKoodi"];
  EXPECT_NE(DecodePassword(stored), "Salasana1");
  SetPasswordKey("oma salaisuus");
  EXPECT_EQ(DecodePassword(stored), "Salasana1");
  SetPasswordKey("");
}

}  // namespace
}  // namespace wo::test::accounts
