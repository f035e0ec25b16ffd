// What a site relies on from its store, served in this process on each
// backend: customer numbers that never repeat, money in whole cents and the
// login throttle's failure records.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "concurrency/backends.h"
#include "frame/html.h"
#include "base/text.h"
#include "module/password_cipher.h"
#include "support/centre_rows.h"
#include "support/clock.h"
#include "store/database.h"
#include "base/datetime.h"
#include "store/table.h"
#include "support/site.h"

namespace wo::test {
namespace {

// The clock reads a settable time while the object lives.
using SetClock = TestClock;

const DateTime kStart = EncodeDate(2030, 6, 10) + EncodeTime(12, 0, 0);
constexpr double kMinute = 1.0 / 1440;

class BackendEdges : public BackendSite {
 protected:
  void SetUp() override {
    MakeSite("[Security]\nLoginFailuresPerUser=3\nLoginFailuresPerAddress=5\nLoginLockMinutes=15\n");
    if (IsSkipped()) return;
    site_->WriteTemplate("Fin", "omat.html", "<#OMATLISTA>");
  }
  CgiResult Get(std::string_view path, const std::string& query, const std::string& address = "192.0.2.1") {
    return site_->RunInProcess(path, query, {{"REMOTE_ADDR", address}});
  }
  // The text of `field` in the row of `table` found by `key` on `index`.
  std::string Read(const char* table, const char* index, const std::string& key, const char* field) {
    store::Table t(*conn_, store::TableNamed(table), "", index);
    t.Open();
    std::string v = t.FindKey({store::Txt(key)}) ? t.Text(field) : "<none>";
    t.Close();
    return v;
  }
  double Money(const char* table, const char* index, const std::string& key, const char* field) {
    store::Table t(*conn_, store::TableNamed(table), "", index);
    t.Open();
    double v = t.FindKey({store::Txt(key)}) ? t.Float(field) : -999;
    t.Close();
    return v;
  }
  int LoginFailures() {
    store::Table t(*conn_, store::TableNamed("WEBLOGINFAIL"), "", "Aika");
    t.Open();
    int n = t.RecordCount();
    t.Close();
    return n;
  }
  std::string Register(const std::string& tunnus) {
    CgiResult r = Get("/SavReg", "ID=0&Lang=Fin&Tunnus=" + tunnus +
                                     "&Koodi=Salasana1&SNimi=Uusi&ENimi=Ulla&Os01=&Os02=&Os03=&EMail=&Puh=1&MPuh=&Toim=OK");
    EXPECT_EQ(r.status, 302) << r.raw;
    return Read("WEBREG", "Tunnus", tunnus, "AsNo");
  }
  // A user with a session that is live at kStart; returns the session ID.
  std::string User(const std::string& tunnus, const std::string& asNo, const std::string& tmpSaldo) {
    const std::string id = tunnus + "O1234567890123456";
    AddUser(*conn_, {.tunnus = tunnus,
                     .pinKoodi = PasswordCipher().Encode("Salasana1"),
                     .asNo = asNo,
                     .id = id.substr(0, 15),
                     .aika = ToStoredDateTime(kStart),
                     .more = {{"EtuNimi", "Ville"}, {"TmpSaldo", tmpSaldo}}});
    return id;
  }
  void Slot(const std::string& vuoroNo) {
    Insert("VaVuoro", {{"Kausi", "2030"}, {"VuoroNo", std::string(5 - vuoroNo.size(), ' ') + vuoroNo},
                       {"VuoroNoSeq", "    1"}, {"ResNo", "R1"},
                       {"VuoroAika", ToStoredDateTime(kStart + 1 + EncodeTime(18, 0, 0))}, {"Kesto", "01:00:00"},
                       {"Maara", "5"}, {"Laji", "SP"}});
  }
  static std::string Book(const std::string& id, const std::string& vuo) {
    return "ID=" + id + "&Lang=Fin&Kau=2030&Vuo=" + vuo + "&Seq=1";
  }
};

// Without the PARAM row "WebAsNo" the first registration creates it: 500000,
// then 500001; never the same number twice.
TEST_P(BackendEdges, CustomerNumbersNeverRepeat) {
  SetClock clock(kStart);
  EXPECT_EQ(Register("ensimmainen"), "         500000");
  EXPECT_EQ(Register("toinen"), "         500001");
  EXPECT_EQ(Read("PARAM", "Avain", "WebAsNo", "ArvoInt32"), "500001");
}

// Three fees of 0.10 from 0.30 reach a limit of 0.00 exactly and are
// allowed; the balance is stored as 0 and shown as 0.00, never -0.00; a
// fourth is refused. A web balance and a refund come out in whole cents.
TEST_P(BackendEdges, MoneyInWholeCents) {
  SetClock clock(kStart);
  Insert("WEBPARAM", {{"Numero", "01"}, {"MaxAsVaraus", "10"}, {"MaxVanhatVaraukset", "10"},
                      {"VarMaksuKaytossa", "1"}, {"Varausmaksu", "0.1"}, {"Luottoraja", "0"}});
  Insert("Asiakas", {{"AsNo", "77"}, {"AsNimi", "Asiakas Oy"}, {"Laskutettu", "0.3"}});
  const std::string billed = User("laskutettu", "77", "0");
  const std::string web = User("verkko", "78", "0.3");
  for (const char* vuo : {"1", "2", "3", "4"}) Slot(vuo);
  for (const char* vuo : {"1", "2", "3"}) {
    EXPECT_EQ(Get("/Var", Book(billed, vuo)).status, 302) << vuo;
    EXPECT_EQ(Get("/Var", Book(web, vuo)).status, 302) << vuo;
  }
  EXPECT_EQ(Money("Asiakas", "AsNo", "77", "Laskutettu"), 0.0);
  EXPECT_FALSE(std::signbit(Money("Asiakas", "AsNo", "77", "Laskutettu")));
  EXPECT_EQ(Money("WEBREG", "Tunnus", "verkko", "TmpSaldo"), 0.0);
  const std::string list = Get("/Omat", "ID=" + billed + "&Lang=Fin").body;
  EXPECT_NE(list.find(">      0.00 EUR<"), std::string::npos) << list;
  EXPECT_EQ(Get("/Var", Book(billed, "4")).body, "E:Saldon luottoraja ylitetty!");

  // The refund: 0.0 + 0.1 is stored as exactly 0.1.
  std::string jno;
  {
    store::Table t(*conn_, store::TableNamed("VAVARAUS"), "", "AsNo;Status");
    t.Open();
    ASSERT_TRUE(t.FindKey({store::Txt("78")}));
    jno = t.Text("Jno");
    const std::string vuo = Trim(t.Text("VuoroNo"));
    t.Close();
    EXPECT_EQ(Get("/PoisVar", Book(web, vuo) + "&JNo=" + jno).status, 302);
  }
  EXPECT_EQ(Money("WEBREG", "Tunnus", "verkko", "TmpSaldo"), 0.1);
}

// Failed logins are counted per user name and per address within the
// window; at the limit the answer is the ordinary bad-login page whatever
// the password, until the window has passed. Success clears the user's
// count; other users and addresses are unaffected; old records are pruned.
TEST_P(BackendEdges, LoginThrottling) {
  SetClock clock(kStart);
  User("matti", "10", "0");
  User("liisa", "11", "0");
  const std::string bad = "E:Hakutoiminnassa tapahtui virhe. Yrit\xe4 kohta uudelleen,tarkista hakuehdot!";
  auto login = [&](const std::string& tunnus, const std::string& koodi, const std::string& address) {
    return Get("/ChkLogin", "Lang=Fin&Tunnus=" + tunnus + "&Koodi=" + koodi, address);
  };
  for (int i = 0; i < 3; ++i) EXPECT_EQ(login("matti", "arvaus" + std::to_string(i), "192.0.2.1").body, bad);
  EXPECT_EQ(login("matti", "Salasana1", "192.0.2.9").body, bad);  // the user name is locked
  EXPECT_EQ(login("liisa", "Salasana1", "192.0.2.1").status, 302);  // another user, same address
  EXPECT_EQ(LoginFailures(), 3);                                    // the refused try is not counted

  // Five failures from one address lock that address for every user name.
  for (int i = 0; i < 5; ++i) EXPECT_EQ(login("tuntematon" + std::to_string(i), "x", "198.51.100.7").body, bad);
  EXPECT_EQ(login("liisa", "Salasana1", "198.51.100.7").body, bad);
  EXPECT_EQ(login("liisa", "Salasana1", "198.51.100.8").status, 302);

  // After the window the right password works again and clears the user's
  // failures; the expired records are gone.
  clock.Set(kStart + 16 * kMinute);
  EXPECT_EQ(login("matti", "Salasana1", "192.0.2.1").status, 302);
  EXPECT_EQ(LoginFailures(), 0);
  EXPECT_EQ(login("matti", "vaarin", "192.0.2.1").body, bad);
  EXPECT_EQ(login("matti", "Salasana1", "192.0.2.1").status, 302);
  EXPECT_EQ(LoginFailures(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, BackendEdges, ::testing::ValuesIn(AllBackends()),
                         [](const ::testing::TestParamInfo<const Backend*>& p) { return p.param->name; });

}  // namespace
}  // namespace wo::test
