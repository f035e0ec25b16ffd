// Making a reservation: the confirmation page, the commit with its checks in
// order, the row it writes and the balances it charges, on a real SQLite
// site served in this process.
#include <gtest/gtest.h>

#include "frame/html.h"
#include "unit/booking_fixture.h"
#include "unit/module_harness.h"

namespace wo::booking_test {
namespace {

class Reserve : public BookingSite {
 protected:
  const DateTime tomorrow18 = EncodeDate(2030, 6, 11) + EncodeTime(18, 0, 0);
  // The hidden fields of the confirmation page for slot 12 of season 2030.
  static std::string Hidden(const std::string& id) {
    return "<input name=\"ID\" type=\"hidden\" value=\"" + id + "\">\r"
           "<input name=\"Lang\" type=\"hidden\" value=\"Fin\">\r"
           "<input name=\"Kau\" type=\"hidden\" value=\"2030\">\r"
           "<input name=\"Vuo\" type=\"hidden\" value=\"12\">\r"
           "<input name=\"Seq\" type=\"hidden\" value=\"1\">\r";
  }
};

TEST_F(Reserve, ConfirmationDescribesSlotAndCarriesKey) {
  Params();
  const std::string id = User("u1", "   77");
  Slot("12", tomorrow18);
  // Vuo "12" addresses VuoroNo "   12"; the hidden field carries it trimmed.
  CgiResult r = Get("/Varaa", Key(id, "12"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "Sali 1 : 11.06.2030 18:00 - 19:00 Sulkis|" + Hidden(id));

  // Not found: error 5, nothing else is shown.
  EXPECT_EQ(Get("/Varaa", Key(id, "13")).body, ErrorPageWith(kMsgNotFound));
}

TEST_F(Reserve, ConfirmationRefreshesSessionAndHandlesMissingOrStaleSession) {
  Params();
  const std::string id = User("u1", "77", "", {{"Aika", ToStoredDateTime(now - 300 * kSecond)}});
  const std::string stale = User("u2", "78", "", {{"Aika", ToStoredDateTime(now - 601 * kSecond)}});
  Slot("12", tomorrow18);

  Get("/Varaa", Key(id, "12"));
  EXPECT_EQ(SecondsApart(UserRow("u1").aika, now), 0);

  CgiResult none = Get("/Varaa", Key("0", "12"));
  EXPECT_EQ(none.status, 302);
  EXPECT_EQ(none.Header("Location"), "/cgi-bin/WebOrvane.exe/index?Lang=Fin");
  EXPECT_EQ(Get("/Varaa", Key("nobody", "12")).Header("Location"), "/cgi-bin/WebOrvane.exe/index?Lang=Fin");

  CgiResult timedOut = Get("/Varaa", Key(stale, "12"));
  EXPECT_EQ(timedOut.Header("Location"), "/cgi-bin/WebOrvane.exe/Login?Lang=Fin");
  EXPECT_EQ(UserRow("u2").id, "0");

  EXPECT_EQ(Get("/Varaa", "ID=" + id + "&Lang=Fin&Kau=2030").body, ErrorPageWith(kMsgGeneric));
}

TEST_F(Reserve, HorizonAndStartedSlotAtConfirmationAndCommit) {
  Params({{"MaxVarausPv", "30"}});
  const std::string id = User("u1", "77");
  Slot("1", now + 30);                   // exactly at the horizon
  Slot("2", now + 30 - kMinute);         // a minute inside it
  Slot("3", now);                        // starts this instant
  Slot("4", now - kMinute);              // started a minute ago
  const std::string msg6 = "Varauksia voi tehd\xe4 vain 30 p\xe4iv\xe4\xe4 eteenp\xe4in!";

  EXPECT_EQ(Get("/Varaa", Key(id, "1")).body, ErrorPageWith(msg6));
  EXPECT_EQ(Get("/Varaa", Key(id, "2")).body.substr(0, 9), "Sali 1 : ");
  EXPECT_EQ(Get("/Varaa", Key(id, "3")).body, ErrorPageWith(kMsgSlotClosed));
  EXPECT_EQ(Get("/Varaa", Key(id, "4")).body, ErrorPageWith(kMsgSlotClosed));

  // The commit refuses the same way and writes nothing; a refusal for the
  // horizon does not refresh the session.
  const std::string idle = User("u2", "78", "", {{"Aika", ToStoredDateTime(now - 60 * kSecond)}});
  EXPECT_EQ(Get("/Var", Key(idle, "1")).body, ErrorPageWith(msg6));
  EXPECT_EQ(SecondsApart(UserRow("u2").aika, now), -60);
  EXPECT_EQ(Get("/Var", Key(id, "3")).body, ErrorPageWith(kMsgSlotClosed));
  EXPECT_EQ(Get("/Var", Key(id, "4")).body, ErrorPageWith(kMsgSlotClosed));
  EXPECT_EQ(Get("/Var", Key(id, "9")).body, ErrorPageWith(kMsgNotFound));
  EXPECT_TRUE(Reservations().empty());

  CgiResult ok = Get("/Var", Key(id, "2"));
  EXPECT_EQ(ok.Header("Location"), "/cgi-bin/WebOrvane.exe/VarOk?ID=" + id + "&Lang=Fin");
  EXPECT_EQ(Jnos("2"), std::vector<int64_t>{1});
}

TEST_F(Reserve, CommitWritesEveryFieldOfTheRow) {
  Params();
  const std::string id = User("u1", "   77", "KORTTI1", {{"Aika", ToStoredDateTime(now - 60 * kSecond)}});
  Slot("12", tomorrow18);

  CgiResult r = Get("/Var", Key(id, "12"));
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.Header("Location"), "/cgi-bin/WebOrvane.exe/VarOk?ID=" + id + "&Lang=Fin");

  std::vector<Reservation> rows = Reservations();
  ASSERT_EQ(rows.size(), 1u);
  const Reservation& v = rows[0];
  EXPECT_EQ(v.kausi, "2030");
  EXPECT_EQ(v.vuoroNo, "   12");
  EXPECT_EQ(v.seq, "    1");
  EXPECT_EQ(v.jno, 1);
  EXPECT_EQ(v.asNo, "   77");
  EXPECT_EQ(v.asNimi, "Virtanen Ville");  // no Asiakas row: the web user's names
  EXPECT_EQ(v.kortti, "KORTTI1");
  EXPECT_EQ(v.puh, "040123");
  EXPECT_EQ(v.huom, "Web");
  EXPECT_EQ(v.status, 0);
  EXPECT_TRUE(v.kaytettyNull);
  EXPECT_TRUE(v.koTyyppiNull);
  EXPECT_EQ(SecondsApart(v.varausaika, now), 0);
  EXPECT_EQ(SecondsApart(v.aikaLeima, now), 0);
  EXPECT_EQ(SecondsApart(UserRow("u1").aika, now), 0);  // refreshed

  EXPECT_EQ(Get("/VarOk", "ID=" + id + "&Lang=Fin").body, "VAROK " + id);
  EXPECT_EQ(Get("/VarOk", "").body, ErrorPageWith(kMsgGeneric));
}

TEST_F(Reserve, CustomerRowGivesNameAndPhoneAndCodeGoesToHuom) {
  Params();
  const std::string id = User("u1", "77");
  Customer("77", "0", "Asiakas Oy", "09777");
  Slot("12", tomorrow18);
  Insert("WEBKOODI", {{"ResNo", "R1"}, {"WebKoodi", "ABCDE"}, {"WebSelite", "Mailat"}});
  Get("/Var", Key(id, "12", "&Koodi=ABCDE"));
  std::vector<Reservation> rows = Reservations();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].asNimi, "Asiakas Oy");
  EXPECT_EQ(rows[0].puh, "09777");
  EXPECT_EQ(rows[0].huom, "ABCD");  // cut to the field's 4 characters
}

// A web code is one of the resource's WEBKOODI codes, "Web" or nothing;
// any other text is refused (error page 0) before anything is written.
TEST_F(Reserve, OnlyTheResourcesWebCodesAreAccepted) {
  Params();
  Slot("12", tomorrow18);
  Insert("WEBKOODI", {{"ResNo", "R1"}, {"WebKoodi", "MAIL"}, {"WebSelite", "Mailat"}});
  Insert("WEBKOODI", {{"ResNo", "R2"}, {"WebKoodi", "PALLO"}, {"WebSelite", "Pallo"}});
  struct Case {
    const char* koodi;
    const char* huom;  // nullptr: refused
  };
  int n = 0;
  for (const Case& c : std::vector<Case>{{"", "Web"}, {"Web", "Web"}, {"MAIL", "MAIL"}, {"PALLO", nullptr},
                                         {"mail", nullptr}, {"Kahvi", nullptr}, {"WEB", nullptr}}) {
    const std::string asNo = std::to_string(70 + n);
    const std::string name = std::to_string(n++) + "user";
    const std::string id = User(name, asNo);
    const WebUser before = UserRow(name);
    CgiResult r = Get("/Var", Key(id, "12", std::string("&Koodi=") + c.koodi));
    std::string huom;
    for (const Reservation& row : Reservations())
      if (row.asNo == asNo) huom = row.huom;
    if (c.huom) {
      EXPECT_EQ(r.status, 302) << c.koodi;
      EXPECT_EQ(huom, c.huom) << c.koodi;
    } else {
      EXPECT_EQ(r.body, ErrorPageWith(kMsgGeneric)) << c.koodi;
      EXPECT_EQ(huom, "") << c.koodi;
      EXPECT_EQ(UserRow(name).aika, before.aika) << c.koodi;
    }
  }
}

TEST_F(Reserve, JnoFollowsTheHighestRowOfTheSlot) {
  Params();
  const std::string id = User("u1", "77");
  Slot("12", tomorrow18);
  Booking("12", 1, "10");
  Booking("12", 3, "11");
  Get("/Var", Key(id, "12"));
  EXPECT_EQ(Jnos("12"), (std::vector<int64_t>{1, 3, 4}));
}

TEST_F(Reserve, DuplicatesByCustomerOrCard) {
  Params();
  const std::string a = User("ua", "70");
  const std::string b = User("ub", "71", "CARD");
  const std::string c = User("uc", "72");  // empty card: compared by AsNo only
  Slot("12", tomorrow18);
  Booking("12", 1, "69", "CARD");
  Booking("12", 2, "70");
  Booking("12", 3, "68", "");

  // Reloading the commit of one's own slot.
  EXPECT_EQ(Get("/Var", Key(a, "12")).body, ErrorPageWith(kMsgDuplicate));
  // Another user with the card of a holder.
  EXPECT_EQ(Get("/Var", Key(b, "12")).body, ErrorPageWith(kMsgDuplicate));
  EXPECT_EQ(Jnos("12"), (std::vector<int64_t>{1, 2, 3}));
  // An empty card does not match the holder without a card.
  EXPECT_EQ(Get("/Var", Key(c, "12")).status, 302);
  EXPECT_EQ(Jnos("12"), (std::vector<int64_t>{1, 2, 3, 4}));
  EXPECT_EQ(Get("/Var", Key(c, "12")).body, ErrorPageWith(kMsgDuplicate));
}

TEST_F(Reserve, OpenReservationLimit) {
  Params({{"MaxAsVaraus", "4"}, {"MaxVanhatPv", "30"}});
  const std::string id = User("u1", "77");
  for (int i = 1; i <= 3; ++i) {
    Slot(std::to_string(i), now + i);
    Booking(std::to_string(i), 1, "77");
  }
  // A past reservation more than MaxVanhatPv days back counts not at all; a
  // reservation whose slot is gone does not count either; nor one of Status 1.
  Slot("20", now - 31);
  Booking("20", 1, "77");
  Booking("21", 1, "77");
  Slot("22", now + 5);
  Booking("22", 1, "77", "", 1);
  Slot("12", tomorrow18);
  Slot("13", tomorrow18 + 1);

  EXPECT_EQ(Get("/Var", Key(id, "12")).status, 302);  // the fourth
  EXPECT_EQ(Get("/Var", Key(id, "13")).body,
            ErrorPageWith("K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 varauksia voi olla vain 4 kpl!"));
  EXPECT_TRUE(Jnos("13").empty());
}

TEST_F(Reserve, PastUnusedReservationLimit) {
  const std::string msg7 = "K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 vanhoja varauksia voi olla vain 3 kpl!";
  Params({{"MaxAsVaraus", "10"}, {"MaxVanhatVaraukset", "3"}, {"MaxVanhatPv", "30"}});
  const std::string id = User("u1", "77");
  for (int i = 1; i <= 3; ++i) {
    Slot(std::to_string(i), now - i);  // inside the 30-day window, started
    Booking(std::to_string(i), 1, "77");
  }
  Slot("12", tomorrow18);
  EXPECT_EQ(Get("/Var", Key(id, "12")).body, ErrorPageWith(msg7));
  EXPECT_TRUE(Jnos("12").empty());
}

TEST_F(Reserve, BothLimitsGiveThePastMessage) {
  Params({{"MaxAsVaraus", "3"}, {"MaxVanhatVaraukset", "3"}, {"MaxVanhatPv", "30"}});
  const std::string id = User("u1", "77");
  for (int i = 1; i <= 3; ++i) {
    Slot(std::to_string(i), now - i);
    Booking(std::to_string(i), 1, "77");
  }
  Slot("12", tomorrow18);
  EXPECT_EQ(Get("/Var", Key(id, "12")).body,
            ErrorPageWith("K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 vanhoja varauksia voi olla vain 3 kpl!"));
}

TEST_F(Reserve, ZeroDayWindowCountsOnlyFutureReservations) {
  // With MaxVanhatPv 0 a started reservation is neither open nor past.
  Params({{"MaxAsVaraus", "2"}, {"MaxVanhatVaraukset", "1"}, {"MaxVanhatPv", "0"}});
  const std::string id = User("u1", "77");
  Slot("1", now - kHour);
  Booking("1", 1, "77");
  Slot("2", now + 1);
  Booking("2", 1, "77");
  Slot("12", tomorrow18);
  Slot("13", tomorrow18 + 1);
  EXPECT_EQ(Get("/Var", Key(id, "12")).status, 302);
  EXPECT_EQ(Get("/Var", Key(id, "13")).body,
            ErrorPageWith("K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 varauksia voi olla vain 2 kpl!"));
}

TEST_F(Reserve, CreditLimitAgainstBilledAmount) {
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}, {"Luottoraja", "-20.0"}});
  const std::string a = User("ua", "70");
  const std::string b = User("ub", "71");
  Customer("70", "-16.0");
  Customer("71", "-15.0");
  Slot("12", tomorrow18);

  EXPECT_EQ(Get("/Var", Key(a, "12")).body, ErrorPageWith(kMsgCredit));
  EXPECT_TRUE(Reservations().empty());
  EXPECT_DOUBLE_EQ(Billed("70"), -16.0);

  EXPECT_EQ(Get("/Var", Key(b, "12")).status, 302);
  EXPECT_EQ(Jnos("12"), std::vector<int64_t>{1});
  EXPECT_DOUBLE_EQ(Billed("71"), -20.0);
  EXPECT_DOUBLE_EQ(UserRow("ub").tmpSaldo, 0.0);  // the customer row pays, not the web balance
}

TEST_F(Reserve, CreditLimitHoldsWithoutTheFeeButNothingIsCharged) {
  Params({{"VarMaksuKaytossa", "0"}, {"Varausmaksu", "5.0"}, {"Luottoraja", "-20.0"}});
  const std::string a = User("ua", "70");
  const std::string b = User("ub", "71");
  Customer("70", "-16.0");
  Customer("71", "-15.0");
  Slot("12", tomorrow18);
  EXPECT_EQ(Get("/Var", Key(a, "12")).body, ErrorPageWith(kMsgCredit));
  EXPECT_EQ(Get("/Var", Key(b, "12")).status, 302);
  EXPECT_DOUBLE_EQ(Billed("71"), -15.0);
}

TEST_F(Reserve, WebBalanceDropsWithoutLimit) {
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}, {"Luottoraja", "-20.0"}});
  const std::string id = User("u1", "77", "", {{"TmpSaldo", "3.0"}});
  for (int i = 1; i <= 3; ++i) Slot(std::to_string(i), tomorrow18 + i);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(Get("/Var", Key(id, std::to_string(i))).status, 302);
  EXPECT_DOUBLE_EQ(UserRow("u1").tmpSaldo, 3.0 - 15.0);

  // A refusal charges nothing.
  EXPECT_EQ(Get("/Var", Key(id, "1")).body, ErrorPageWith(kMsgDuplicate));
  EXPECT_DOUBLE_EQ(UserRow("u1").tmpSaldo, 3.0 - 15.0);
}

TEST_F(Reserve, FullSlotIsRefusedWithoutFee) {
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}});
  const std::string id = User("u1", "77", "", {{"TmpSaldo", "10.0"}, {"Aika", ToStoredDateTime(now - 60 * kSecond)}});
  Slot("12", tomorrow18, 2);
  Booking("12", 1, "10");
  Booking("12", 2, "11");
  EXPECT_EQ(Get("/Var", Key(id, "12")).body, ErrorPageWith(kMsgSlotClosed));
  EXPECT_EQ(Jnos("12"), (std::vector<int64_t>{1, 2}));
  const WebUser u = UserRow("u1");
  EXPECT_DOUBLE_EQ(u.tmpSaldo, 10.0);
  EXPECT_EQ(SecondsApart(u.aika, now), 0);  // the checks ran: the session is refreshed
}

TEST_F(Reserve, CommitFieldCountsAndSessionOutcomes) {
  Params();
  const std::string id = User("u1", "77");
  const std::string stale = User("u2", "78", "", {{"Aika", ToStoredDateTime(now - 601 * kSecond)}});
  Slot("12", tomorrow18);
  EXPECT_EQ(Get("/Var", "ID=" + id + "&Lang=Fin&Kau=2030").body, ErrorPageWith(kMsgGeneric));
  EXPECT_EQ(Get("/Var", Key(id, "12", "&Koodi=Web&X=1")).body, ErrorPageWith(kMsgGeneric));
  EXPECT_EQ(Get("/Var", Key("0", "12")).Header("Location"), "/cgi-bin/WebOrvane.exe/index?Lang=Fin");
  EXPECT_EQ(Get("/Var", Key(stale, "12")).Header("Location"), "/cgi-bin/WebOrvane.exe/Login?Lang=Fin");
  EXPECT_EQ(UserRow("u2").id, "0");
  EXPECT_TRUE(Reservations().empty());
  // Six fields, with the code, are accepted.
  EXPECT_EQ(Get("/Var", Key(id, "12", "&Koodi=Web")).status, 302);
}

TEST_F(Reserve, RequestValuesAreEscapedInHiddenFieldsAndRedirects) {
  Params();
  // The first 15 characters find the session; the rest travels in the link.
  const std::string id = User("u1", "77");
  const std::string hostileId = id + "\"><b>";
  Slot("12", tomorrow18, 5, "K<&");
  const std::string q = "ID=" + UrlEncode(hostileId) + "&Lang=Fin%22x&Kau=K%3C%26&Vuo=12&Seq=1";
  CgiResult page = Get("/Varaa", q);
  EXPECT_EQ(page.body, "Sali 1 : 11.06.2030 18:00 - 19:00 Sulkis|"
                       "<input name=\"ID\" type=\"hidden\" value=\"" + id + "&quot;&gt;&lt;b&gt;\">\r"
                       "<input name=\"Lang\" type=\"hidden\" value=\"Fin&quot;x\">\r"
                       "<input name=\"Kau\" type=\"hidden\" value=\"K&lt;&amp;\">\r"
                       "<input name=\"Vuo\" type=\"hidden\" value=\"12\">\r"
                       "<input name=\"Seq\" type=\"hidden\" value=\"1\">\r");
  CgiResult done = Get("/Var", q);
  EXPECT_EQ(done.Header("Location"),
            "/cgi-bin/WebOrvane.exe/VarOk?ID=" + id + "%22%3E%3Cb%3E&Lang=Fin%22x");
  EXPECT_EQ(Reservations().size(), 1u);
}

TEST_F(Reserve, FailedWriteRollsBackTheFeeAndTheRefresh) {
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}, {"Luottoraja", "-100"}});
  const DateTime minuteAgo = now - 60 * kSecond;
  const std::string id = User("u1", "77", "", {{"Aika", ToStoredDateTime(minuteAgo)}});
  Customer("77", "-10.0");
  Slot("12", tomorrow18);
  // The customer's fee is posted (the first write) before the row; the row's
  // insert (the second) then fails.
  test::WriteFaults faults;
  site().SetOpener(faults.Opener());
  faults.FailNth(2);
  EXPECT_EQ(Get("/Var", Key(id, "12")).status, 500);
  EXPECT_DOUBLE_EQ(Billed("77"), -10.0);
  EXPECT_EQ(SecondsApart(UserRow("u1").aika, now), -60);
  EXPECT_TRUE(Reservations().empty());
}

}  // namespace
}  // namespace wo::booking_test
