// Waiting lists through the installed program: freed places go to the
// first in line, in the transaction that frees them, even when several
// cancellations land at once; a held place is bookable by its user only;
// a lapsed offer moves on; each refusal has its own page; and with the
// switch off the line's table is never written.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "concurrency/at_once.h"
#include "concurrency/centre_site.h"
#include "module/texts.h"
#include "store/outbox.h"
#include "store/table.h"
#include "store/waiting_list.h"

namespace wo::test {
namespace {

const std::string kFull = "E:Vuoroa ei voi en\xe4\xe4 varata!";

std::string E(const TextDef& t, const std::string& after = "") { return "E:" + std::string(t.fin) + after; }

class WaitingLists : public CentreSite {
 protected:
  void SetUp() override { MakeSite("[Features]\nWaitingList=1\n"); }

  static std::string Query(const std::string& id, const std::string& vuo = "1") {
    return "ID=" + id + "&Lang=Fin&Kau=2030&Vuo=" + vuo + "&Seq=1";
  }
  void Book(int user, const std::string& vuo, int jno) {
    Insert("VAVARAUS", {{"Kausi", "2030"},
                        {"VuoroNo", std::string(5 - vuo.size(), ' ') + vuo},
                        {"VuoroNoSeq", "    1"},
                        {"Jno", std::to_string(jno)},
                        {"AsNo", std::to_string(100 + user)},
                        {"Status", "0"}});
  }
  std::vector<store::QueueEntry> Line(const std::string& vuo = "1") {
    return store::SlotQueue(*conn_, {"2030", std::string(5 - vuo.size(), ' ') + vuo, "    1"});
  }
  // Makes the offer of line row `id` lapse a minute ago.
  void Lapse(int64_t id) {
    store::Table t(*conn_, store::TableNamed("WEBJONO"), "", "Id");
    t.Open();
    ASSERT_TRUE(t.FindKey({store::Int(id)}));
    t.Edit();
    t["Voimassa"].SetDateTime(Now() - 1.0 / 1440);
    t.Post();
    t.Close();
  }
};

TEST_P(WaitingLists, FiveCancellationsAtOnceOfferTheFirstFiveInLine) {
  Params(30);
  Slot("1", 5);
  std::vector<std::string> ids;
  for (int i = 0; i < 26; ++i) ids.push_back(User(i));
  for (int i = 0; i < 5; ++i) Book(i, "1", i + 1);
  for (int i = 5; i < 25; ++i) ASSERT_EQ(site_->Run("/Jono", Query(ids[i])).status, 302) << i;

  std::vector<std::string> cancels;
  for (int i = 0; i < 5; ++i) cancels.push_back(Query(ids[i]) + "&JNo=" + std::to_string(i + 1));
  for (const CgiResult& a : RunAllAtOnce(*site_, "/PoisVar", cancels)) ASSERT_EQ(a.status, 302) << a.raw;

  std::vector<store::QueueEntry> line = Line();
  ASSERT_EQ(line.size(), 20u);
  for (size_t j = 0; j < line.size(); ++j) {
    EXPECT_EQ(line[j].asNo, std::to_string(105 + j)) << j;
    EXPECT_EQ(line[j].offered, j < 5) << j;
    if (line[j].offered) {
      EXPECT_GT(line[j].offerUntil, Now());
    }
  }

  // While the places are held, nobody else gets one: not the next in line,
  // not one who just cancelled, not one outside the line.
  for (int other : {10, 0, 25}) EXPECT_EQ(site_->Run("/Var", Query(ids[other])).body, kFull) << other;

  std::vector<std::string> accepts;
  for (int i = 5; i < 10; ++i) accepts.push_back(Query(ids[i]));
  for (const CgiResult& a : RunAllAtOnce(*site_, "/Var", accepts)) ASSERT_EQ(a.status, 302) << a.raw;

  std::set<std::string> holders;
  for (const auto& [asNo, jno] : Rows()) holders.insert(asNo);
  EXPECT_EQ(holders, (std::set<std::string>{"105", "106", "107", "108", "109"}));
  EXPECT_EQ(Rows().size(), 5u);
  line = Line();
  ASSERT_EQ(line.size(), 15u);
  EXPECT_EQ(line[0].asNo, "110");
  for (const store::QueueEntry& e : line) EXPECT_FALSE(e.offered) << e.asNo;
}

TEST_P(WaitingLists, ALapsedOfferMovesToTheNextInLine) {
  Params(30);
  Slot("1", 1);
  std::vector<std::string> ids;
  for (int i = 0; i < 4; ++i) ids.push_back(User(i));
  Book(0, "1", 1);
  for (int i : {1, 2}) ASSERT_EQ(site_->Run("/Jono", Query(ids[i])).status, 302);
  // The own list shows the place in line, then the offer.
  site_->WriteTemplate("Fin", "omat.html", "<#OMATLISTA>");
  const std::string own = "ID=" + ids[2] + "&Lang=Fin";
  EXPECT_NE(site_->Run("/Omat", own).body.find("Jonossa, sija 2<br>"), std::string::npos);
  ASSERT_EQ(site_->Run("/PoisVar", Query(ids[0]) + "&JNo=1").status, 302);
  EXPECT_NE(site_->Run("/Omat", own).body.find("Jonossa, sija 1<br>"), std::string::npos);
  std::vector<store::QueueEntry> line = Line();
  ASSERT_EQ(line.size(), 2u);
  ASSERT_TRUE(line[0].offered);
  Lapse(line[0].id);

  // The next request that touches the slot settles it: user 2 now holds
  // the place, so user 3 is refused and user 1's offer is gone.
  EXPECT_EQ(site_->Run("/Var", Query(ids[3])).body, kFull);
  EXPECT_NE(site_->Run("/Omat", own).body.find("Vapautunut paikka on tarjolla sinulle asti "), std::string::npos);
  line = Line();
  ASSERT_EQ(line.size(), 1u);
  EXPECT_EQ(line[0].asNo, "102");
  EXPECT_TRUE(line[0].offered);
  EXPECT_EQ(site_->Run("/Var", Query(ids[1])).body, kFull);
  EXPECT_EQ(site_->Run("/Var", Query(ids[2])).status, 302);
  EXPECT_TRUE(Line().empty());
}

TEST_P(WaitingLists, EachRefusalHasItsPageAndLeavingFreesTheHold) {
  Params(2);
  Slot("1", 1);      // full: user 0 holds it
  Slot("2", 10);     // places left
  Slot("3", 1);      // full: user 0 holds it
  Slot("4", 1, 40);  // beyond the horizon
  std::vector<std::string> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(User(i));
  Book(0, "1", 1);
  Book(0, "3", 1);
  Book(2, "2", 1);
  struct Case {
    int user;
    const char* path;
    const char* vuo;
    std::string expected;  // "" for a redirect to the own list
  };
  const Case cases[] = {
      {1, "/Jono", "1", ""},
      {1, "/Jono", "1", E(texts::C92)},
      {0, "/Jono", "1", E(texts::C91)},
      {1, "/Jono", "2", E(texts::C90)},
      {1, "/Jono", "9", E(texts::C25)},
      {1, "/Jono", "4", E(texts::C26, "30" + std::string(texts::C27.fin))},
      {2, "/Jono", "1", ""},
      {2, "/Jono", "3", E(texts::C93, " 2.")},  // one reservation and one place in line
      {1, "/JonoPois", "3", E(texts::C94)},
      {1, "/JonoPois", "1", ""},
  };
  for (const Case& c : cases) {
    const CgiResult a = site_->Run(c.path, Query(ids[c.user], c.vuo));
    const std::string where = std::string(c.path) + " " + c.vuo + " by " + std::to_string(c.user);
    if (c.expected.empty()) {
      EXPECT_EQ(a.status, 302) << where << "\n" << a.raw;
      EXPECT_EQ(a.Header("Location").rfind("/cgi-bin/WebOrvane.exe/Omat?ID=", 0), 0u) << where;
    } else {
      EXPECT_EQ(a.body, c.expected) << where;
    }
  }
  // User 1 left: the place user 0 frees is held for user 2.
  ASSERT_EQ(site_->Run("/PoisVar", Query(ids[0]) + "&JNo=1").status, 302);
  const std::vector<store::QueueEntry> line = Line();
  ASSERT_EQ(line.size(), 1u);
  EXPECT_EQ(line[0].asNo, "102");
  EXPECT_TRUE(line[0].offered);
}

// The scheduled run finds the places the desktop system frees -- a slot's
// places raised, a reservation deleted -- and offers them, mailing each
// offer with Mail on.
TEST_P(WaitingLists, TheScheduledRunOffersWhatTheDesktopFrees) {
  site_->WriteIni(GetParam()->extraIni() + "[Features]\nWaitingList=1\nMail=1\n");
  Params(30);
  Slot("1", 1);
  std::vector<std::string> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(User(i));
  Book(0, "1", 1);
  for (int i : {1, 2}) ASSERT_EQ(site_->Run("/Jono", Query(ids[i])).status, 302);
  {
    store::Table reg(*conn_, store::TableNamed("WEBREG"), "", "Tunnus");
    reg.Open();
    ASSERT_TRUE(reg.FindKey({store::Txt("user1")}));
    reg.Edit();
    reg["EMail1"].SetText("one@example.org");
    reg.Post();
    store::Table slot(*conn_, store::TableNamed("VaVuoro"), "", "Kausi;VuoroNo;VuoroNoSeq");
    slot.Open();
    ASSERT_TRUE(slot.FindKey({store::Txt("2030"), store::Txt("    1"), store::Txt("    1")}));
    slot.Edit();
    slot["Maara"].SetInt(2);
    slot.Post();
  }
  const std::string admin = std::string(WO_ADMIN_PROGRAM) + " --ini '" + site_->iniFile() + "' waitlist settle";
  EXPECT_EQ(Shell(admin).second, "weborvane-admin: waitlist settle: 1 place(s) offered\n");
  std::vector<store::QueueEntry> line = Line();
  ASSERT_EQ(line.size(), 2u);
  EXPECT_TRUE(line[0].offered);
  EXPECT_FALSE(line[1].offered);
  const std::vector<store::OutboxMessage> mails = store::ListMessages(*conn_);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].kind, store::MailKind::Offer);
  EXPECT_EQ(mails[0].recipient, "one@example.org");
  EXPECT_EQ(mails[0].key.asNo, "101");

  store::Table va(*conn_, store::TableNamed("VAVARAUS"), "", "Kausi;VuoroNo;VuoroNoSeq;Jno");
  va.Open();
  ASSERT_TRUE(va.FindKey({store::Txt("2030"), store::Txt("    1"), store::Txt("    1"), store::Int(1)}));
  va.Delete();
  va.Close();
  EXPECT_EQ(Shell(admin).second, "weborvane-admin: waitlist settle: 1 place(s) offered\n");
  line = Line();
  ASSERT_EQ(line.size(), 2u);
  EXPECT_TRUE(line[1].offered);
  EXPECT_EQ(Shell(admin).second, "weborvane-admin: waitlist settle: 0 place(s) offered\n");
}

INSTANTIATE_TEST_SUITE_P(Backends, WaitingLists, ::testing::ValuesIn(AllBackends()),
                         [](const ::testing::TestParamInfo<const Backend*>& p) { return p.param->name; });

// Without the switch the paths are unknown and nothing, not even a
// cancellation, writes to the line's table.
class WaitingListOff : public CentreSite {
 protected:
  void SetUp() override { MakeSite(); }
};

TEST_P(WaitingListOff, WritesNothing) {
  Params(30);
  Slot("1", 1);
  const std::string id = User(0);
  const std::string other = User(1);
  const std::string q = "ID=" + other + "&Lang=Fin&Kau=2030&Vuo=1&Seq=1";
  ASSERT_EQ(site_->Run("/Var", "ID=" + id + "&Lang=Fin&Kau=2030&Vuo=1&Seq=1").status, 302);
  site_->WriteTemplate("Fin", "index.html", "start");
  const CgiResult unknown = site_->Run("/NoSuchPath", q);
  ASSERT_EQ(unknown.body, "start");
  EXPECT_EQ(site_->Run("/Jono", q).raw, unknown.raw);
  EXPECT_EQ(site_->Run("/JonoPois", q).raw, unknown.raw);
  ASSERT_EQ(site_->Run("/PoisVar", "ID=" + id + "&Lang=Fin&Kau=2030&Vuo=1&Seq=1&JNo=1").status, 302);
  store::Table t(*conn_, store::TableNamed("WEBJONO"), "", "Id");
  t.Open();
  EXPECT_TRUE(t.IsEmpty());
  t.Close();
}

INSTANTIATE_TEST_SUITE_P(Backends, WaitingListOff, ::testing::ValuesIn(AllBackends()),
                         [](const ::testing::TestParamInfo<const Backend*>& p) { return p.param->name; });

}  // namespace
}  // namespace wo::test
