// The password reset by e-mail: the request that answers alike for every
// name, the link's token kept only as a hash, and the new password set
// once through it.
#include <gtest/gtest.h>

#include <set>

#include "booking/password_reset.h"
#include "mail/mail_facts.h"
#include "module/texts.h"
#include "store/outbox.h"
#include "support/faulty_store.h"
#include "unit/accounts_support.h"
#include "unit/module_harness.h"

namespace wo::test::accounts {
namespace {

std::string Notice(const TextDef& text, const char* role = "alert") {
  return "<p class=\"notice\" role=\"" + std::string(role) + "\">" + std::string(text.fin) + "</p>";
}

class PasswordReset : public ::testing::Test {
 protected:
  FixedClock clock_{kNow};
  AccountsSite site_{SiteOptions{.extraIni = "[Features]\nMail=1\n[Security]\nLoginFailuresPerUser=3\n"}};

  void SetUp() override {
    site_.WriteTemplate("Fin", "unohtui.html", "UNOHTUI[<#PALAUTUSVIESTI>]");
    site_.WriteTemplate("Fin", "palauta.html", "PALAUTA[<#PALAUTUSVIESTI>|<#VARPARAM>]");
    site_.WriteTemplate("Fin", "palautaok.html", "PALAUTAOK");
    Add("matti", "matti@example.org", "1", MakeSessionId("500001").substr(0, 15));
    Add("ilman", "", "1");
    Add("estetty", "estetty@example.org", "4");
  }
  void Add(const std::string& tunnus, const std::string& mail, const std::string& status, const std::string& id = "0") {
    AddUser(*site_.Connect(), {.tunnus = tunnus,
                               .pinKoodi = EncodePassword("Vanha123"),
                               .asNo = "500001",
                               .id = id,
                               .aika = Stored(kNow),
                               .status = status,
                               .more = {{"EMail1", mail}, {"EtuNimi", "Matti"}}});
  }
  CgiResult Ask(const std::string& tunnus) { return site_.RunInProcess("/Unohtui", "Lang=Fin&Tunnus=" + tunnus); }
  CgiResult Reset(const std::string& token, const std::string& pw, const std::string& again) {
    return site_.RunInProcess("/Palauta", "Lang=Fin&T=" + token + "&UKoodi=" + pw + "&UKoodi2=" + again);
  }
  std::vector<store::OutboxMessage> Outbox() { return store::ListMessages(*site_.Connect()); }
  // The token of the latest reset mail, as the mail's link carries it.
  std::string LatestToken() {
    const std::vector<store::OutboxMessage> box = Outbox();
    return box.empty() ? std::string() : mail::FactOf(mail::DecodeFacts(box.back().facts), mail::fact::kToken);
  }
  int Count(const char* table, const char* index) { return CountRows(site_, table, index); }
};

TEST_F(PasswordReset, TheRequestAnswersAlikeWhoeverIsAskedFor) {
  EXPECT_EQ(site_.RunInProcess("/Unohtui", "Lang=Fin").body, "UNOHTUI[]");
  WriteFaults faults;
  site_.SetOpener(faults.Opener());
  const CgiResult first = Ask("matti");
  EXPECT_EQ(first.body, "UNOHTUI[" + Notice(texts::C81, "status") + "]");
  // The same bytes, and the same writes but the mail's, for a user with no
  // address, a blocked user and a name nobody has.
  long long writes = -1;
  for (const char* name : {"ilman", "estetty", "eiole"}) {
    const long long before = faults.writes();
    EXPECT_EQ(Ask(name).raw, first.raw) << name;
    if (writes >= 0) {
      EXPECT_EQ(faults.writes() - before, writes) << name;
    }
    writes = faults.writes() - before;
  }
  const std::vector<store::OutboxMessage> box = Outbox();
  ASSERT_EQ(box.size(), 1u);
  EXPECT_EQ(box[0].kind, store::MailKind::Reset);
  EXPECT_EQ(box[0].recipient, "matti@example.org");
  EXPECT_EQ(box[0].language, "Fin");
  // Each request stored a link; the table holds the token's hash only.
  EXPECT_EQ(Count("WEBPALAUTUS", "Tiiviste"), 4);
  const std::string token = LatestToken();
  ASSERT_EQ(token.size(), 40u);
  auto c = site_.Connect();
  store::Table links(*c, store::TableNamed("WEBPALAUTUS"), "", "Tiiviste");
  links.Open();
  EXPECT_TRUE(links.FindKey({store::Txt(ResetTokenHash(token))}));
  EXPECT_EQ(links.Text("Tunnus"), "matti");
  EXPECT_FALSE(links.FindKey({store::Txt(token)}));
}

// An address names every user who gave it, in any letter case; a blocked
// one and a user named by both the name and the address get one mail.
TEST_F(PasswordReset, AnAddressAsksForEveryUserOfIt) {
  Add("maija", "Matti@Example.org", "0");
  Add("matti@example.org", "matti@example.org", "0");
  Add("toinen", "toinen@example.org", "0");
  Ask("MATTI@example.org");
  Ask("nobody@example.org");
  std::multiset<std::string> to;
  for (const store::OutboxMessage& m : Outbox()) to.insert(m.recipient);
  EXPECT_EQ(to, (std::multiset<std::string>{"Matti@Example.org", "matti@example.org", "matti@example.org"}));
  EXPECT_EQ(Count("WEBPALAUTUS", "Tiiviste"), 4);  // three users' links, and one nobody gets
}

TEST_F(PasswordReset, RequestsAreThrottledWithTheLoginLimits) {
  for (int i = 0; i < 3; ++i) Ask("matti");
  EXPECT_EQ(Outbox().size(), 3u);
  // The fourth within the window: the same answer, no link and no mail.
  EXPECT_EQ(Ask("matti").body, "UNOHTUI[" + Notice(texts::C81, "status") + "]");
  EXPECT_EQ(Outbox().size(), 3u);
  EXPECT_EQ(Count("WEBPALAUTUS", "Tiiviste"), 3);
}

TEST_F(PasswordReset, ALinkSetsANewPasswordOnce) {
  Ask("matti");
  Ask("matti");  // an older link of the user goes with the one used
  const std::string token = LatestToken();
  site_.RunInProcess("/ChkLogin", "Tunnus=matti&Koodi=wrong");  // a failure for the name, and one of another
  site_.RunInProcess("/ChkLogin", "Tunnus=ilman&Koodi=wrong");
  const std::string form = "PALAUTA[|" + HiddenInput("Lang", "Fin") + HiddenInput("T", token) + "]";
  EXPECT_EQ(site_.RunInProcess("/Palauta", "Lang=Fin&T=" + token).body, form);
  // Refusals keep the form and change nothing.
  const std::string before = site_.Dump();
  EXPECT_EQ(Reset(token, "Uusi1234", "Uusi1235").body, "PALAUTA[" + Notice(texts::C84) + form.substr(8));
  for (const char* bad : {"abc", "abcdefghijklmno", "matti"})
    EXPECT_EQ(Reset(token, bad, bad).body, "PALAUTA[" + Notice(texts::C83) + form.substr(8)) << bad;
  EXPECT_EQ(site_.Dump(), before);

  const CgiResult done = Reset(token, "Uusi1234", "Uusi1234");
  EXPECT_EQ(done.Header("Location"), std::string(kProgramUrl) + "Palauta?Lang=Fin&Valmis=1");
  EXPECT_EQ(site_.RunInProcess("/Palauta", "Lang=Fin&Valmis=1").body, "PALAUTAOK");
  auto row = site_.UserRow("matti");
  EXPECT_EQ(DecodePassword(row["PinKoodi"]), "Uusi1234");
  EXPECT_EQ(row["ID"], "0");  // the session ended
  EXPECT_EQ(Count("WEBPALAUTUS", "Tiiviste"), 0);
  EXPECT_EQ(Count("WEBLOGINFAIL", "Aika"), 1);  // only the other name's failure is left
  // Used: refused, the request form offered instead.
  EXPECT_EQ(Reset(token, "Toinen12", "Toinen12").body, "UNOHTUI[" + Notice(texts::C82) + "]");
  EXPECT_EQ(site_.RunInProcess("/ChkLogin", "Tunnus=matti&Koodi=Uusi1234").status, 302);
}

// A password changed by the logged-in user ends the links asked for
// before; a refused change leaves them.
TEST_F(PasswordReset, APasswordChangeEndsOpenLinks) {
  const std::string id = MakeSessionId("500009");
  AddUser(*site_.Connect(), {.tunnus = "liisa",
                             .pinKoodi = EncodePassword("Vanha123"),
                             .asNo = "         500009",
                             .id = id.substr(0, 15),
                             .aika = Stored(kNow),
                             .more = {{"EMail1", "liisa@example.org"}}});
  Ask("liisa");
  const std::string token = LatestToken();
  const auto change = [&](const std::string& koodi) {
    return site_.RunInProcess("/VaihdaSana", "Lang=Fin&ID=" + id + "&Koodi=" + koodi + "&UKoodi=Uusi1234");
  };
  change("wrong");
  EXPECT_EQ(Count("WEBPALAUTUS", "Tiiviste"), 1);
  EXPECT_EQ(change("Vanha123").status, 302);
  EXPECT_EQ(Count("WEBPALAUTUS", "Tiiviste"), 0);
  EXPECT_EQ(Reset(token, "Toinen12", "Toinen12").body, "UNOHTUI[" + Notice(texts::C82) + "]");
  EXPECT_EQ(DecodePassword(site_.UserRow("liisa")["PinKoodi"]), "Uusi1234");
}

// Refused links count against the client's address like failed logins;
// once it is locked even a good link is refused, and a reset clears
// nothing of the address's count.
TEST_F(PasswordReset, RefusedLinksAreThrottledByAddress) {
  site_.WriteIni("[Features]\nMail=1\n[Security]\nLoginFailuresPerAddress=4\n");
  Ask("matti");
  const std::string token = LatestToken();
  const std::string refused = "UNOHTUI[" + Notice(texts::C82) + "]";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Reset(std::string(40, 'a'), "Uusi1234", "Uusi1234").body, refused);
  EXPECT_EQ(Reset(token, "Uusi1234", "Uusi1234").body, refused);
  EXPECT_EQ(DecodePassword(site_.UserRow("matti")["PinKoodi"]), "Vanha123");
  clock_.Set(kNow + 16.0 / 1440);  // the failures age out of the window; the link is still good
  EXPECT_EQ(Reset(token, "Uusi1234", "Uusi1234").status, 302);
  EXPECT_EQ(DecodePassword(site_.UserRow("matti")["PinKoodi"]), "Uusi1234");
}

TEST_F(PasswordReset, LapsedAlteredAndForeignLinksAreRefused) {
  Ask("matti");
  const std::string token = LatestToken();
  std::string altered = token;
  altered.back() = altered.back() == '0' ? '1' : '0';
  const std::string refused = "UNOHTUI[" + Notice(texts::C82) + "]";
  for (const std::string& t : {altered, token.substr(0, 39), token + "0", std::string(), std::string("%00")})
    EXPECT_EQ(Reset(t, "Uusi1234", "Uusi1234").body, refused) << t;
  clock_.Set(kNow + 59.0 / 1440);
  EXPECT_EQ(site_.RunInProcess("/Palauta", "Lang=Fin&T=" + token).body.substr(0, 9), "PALAUTA[|");
  clock_.Set(kNow + 60.0 / 1440);
  EXPECT_EQ(Reset(token, "Uusi1234", "Uusi1234").body, refused);
  EXPECT_EQ(DecodePassword(site_.UserRow("matti")["PinKoodi"]), "Vanha123");
  // A user blocked after asking gets no new password either.
  clock_.Set(kNow);
  auto c = site_.Connect();
  store::Table reg(*c, store::TableNamed("WEBREG"), "", "Tunnus");
  reg.Open();
  ASSERT_TRUE(reg.FindKey({store::Txt("matti")}));
  reg.Edit();
  reg["Status"].SetInt(4);
  reg.Post();
  reg.Close();
  EXPECT_EQ(Reset(token, "Uusi1234", "Uusi1234").body, refused);
}

}  // namespace
}  // namespace wo::test::accounts
