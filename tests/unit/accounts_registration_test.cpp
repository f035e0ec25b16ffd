// Registration, the edit of own details, the customer-number counter and
// the confirmation page.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include "booking/session.h"
#include "unit/accounts_support.h"

namespace wo::test::accounts {
namespace {

const std::string kDecline = "En hyv\xe4ksy s\xe4\xe4nt\xf6j\xe4";
const std::string kFinnish14 = "\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6\xe5\xc4\xd6\xc5\xe4\xf6";

// The registration form's query, field by field (13 fields).
class Form {
 public:
  Form& Set(const std::string& name, const std::string& value) {
    auto it = std::find_if(fields_.begin(), fields_.end(), [&](const auto& f) { return f.first == name; });
    if (it == fields_.end()) fields_.emplace_back(name, value);
    else it->second = value;
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
      {"ID", "0"}, {"Lang", "FIN"}, {"Tunnus", "uusikayttaja"}, {"Koodi", "Salasana1"}, {"SNimi", "Korhonen"},
      {"ENimi", "P\xe4ivi"}, {"Os01", "Katu 1"}, {"Os02", "00100"}, {"Os03", "Helsinki"},
      {"EMail", "paivi@example.fi"}, {"Puh", "0401234567"}, {"MPuh", "0501234567"},
      {"Toim", "Hyv\xe4ksyn s\xe4\xe4nn\xf6t ja haluan rekister\xf6ity\xe4"}};
};

class AccountsRegistration : public ::testing::Test {
 protected:
  FixedClock clock_{kNow};
  AccountsSite site_;

  CgiResult Save(const Form& f, const std::map<std::string, std::string>& env = {}) {
    return site_.RunInProcess("/SavReg", f.Query(), env);
  }
  // A refusal with the page `body` that changed neither WEBREG nor PARAM.
  void ExpectRefused(const Form& f, const std::string& body) {
    const std::string before = site_.Dump();
    EXPECT_EQ(Save(f).body, body) << f.Query();
    EXPECT_EQ(site_.Dump(), before) << f.Query();
  }
};

TEST_F(AccountsRegistration, NewUsersGetConsecutiveNumbersAndASession) {
  site_.SetCounter(500123);
  CgiResult r = Save(Form(), {{"REMOTE_HOST", "client.example"}});
  const std::string id = IdOf(r, "regok");
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "regok?ID=" + id + "&Lang=FIN&Upd=N");
  EXPECT_EQ(id.size(), 6u + 16u);  // made from the digits alone
  const std::map<std::string, std::string> expected = {
      {"Tunnus", "uusikayttaja"}, {"AsNo", "         500124"}, {"KorttiLyh", ""}, {"Sukunimi", "Korhonen"},
      {"EtuNimi", "P\xe4ivi"}, {"KatuOsoite1", "Katu 1"}, {"PostiNo", "00100"}, {"PostiToimiPaikka", "Helsinki"},
      {"EMail1", "paivi@example.fi"}, {"PuhNo", "0401234567"}, {"MatkaPuh", "0501234567"},
      {"ID", id.substr(0, 15)}, {"Aika", Stored(kNow)}, {"Status", "1"}, {"RemoteHost", "client.example"}};
  auto row = site_.UserRow("uusikayttaja");
  for (const auto& [field, value] : expected) EXPECT_EQ(row[field], value) << field;
  EXPECT_EQ(DecodePassword(row["PinKoodi"]), "Salasana1");

  ASSERT_FALSE(IdOf(Save(Form().Set("Tunnus", "toinen")), "regok").empty());
  EXPECT_EQ(site_.UserRow("toinen")["AsNo"], "         500125");
  EXPECT_EQ(site_.UserRow("toinen")["RemoteHost"], "127.0.0.1");  // REMOTE_ADDR without a host name
  EXPECT_EQ(site_.Counter(), 500125);
}

TEST_F(AccountsRegistration, WithoutTheCounterRowNumbersStartAt500000AndNeverRepeat) {
  ASSERT_FALSE(IdOf(Save(Form().Set("Tunnus", "ensimmainen")), "regok").empty());
  EXPECT_EQ(IdOf(Save(Form().Set("Tunnus", "toinen")), "regok").size(), 6u + 16u);
  EXPECT_EQ(site_.UserRow("ensimmainen")["AsNo"], "         500000");
  EXPECT_EQ(site_.UserRow("toinen")["AsNo"], "         500001");
  EXPECT_EQ(site_.Counter(), 500001);
}

TEST_F(AccountsRegistration, SimultaneousRegistrationsDrawDistinctNumbers) {
  site_.SetCounter(700000);
  std::vector<std::thread> runs;
  for (int i = 0; i < 6; ++i)
    runs.emplace_back([&, i] { site_.Run("/SavReg", Form().Set("Tunnus", "samaan" + std::to_string(i)).Query()); });
  for (auto& t : runs) t.join();
  std::vector<std::string> numbers;
  for (int i = 0; i < 6; ++i) numbers.push_back(site_.UserRow("samaan" + std::to_string(i))["AsNo"]);
  std::sort(numbers.begin(), numbers.end());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(numbers[i], "         70000" + std::to_string(i + 1));
  EXPECT_EQ(site_.Counter(), 700006);
}

TEST_F(AccountsRegistration, ValidationBoundaries) {
  // Accepted: a 14-character password, a 4-character user name, a longer
  // one (stored cut to 15, found again by its first 15), Finnish letters.
  EXPECT_EQ(Save(Form().Set("Tunnus", "neljatoista").Set("Koodi", "abcdefghijklmn")).status, 302);
  EXPECT_EQ(Save(Form().Set("Tunnus", "nelj").Set("Koodi", "1234")).status, 302);
  EXPECT_EQ(Save(Form().Set("Tunnus", "erittainpitkanimi20").Set("Koodi", kFinnish14)).status, 302);
  EXPECT_EQ(site_.UserRow("erittainpitkani")["PinKoodi"].size(), 15u);
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Tunnus=erittainpitkanimi20&Koodi=" + UrlEncode(kFinnish14)).status, 302);

  ExpectRefused(Form().Set("Koodi", "abcdefghijklmno"), kCode4);
  ExpectRefused(Form().Set("Tunnus", "kol"), kCode4);
  ExpectRefused(Form().Set("Tunnus", "samasana").Set("Koodi", "samasana"), kCode4);
  ExpectRefused(Form().Set("Koodi", "abc"), kCode4);
  ExpectRefused(Form().Drop("Koodi"), kCode4);
  ExpectRefused(Form().Set("SNimi", ""), kCode3);
  ExpectRefused(Form().Set("ENimi", ""), kCode3);
  ExpectRefused(Form().Set("Puh", ""), kCode3);
  ExpectRefused(Form().Set("SNimi", "").Set("Tunnus", "kol"), kCode3);
  ExpectRefused(Form().Drop("MPuh").Drop("EMail").Drop("Os03").Drop("Toim"), kC19);  // 9 fields
  ExpectRefused(Form().Set("Extra", "1"), kC19);                                     // 14 fields
}

TEST_F(AccountsRegistration, DeclineButtonGoesHomeWithoutWriting) {
  site_.SetCounter(500000);
  const std::string before = site_.Dump();
  CgiResult r = Save(Form().Set("Toim", kDecline));  // no settings row: an empty home link
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"), "");
  InsertRow(*site_.Connect(), "WEBPARAM", {{"Numero", "01"}, {"LnkKoti", "https://keskus.example/"}});
  InsertRow(*site_.Connect(), "KAANNOS", {{"LGKieli", "ENG"}, {"LGSovellus", "WebOrvane"}, {"LGAvain", "C35"},
                                          {"LGTeksti", "I do not accept the rules"}, {"LGKaytossa", "1"}});
  EXPECT_EQ(Save(Form().Set("Toim", kDecline).Set("Tunnus", "x")).Header("Location"), "https://keskus.example/");
  EXPECT_EQ(Save(Form().Set("Lang", "ENG").Set("Toim", "I do not accept the rules")).Header("Location"),
            "https://keskus.example/");
  EXPECT_EQ(site_.Dump(), before);
}

TEST_F(AccountsRegistration, ExistingUserName) {
  site_.SetCounter(500000);
  site_.AddUser({.tunnus = "matti", .asNo = "             42", .status = "2"});
  site_.AddUser({.tunnus = "estetty", .status = "4"});
  // A wrong password, or a blocked user: refused.
  ExpectRefused(Form().Set("Tunnus", "matti").Set("Koodi", "Salasana2"), kC19);
  ExpectRefused(Form().Set("Tunnus", "estetty"), kC19);
  // The right password logs in and keeps the stored details.
  const std::string before = site_.Dump();
  CgiResult r = Save(Form().Set("Tunnus", "matti"));
  const std::string id = IdOf(r, "regok");
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "regok?ID=" + id + "&Lang=FIN&Upd=Y");
  EXPECT_EQ(id.size(), 2u + 16u);
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["ID"], id.substr(0, 15));
  EXPECT_EQ(row["Aika"], Stored(kNow));
  EXPECT_EQ(row["Sukunimi"], "Virtanen");
  EXPECT_EQ(row["Status"], "2");
  EXPECT_EQ(site_.Counter(), 500000);
}

TEST_F(AccountsRegistration, EditOfOwnDetails) {
  site_.SetCounter(500001);
  const std::string id = MakeSessionId("500001");
  site_.AddUser({.tunnus = "matti", .id = id.substr(0, 15), .aika = kNow - 0.25});
  const auto before = site_.UserRow("matti");
  const Form edit = Form().Set("ID", id).Set("Tunnus", "matti").Drop("Koodi");  // no password field
  ExpectRefused(Form(edit).Set("Tunnus", "mat"), kCode4);
  ExpectRefused(Form(edit).Set("Puh", ""), kCode3);
  // A session ID of no row appends nothing and draws no number.
  ExpectRefused(Form(edit).Set("ID", MakeSessionId("500001")), kC19);
  ExpectRefused(Form(edit).Set("ID", MakeSessionId("500001")).Set("Tunnus", "uusi").Set("Koodi", "Salasana1"), kC19);

  CgiResult r = Save(Form(edit).Set("MPuh", ""), {{"REMOTE_HOST", "koti.example"}});
  EXPECT_EQ(r.Header("Location"), std::string(kProgramUrl) + "regok?ID=" + id + "&Lang=FIN&Upd=Y");
  auto row = site_.UserRow("matti");
  EXPECT_EQ(row["Sukunimi"], "Korhonen");
  EXPECT_EQ(row["MatkaPuh"], "");
  EXPECT_EQ(row["Status"], "2");
  EXPECT_EQ(row["Aika"], Stored(kNow));
  EXPECT_EQ(row["RemoteHost"], "koti.example");
  for (const char* kept : {"Tunnus", "PinKoodi", "AsNo", "KorttiLyh", "ID"}) EXPECT_EQ(row[kept], before.at(kept)) << kept;
  EXPECT_EQ(site_.Counter(), 500001);
}

// The save of own details needs the session that the details form would
// show: not a blocked user's (whose block a save would lift), not one older
// than 12 hours (which a save would revive). Both: error page, no write.
TEST_F(AccountsRegistration, EditNeedsALiveUnblockedSession) {
  struct Case {
    DateTime age;
    const char* status;
    bool saved;
  };
  for (const Case& c : std::vector<Case>{{0.5 - Seconds(1), "1", true},
                                         {0.5, "1", false},
                                         {30.0, "2", false},
                                         {Seconds(10), "4", false}}) {
    AccountsSite site;
    const std::string id = MakeSessionId("500001");
    site.AddUser({.tunnus = "matti", .id = id.substr(0, 15), .aika = kNow - c.age, .status = c.status});
    const std::string before = site.Dump();
    CgiResult r = site.RunInProcess("/SavReg", Form().Set("ID", id).Set("Tunnus", "matti").Drop("Koodi").Query());
    SCOPED_TRACE(std::string(c.status) + " " + std::to_string(c.age));
    if (c.saved) {
      EXPECT_EQ(r.status, 302);
      EXPECT_EQ(site.UserRow("matti")["Sukunimi"], "Korhonen");
    } else {
      EXPECT_EQ(r.body, kC19);
      EXPECT_EQ(site.Dump(), before);
    }
  }
}

// A control byte in any stored field refuses the form with ErrorCode 3, in
// a registration and in an edit alike.
TEST_F(AccountsRegistration, ControlBytesAreRefused) {
  const std::string id = MakeSessionId("500001");
  site_.AddUser({.tunnus = "matti", .id = id.substr(0, 15), .aika = kNow - Seconds(10)});
  const Form edit = Form().Set("ID", id).Set("Tunnus", "matti").Drop("Koodi");
  for (const char* field : {"Tunnus", "Koodi", "SNimi", "ENimi", "Os01", "Os02", "Os03", "EMail", "Puh", "MPuh"}) {
    for (const std::string& bad : {std::string("a\0b", 3), std::string("x\ty"), std::string("\x1f")}) {
      ExpectRefused(Form().Set(field, bad), kCode3);
      if (std::string(field) != "Tunnus" && std::string(field) != "Koodi") ExpectRefused(Form(edit).Set(field, bad), kCode3);
    }
  }
  // Bytes from 32 up are ordinary text.
  EXPECT_EQ(Save(Form().Set("SNimi", "O'Brien ä ~")).status, 302);
}

TEST_F(AccountsRegistration, ConfirmationPages) {
  EXPECT_EQ(site_.RunInProcess("/RegOk", "ID=abc123&Lang=FIN&Upd=Y").body, "REGOK[P\xe4ivitys|abc123]");
  EXPECT_EQ(site_.RunInProcess("/RegOk", "Upd=N").body, "REGOK[Rekister\xf6ityminen|]");
  EXPECT_EQ(site_.RunInProcess("/VaihdaOk", "ID=abc&Upd=Y").body, "VAIHDAOK[P\xe4ivitys|abc]");
  for (const char* path : {"/RegOk", "/VaihdaOk"}) {
    EXPECT_EQ(site_.RunInProcess(path, "").body, kC19);
    EXPECT_EQ(site_.RunInProcess(path, "ID=1&Lang=FIN&Upd=Y&X=1").body, kC19);
  }
}

}  // namespace
}  // namespace wo::test::accounts
