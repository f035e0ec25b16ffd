// The refusals that say what happened: a wrong user name or password, a
// login refused for now, a taken user name, the missing required details,
// a wrong current password -- and the session a refusal leads on with.
#include <gtest/gtest.h>

#include "booking/session.h"
#include "unit/accounts_support.h"

namespace wo::test::accounts {
namespace {

const std::string kWrong = "K\xe4ytt\xe4j\xe4tunnus tai salasana on v\xe4\xe4r\xe4. Tarkista ne ja yrit\xe4 uudelleen.";
const std::string kRefused =
    "Kirjautuminen ei nyt onnistu t\xe4ll\xe4 tunnuksella. Yrit\xe4 my\xf6hemmin uudelleen tai ota yhteytt\xe4 "
    "asiakaspalveluun.";
const std::string kTaken =
    "K\xe4ytt\xe4j\xe4tunnus on jo k\xe4yt\xf6ss\xe4. Valitse toinen tunnus, tai kirjaudu sis\xe4\xe4n, jos tunnus "
    "on sinun.";

TEST(AccountsMessages, EachRefusalNamesItsCause) {
  FixedClock clock{kNow};
  AccountsSite site(SiteOptions{.extraIni = "[Features]\nClearMessages=1\n[Security]\nLoginFailuresPerUser=3\n"});
  site.WriteTemplate("Fin", "error.html", "ERR[<#ERROR>|<#ID>]");
  const std::string id = MakeSessionId("500001");
  site.AddUser({.tunnus = "matti", .asNo = "500001", .id = id.substr(0, 15), .aika = kNow - Seconds(10)});
  site.AddUser({.tunnus = "estetty", .status = "4"});
  site.AddUser({.tunnus = "lukittu"});
  const std::string reg = "Lang=FIN&ID=0&Os01=&Os02=&Os03=&EMail=&MPuh=&Toim=Ok";
  const std::string edit = "Lang=FIN&Tunnus=matti&Os01=&Os02=&Os03=&EMail=&MPuh=&Toim=Ok&SNimi=Aho&ENimi=Aki&Puh=";
  struct Case {
    const char* what;
    const char* path;
    std::string query;
    std::string page;
  };
  const Case cases[] = {
      {"unknown user", "/ChkLogin", "Lang=FIN&Tunnus=tuntematon&Koodi=Salasana1", "ERR[" + kWrong + "|0]"},
      {"wrong password", "/ChkLogin", "Lang=FIN&Tunnus=matti&Koodi=salasana1", "ERR[" + kWrong + "|0]"},
      {"blocked user", "/ChkLogin", "Lang=FIN&Tunnus=estetty&Koodi=Salasana1", "ERR[" + kRefused + "|0]"},
      {"third failure", "/ChkLogin", "Lang=FIN&Tunnus=lukittu&Koodi=x", "ERR[" + kWrong + "|0]"},
      {"", "/ChkLogin", "Lang=FIN&Tunnus=lukittu&Koodi=y", "ERR[" + kWrong + "|0]"},
      {"", "/ChkLogin", "Lang=FIN&Tunnus=lukittu&Koodi=z", "ERR[" + kWrong + "|0]"},
      {"throttled, right password", "/ChkLogin", "Lang=FIN&Tunnus=lukittu&Koodi=Salasana1", "ERR[" + kRefused + "|0]"},
      {"taken user name", "/SavReg", reg + "&Koodi=Toinen123&Tunnus=matti&SNimi=Aho&ENimi=Aki&Puh=1", "ERR[" + kTaken + "|0]"},
      {"blocked user's name", "/SavReg", reg + "&Koodi=Salasana1&Tunnus=estetty&SNimi=Aho&ENimi=Aki&Puh=1", "ERR[" + kRefused + "|0]"},
      {"missing details", "/SavReg", reg + "&Koodi=Salasana1&Tunnus=uusi1&SNimi=Aho&ENimi=&Puh=",
       "ERR[T\xe4yt\xe4 pakolliset tiedot: etunimi, puhelinnumero.|0]"},
      {"own details: the session stays", "/SavReg", edit + "&ID=" + id,
       "ERR[T\xe4yt\xe4 pakolliset tiedot: puhelinnumero.|" + id + "]"},
      {"own details, no live session", "/SavReg", edit + "&ID=" + MakeSessionId("500002"),
       "ERR[T\xe4yt\xe4 pakolliset tiedot: puhelinnumero.|0]"},
      {"wrong current password: the session stays", "/VaihdaSana",
       "Lang=FIN&ID=" + id + "&Koodi=vaara&UKoodi=Uusi1234", "ERR[" + kWrong + "|" + id + "]"},
  };
  for (const Case& c : cases) EXPECT_EQ(site.RunInProcess(c.path, c.query).body, c.page) << c.what << " " << c.query;
}

}  // namespace
}  // namespace wo::test::accounts
