// Registration, the edit of own details, the customer-number counter and
// the confirmation page.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include "booking/accounts.h"
#include "unit/accounts_support.h"

namespace wo::test::accounts {
namespace {

const std::string kAccept = "Hyv\xe4ksyn s\xe4\xe4nn\xf6t ja haluan rekister\xf6ity\xe4";
const std::string kDecline = "En hyv\xe4ksy s\xe4\xe4nt\xf6j\xe4";

// The registration form's query, field by field.
class Form {
 public:
  Form() = default;
  Form& Set(const std::string& name, const std::string& value) {
    for (auto& f : fields_)
      if (f.first == name) {
        f.second = value;
        return *this;
      }
    fields_.emplace_back(name, value);
    return *this;
  }
  Form& Drop(const std::string& name) {
    std::erase_if(fields_, [&](const auto& f) { return f.first == name; });
    return *this;
  }
  std::string Query() const {
    std::string q;
    for (const auto& [name, value] : fields_) q += (q.empty() ? "" : "&") + name + "=" + UrlEncode(value);
    return q;
  }

 private:
  std::vector<std::pair<std::string, std::string>> fields_ = {
      {"ID", "0"},          {"Lang", "FIN"},          {"Tunnus", "uusikayttaja"},
      {"Koodi", "Salasana1"}, {"SNimi", "Korhonen"},  {"ENimi", "P\xe4ivi"},
      {"Os01", "Katu 1"},   {"Os02", "00100"},        {"Os03", "Helsinki"},
      {"EMail", "paivi@example.fi"}, {"Puh", "0401234567"}, {"MPuh", "0501234567"},
      {"Toim", kAccept}};
};

class AccountsRegistration : public ::testing::Test {
 protected:
  const DateTime now_ = At(2026, 3, 15, 12, 0, 0);
  FixedClock clock_{now_};
  AccountsSite site_;

  CgiResult Save(const Form& f, const std::map<std::string, std::string>& env = {}) {
    return site_.RunInProcess("/SavReg", f.Query(), env);
  }
  // Asserts a refusal with `body` that changed neither WEBREG nor PARAM.
  void ExpectRefused(const Form& f, const std::string& body) {
    const auto reg = site_.Dump("WEBREG"), param = site_.Dump("PARAM");
    CgiResult r = Save(f);
    EXPECT_EQ(r.status, 200) << f.Query();
    EXPECT_EQ(r.body, body) << f.Query();
    EXPECT_EQ(site_.Dump("WEBREG"), reg) << f.Query();
    EXPECT_EQ(site_.Dump("PARAM"), param) << f.Query();
  }
  int Counter() {
    auto rows = site_.Dump("PARAM");
    return rows.empty() ? -1 : std::stoi(rows.front().substr(rows.front().find('|') + 1));
  }
};

TEST_F(AccountsRegistration, NewUserGetsTheNextCustomerNumberAndASession) {
  site_.SetCounter(500123);
  CgiResult r = Save(Form(), {{"REMOTE_HOST", "client.example"}});
  ASSERT_EQ(r.status, 302) << r.body;
  const std::string id = IdOfLocation(r.Header("Location"), "regok");
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "regok?ID=" + id + "&Lang=FIN&Upd=N");
  EXPECT_EQ(id.size(), 6u + 16u);  // made from the digits alone
  EXPECT_TRUE(LettersAndDigits(id));
  auto row = site_.UserRow("uusikayttaja");
  EXPECT_TRUE(wo::accounts::PasswordMatches(row["PinKoodi"], "Salasana1"));
  EXPECT_EQ(row["AsNo"], "         500124");
  EXPECT_EQ(row["KorttiLyh"], "");
  EXPECT_EQ(row["Sukunimi"], "Korhonen");
  EXPECT_EQ(row["EtuNimi"], "P\xe4ivi");
  EXPECT_EQ(row["KatuOsoite1"], "Katu 1");
  EXPECT_EQ(row["PostiNo"], "00100");
  EXPECT_EQ(row["PostiToimiPaikka"], "Helsinki");
  EXPECT_EQ(row["EMail1"], "paivi@example.fi");
  EXPECT_EQ(row["PuhNo"], "0401234567");
  EXPECT_EQ(row["MatkaPuh"], "0501234567");
  EXPECT_EQ(row["ID"], id.substr(0, 15));
  EXPECT_EQ(row["Aika"], Stored(now_));
  EXPECT_EQ(row["Status"], "1");
  EXPECT_EQ(row["RemoteHost"], "client.example");
  EXPECT_EQ(Counter(), 500124);
}

TEST_F(AccountsRegistration, ConsecutiveNumbersAndTheRemoteAddressWhenNoHostName) {
  site_.SetCounter(500123);
  ASSERT_EQ(Save(Form().Set("Tunnus", "ensimmainen")).status, 302);
  ASSERT_EQ(Save(Form().Set("Tunnus", "toinen")).status, 302);
  EXPECT_EQ(site_.UserRow("ensimmainen")["AsNo"], "         500124");
  EXPECT_EQ(site_.UserRow("toinen")["AsNo"], "         500125");
  EXPECT_EQ(site_.UserRow("toinen")["RemoteHost"], "127.0.0.1");
  EXPECT_EQ(Counter(), 500125);
}

TEST_F(AccountsRegistration, WithoutTheCounterRowEveryNumberIs500000) {
  ASSERT_EQ(Save(Form().Set("Tunnus", "ensimmainen")).status, 302);
  CgiResult r = Save(Form().Set("Tunnus", "toinen"));
  ASSERT_EQ(r.status, 302);
  EXPECT_EQ(IdOfLocation(r.Header("Location"), "regok").size(), 6u + 16u);
  EXPECT_EQ(site_.UserRow("ensimmainen")["AsNo"], "         500000");
  EXPECT_EQ(site_.UserRow("toinen")["AsNo"], "         500000");
  EXPECT_TRUE(site_.Dump("PARAM").empty());
}

TEST_F(AccountsRegistration, SimultaneousRegistrationsDrawDistinctNumbers) {
  site_.SetCounter(700000);
  const int users = 6;
  std::vector<std::thread> runs;
  std::vector<int> statuses(users);
  for (int i = 0; i < users; ++i)
    runs.emplace_back([&, i] {
      statuses[i] = site_.Run("/SavReg", Form().Set("Tunnus", "samaan" + std::to_string(i)).Query()).status;
    });
  for (auto& t : runs) t.join();
  std::vector<std::string> numbers;
  for (int i = 0; i < users; ++i) {
    EXPECT_EQ(statuses[i], 302);
    numbers.push_back(site_.UserRow("samaan" + std::to_string(i))["AsNo"]);
  }
  std::sort(numbers.begin(), numbers.end());
  for (int i = 0; i < users; ++i) EXPECT_EQ(numbers[i], "         70000" + std::to_string(i + 1));
  EXPECT_EQ(Counter(), 700000 + users);
}

TEST_F(AccountsRegistration, ValidationBoundaries) {
  site_.SetCounter(500000);
  // Accepted: a 14-character password, a 4-character user name, a user name
  // of 15 or more characters, Finnish letters.
  const std::string finnish14 = "\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6";
  EXPECT_EQ(Save(Form().Set("Tunnus", "neljatoista").Set("Koodi", "abcdefghijklmn")).status, 302);
  EXPECT_EQ(Save(Form().Set("Tunnus", "nelj").Set("Koodi", "1234")).status, 302);
  EXPECT_EQ(Save(Form().Set("Tunnus", "suomalainen").Set("Koodi", finnish14)).status, 302);
  // Refused with code 4.
  ExpectRefused(Form().Set("Tunnus", "viisitoista").Set("Koodi", "abcdefghijklmno"), ErrorBody(kCode4));
  ExpectRefused(Form().Set("Tunnus", "kol"), ErrorBody(kCode4));
  ExpectRefused(Form().Set("Tunnus", "samasana").Set("Koodi", "samasana"), ErrorBody(kCode4));
  ExpectRefused(Form().Set("Tunnus", "lyhytsana").Set("Koodi", "abc"), ErrorBody(kCode4));
  ExpectRefused(Form().Set("Tunnus", "eisanaa").Drop("Koodi"), ErrorBody(kCode4));
  // Refused with code 3, which replaces a 4.
  ExpectRefused(Form().Set("SNimi", ""), ErrorBody(kCode3));
  ExpectRefused(Form().Set("ENimi", ""), ErrorBody(kCode3));
  ExpectRefused(Form().Set("Puh", ""), ErrorBody(kCode3));
  ExpectRefused(Form().Set("SNimi", "").Set("Tunnus", "kol"), ErrorBody(kCode3));
  // Wrong number of fields: 9 and 14.
  ExpectRefused(Form().Drop("MPuh").Drop("EMail").Drop("Os03").Drop("Toim"), ErrorBody(kC19));
  ExpectRefused(Form().Set("Extra", "1"), ErrorBody(kC19));
  // The stored 14-letter password came back from the store intact.
  auto row = site_.UserRow("suomalainen");
  EXPECT_EQ(row["PinKoodi"].size(), 15u);
  EXPECT_EQ(DecodePassword(row["PinKoodi"]), finnish14);
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Tunnus=suomalainen&Koodi=" + UrlEncode(finnish14)).status, 302);
}

TEST_F(AccountsRegistration, LongUserNameIsStoredCutTo15AndLogsIn) {
  ASSERT_EQ(Save(Form().Set("Tunnus", "erittainpitkanimi20")).status, 302);
  EXPECT_EQ(site_.UserRow("erittainpitkani")["Tunnus"], "erittainpitkani");
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Tunnus=erittainpitkanimi20&Koodi=Salasana1").status, 302);
}

TEST_F(AccountsRegistration, DeclineButtonGoesHomeWithoutWriting) {
  site_.SetCounter(500000);
  // No settings row: an empty home page link.
  const auto reg = site_.Dump("WEBREG");
  CgiResult r = Save(Form().Set("Toim", kDecline));
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"), "");
  {
    auto c = site_.Connect();
    InsertRow(*c, "WEBPARAM", {{"Numero", "01"}, {"LnkKoti", "https://keskus.example/"}});
    InsertRow(*c, "KAANNOS", {{"LGKieli", "ENG"}, {"LGSovellus", "WebOrvane"}, {"LGAvain", "C35"},
                              {"LGTeksti", "I do not accept the rules"}, {"LGKaytossa", "1"}});
  }
  // Even an invalid form: nothing is validated.
  r = Save(Form().Set("Toim", kDecline).Set("Tunnus", "x"));
  EXPECT_EQ(r.Header("Location"), "https://keskus.example/");
  // The English page's button.
  r = Save(Form().Set("Lang", "ENG").Set("Toim", "I do not accept the rules"));
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"), "https://keskus.example/");
  EXPECT_EQ(site_.Dump("WEBREG"), reg);
  EXPECT_EQ(Counter(), 500000);
}

TEST_F(AccountsRegistration, ExistingUserNameWithItsPasswordLogsInAndKeepsTheDetails) {
  site_.SetCounter(500000);
  site_.AddUser({.tunnus = "matti", .password = "Salasana1", .asNo = "             42", .status = "2"});
  CgiResult r = Save(Form().Set("Tunnus", "matti").Set("SNimi", "Uusinimi"));
  ASSERT_EQ(r.status, 302);
  const std::string id = IdOfLocation(r.Header("Location"), "regok");
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "regok?ID=" + id + "&Lang=FIN&Upd=Y");
  EXPECT_EQ(id.size(), 2u + 16u);
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["ID"], id.substr(0, 15));
  EXPECT_EQ(row["Aika"], Stored(now_));
  EXPECT_EQ(row["Sukunimi"], "Virtanen");
  EXPECT_EQ(row["Status"], "2");
  EXPECT_EQ(row["RemoteHost"], "old.host");
  EXPECT_EQ(Counter(), 500000);
  EXPECT_EQ(site_.Dump("WEBREG").size(), 1u);
}

TEST_F(AccountsRegistration, ExistingUserNameWithAWrongPasswordOrBlockedIsRefused) {
  site_.SetCounter(500000);
  site_.AddUser({.tunnus = "matti", .password = "Salasana1"});
  site_.AddUser({.tunnus = "estetty", .password = "Salasana1", .status = "4"});
  ExpectRefused(Form().Set("Tunnus", "matti").Set("Koodi", "Salasana2"), ErrorBody(kC19));
  ExpectRefused(Form().Set("Tunnus", "estetty"), ErrorBody(kC19));
}

class AccountsOwnDetails : public AccountsRegistration {
 protected:
  std::string id_ = MakeSessionId("500001");
  void SetUp() override {
    site_.SetCounter(500001);
    site_.AddUser({.tunnus = "matti", .password = "Salasana1", .id = id_.substr(0, 15),
                   .aika = Stored(now_ - 0.25)});
  }
  // The edit form: the session ID, no password field.
  Form EditForm() const { return Form().Set("ID", id_).Set("Tunnus", "matti").Drop("Koodi"); }
};

TEST_F(AccountsOwnDetails, EditUpdatesTheDetailsOnly) {
  const auto before = site_.UserRow("matti");
  CgiResult r = Save(EditForm().Set("SNimi", "Korhonen").Set("MPuh", ""), {{"REMOTE_HOST", "koti.example"}});
  ASSERT_EQ(r.status, 302) << r.body;
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "regok?ID=" + id_ + "&Lang=FIN&Upd=Y");
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["Sukunimi"], "Korhonen");
  EXPECT_EQ(row["EtuNimi"], "P\xe4ivi");
  EXPECT_EQ(row["KatuOsoite1"], "Katu 1");
  EXPECT_EQ(row["MatkaPuh"], "");
  EXPECT_EQ(row["Status"], "2");
  EXPECT_EQ(row["Aika"], Stored(now_));
  EXPECT_EQ(row["RemoteHost"], "koti.example");
  EXPECT_EQ(row["ID"], id_.substr(0, 15));
  for (const char* kept : {"Tunnus", "PinKoodi", "AsNo", "KorttiLyh"}) EXPECT_EQ(row[kept], before.at(kept)) << kept;
  EXPECT_EQ(Counter(), 500001);
  EXPECT_EQ(site_.Dump("WEBREG").size(), 1u);
}

TEST_F(AccountsOwnDetails, EditStillValidatesTheUserNameAndDetails) {
  ExpectRefused(EditForm().Set("Tunnus", "mat"), ErrorBody(kCode4));
  ExpectRefused(EditForm().Set("Puh", ""), ErrorBody(kCode3));
}

TEST_F(AccountsOwnDetails, StaleSessionAppendsNothing) {
  ExpectRefused(EditForm().Set("ID", MakeSessionId("500001")), ErrorBody(kC19));
  ExpectRefused(EditForm().Set("ID", MakeSessionId("500001")).Set("Tunnus", "uusinimi").Set("Koodi", "Salasana1"),
                ErrorBody(kC19));
}

TEST_F(AccountsRegistration, ConfirmationPage) {
  CgiResult r = site_.RunInProcess("/RegOk", "ID=abc123&Lang=FIN&Upd=Y");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "REGOK[P\xe4ivitys|abc123]");
  EXPECT_EQ(site_.RunInProcess("/RegOk", "Upd=N").body, "REGOK[Rekister\xf6ityminen|]");
  EXPECT_EQ(site_.RunInProcess("/RegOk", "").body, ErrorBody(kC19));
  EXPECT_EQ(site_.RunInProcess("/RegOk", "ID=1&Lang=FIN&Upd=Y&X=1").body, ErrorBody(kC19));
}

}  // namespace
}  // namespace wo::test::accounts
