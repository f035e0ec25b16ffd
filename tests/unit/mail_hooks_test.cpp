// The mails that the booking and the cancellation queue in their own
// transactions ([Features] Mail), and the feature gate of the reset paths:
// a refused or failed change queues nothing, a change made queues one mail
// in the request's language, and with Mail off nothing changes at all.
#include <gtest/gtest.h>

#include "store/outbox.h"
#include "unit/booking_fixture.h"
#include "unit/module_harness.h"

namespace wo::booking_test {
namespace {

class SlotMail : public BookingSite {
 protected:
  const DateTime tomorrow18 = EncodeDate(2030, 6, 11) + EncodeTime(18, 0, 0);

  void MailOn() { site().WriteIni("[Features]\nMail=1\n"); }
  std::string MailUser(const std::string& tunnus, const std::string& asNo) {
    return User(tunnus, asNo, "", {{"EMail1", tunnus + "@example.org"}});
  }
  std::vector<store::OutboxMessage> Outbox() { return store::ListMessages(conn()); }
  static std::string Cancel(const std::string& id, const std::string& vuo, const std::string& lang = "Fin") {
    return "ID=" + id + "&Lang=" + lang + "&Kau=2030&Vuo=" + vuo + "&Seq=1&JNo=1";
  }
};

TEST_F(SlotMail, BookingAndCancellationQueueOneMailEachInTheRequestsLanguage) {
  MailOn();
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}, {"PoistaEnnenPv", "2"}});
  const std::string id = MailUser("u1", "77");
  Slot("12", tomorrow18);
  ASSERT_EQ(Get("/Var", "ID=" + id + "&Lang=Eng&Kau=2030&Vuo=12&Seq=1").status, 302);
  ASSERT_EQ(Get("/PoisVar", Cancel(id, "12", "Fin")).status, 302);

  const std::vector<store::OutboxMessage> box = Outbox();
  ASSERT_EQ(box.size(), 2u);
  EXPECT_EQ(box[0].kind, store::MailKind::Confirmation);
  EXPECT_EQ(box[0].language, "Eng");
  EXPECT_EQ(box[0].recipient, "u1@example.org");
  EXPECT_EQ(box[0].key, (store::ReservationKey{"2030", "   12", "    1", "77"}));
  // The balance after the change: charged in the booking, refunded in the
  // cancellation.
  EXPECT_NE(box[0].facts.find("SALDO=-5.00"), std::string::npos) << box[0].facts;
  EXPECT_EQ(box[1].kind, store::MailKind::Cancellation);
  EXPECT_EQ(box[1].language, "Fin");
  EXPECT_NE(box[1].facts.find("SALDO=0.00"), std::string::npos) << box[1].facts;
  EXPECT_EQ(box[1].key, box[0].key);
}

TEST_F(SlotMail, RefusedBookingsAndCancellationsQueueNothing) {
  MailOn();
  Params({{"MaxAsVaraus", "2"}, {"PoistaEnnenPv", "2"}});
  const std::string id = MailUser("u1", "77");
  MailUser("u2", "78");
  const std::string third = MailUser("u3", "79");
  Slot("1", tomorrow18);
  Booking("1", 1, "77");
  Slot("5", tomorrow18);
  Booking("5", 1, "77");
  Slot("2", tomorrow18, 1);
  Booking("2", 1, "78");
  Slot("3", now + kHour);  // inside the cancellation deadline
  Booking("3", 1, "79");
  Slot("4", tomorrow18);
  const struct {
    const char* what;
    std::string path, query;
    std::string expected;
  } cases[] = {
      {"the open-reservation limit", "/Var", Key(id, "4"), "K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 varauksia voi olla vain 2 kpl!"},
      {"a full slot", "/Var", Key(third, "2"), kMsgSlotClosed},
      {"someone else's reservation", "/PoisVar", Cancel(id, "2"), kMsgNotFound},
      {"past the deadline", "/PoisVar", Cancel(third, "3"), kMsgTooLate},
  };
  for (const auto& c : cases) EXPECT_EQ(Get(c.path, c.query).body, ErrorPageWith(c.expected)) << c.what;
  EXPECT_TRUE(Outbox().empty());
}

// Each write of a booking and of a cancellation fails in turn -- the
// outbox row's own insert too -- until the change goes through: a change
// that failed left neither its rows nor a mail.
TEST_F(SlotMail, AFailedWriteLeavesNoMail) {
  MailOn();
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}, {"Luottoraja", "-100"}, {"PoistaEnnenPv", "2"}});
  const std::string id = MailUser("u1", "77");
  Customer("77", "-10.0");
  Slot("12", tomorrow18);
  test::WriteFaults faults;
  site().SetOpener(faults.Opener());
  for (const bool booking : {true, false}) {
    SCOPED_TRACE(booking ? "booking" : "cancellation");
    const size_t reservations = booking ? 0 : 1;
    int failed = 0;
    for (int n = 1;; ++n) {
      ASSERT_LT(n, 20) << "the change never went through";
      faults.FailNth(n);
      const long long before = faults.writes();
      const int status = (booking ? Get("/Var", Key(id, "12")) : Get("/PoisVar", Cancel(id, "12"))).status;
      if (faults.writes() - before < n) {  // no write failed: the change went through
        EXPECT_EQ(status, 302);
        break;
      }
      ++failed;
      EXPECT_EQ(status, 500) << "write " << n;
      EXPECT_EQ(Reservations().size(), reservations) << "write " << n;
      EXPECT_DOUBLE_EQ(Billed("77"), booking ? -10.0 : -15.0) << "write " << n;
      EXPECT_EQ(Outbox().size(), booking ? 0u : 1u) << "write " << n;
    }
    faults.Heal();
    EXPECT_GE(failed, 4);  // the row, the balance, the session and the mail
    EXPECT_EQ(Outbox().size(), booking ? 1u : 2u);
  }
}

TEST_F(SlotMail, WithMailOffNothingIsQueuedAndTheResetPathsAreUnknown) {
  Params();
  site().WriteTemplate("Fin", "index.html", "INDEX <#LANG>");
  const std::string id = MailUser("u1", "77");
  Slot("12", tomorrow18);
  EXPECT_EQ(Get("/Var", Key(id, "12")).status, 302);
  EXPECT_EQ(Get("/PoisVar", Cancel(id, "12")).status, 302);
  EXPECT_TRUE(Outbox().empty());
  // The reset paths answer byte for byte as a path of no action does.
  for (const char* query : {"", "Lang=Fin&Tunnus=u1", "Lang=Fin&T=00&UKoodi=abcd&UKoodi2=abcd"}) {
    const std::string unknown = Get("/EiTallaista", query).raw;
    EXPECT_EQ(Get("/Unohtui", query).raw, unknown) << query;
    EXPECT_EQ(Get("/palauta", query).raw, unknown) << query;
  }
  EXPECT_EQ(test::CountRows(site(), "WEBPALAUTUS", "Tiiviste"), 0);
  MailOn();
  EXPECT_NE(Get("/Unohtui", "Lang=Fin").raw, Get("/EiTallaista", "Lang=Fin").raw);
}

}  // namespace
}  // namespace wo::booking_test
