// The password change, and the site's password key as the installed
// program uses it.
#include <gtest/gtest.h>

#include "unit/accounts_support.h"

namespace wo::test::accounts {
namespace {

class AccountsPasswordChange : public ::testing::Test {
 protected:
  FixedClock clock_{kNow};
  AccountsSite site_;
  const std::string id_ = MakeSessionId("500001"), blockedId_ = MakeSessionId("500002");
  const std::string old_ = "Vanha\xe4" "1";

  void SetUp() override {
    site_.AddUser({.tunnus = "matti", .password = old_, .id = id_.substr(0, 15), .aika = kNow - 1.0});
    site_.AddUser({.tunnus = "estetty", .password = old_, .id = blockedId_.substr(0, 15), .status = "4"});
  }
  CgiResult Change(const std::string& id, const std::string& koodi, const std::string& uKoodi) {
    return site_.RunInProcess("/VaihdaSana",
                              "Lang=FIN&ID=" + id + "&Koodi=" + UrlEncode(koodi) + "&UKoodi=" + UrlEncode(uKoodi));
  }
};

TEST_F(AccountsPasswordChange, StoresTheNewPasswordAndKeepsTheSession) {
  // The session's last event lies a day back: no time limit applies.
  CgiResult r = Change(id_, old_, "Uusi\xf6\xf6");
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "VaihdaOk?ID=" + id_ + "&Lang=FIN&Upd=Y");
  auto row = site_.UserRow("matti");
  EXPECT_EQ(DecodePassword(row["PinKoodi"]), "Uusi\xf6\xf6");
  EXPECT_EQ(row["Aika"], Stored(kNow));
  EXPECT_EQ(row["ID"], id_.substr(0, 15));
  // 4 and 14 characters are accepted.
  EXPECT_EQ(Change(id_, "Uusi\xf6\xf6", "abcd").status, 302);
  EXPECT_EQ(Change(id_, "abcd", "\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6").status, 302);
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Tunnus=matti&Koodi=abcd").status, 200);
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Tunnus=matti&Koodi=%E4%F6%E5%C4%D6%C5%E4%F6%E5%C4%D6%C5%E4%F6").status, 302);
}

TEST_F(AccountsPasswordChange, FailuresWriteNothing) {
  const std::string before = site_.Dump();
  EXPECT_EQ(site_.RunInProcess("/VaihdaSana", "").body, kC19);
  for (const std::string& id : {std::string("0"), std::string(), MakeSessionId("500001")})
    EXPECT_EQ(Change(id, old_, "Uusi1234").body, kC19) << id;
  EXPECT_EQ(Change(id_, "vanha\xe4" "1", "Uusi1234").body, kC19);  // wrong current password
  EXPECT_EQ(Change(id_, "", "Uusi1234").body, kC19);
  EXPECT_EQ(Change(blockedId_, old_, "Uusi1234").body, kC19);
  // The new password follows the rules of registration.
  for (const char* bad : {"", "abc", "abcdefghijklmno", "matti"}) EXPECT_EQ(Change(id_, old_, bad).body, kCode4) << bad;
  EXPECT_EQ(site_.Dump(), before);
}

TEST(AccountsPasswordKey, TheSiteKeyComesFromTheIniFile) {
  AccountsSite site(SiteOptions{.extraIni = "[Security]\nPasswordKey=oma salaisuus\n"});
  ASSERT_EQ(site.Run("/SavReg", "ID=0&Tunnus=avaimella&Koodi=Salasana1&SNimi=K&ENimi=P&Os01=&Os02=&Os03=&Puh=1&Toim=x")
                .status,
            302);
  EXPECT_EQ(site.Run("/ChkLogin", "Tunnus=avaimella&Koodi=Salasana1").status, 302);
  const std::string stored = site.UserRow("avaimella")["PinKoodi"];
  EXPECT_NE(PasswordCipher().Decode(stored), "Salasana1");
  EXPECT_EQ(PasswordCipher("oma salaisuus").Decode(stored), "Salasana1");
}

}  // namespace
}  // namespace wo::test::accounts
