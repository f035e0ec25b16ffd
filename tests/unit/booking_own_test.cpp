// The own-reservations list with the balance, the cancellation confirmation
// and the cancellation with its refund and deadline, on a real SQLite site
// served in this process.
#include <gtest/gtest.h>

#include "unit/booking_fixture.h"
#include "unit/module_harness.h"

namespace wo::booking_test {
namespace {

class OwnList : public BookingSite {
 protected:
  std::string List(const std::string& id) { return Get("/Omat", "ID=" + id + "&Lang=Fin").body; }

  static std::string Head(const std::string& cols, const std::string& name) {
    return "<tr>\r<th width=\"28%\">P\xe4iv\xe4ys</th><th colspan=" + cols + ">10.06.2030 12:00</th>\r</tr>\r"
           "<tr>\r<th>K\xe4ytt\xe4j\xe4</th><th colspan=" + cols + ">" + name + "</th>\r</tr>\r";
  }
  static std::string BalanceRow(const std::string& cols, const std::string& amount) {
    return "<tr>\r<th>Saldo</th><th colspan=" + cols + ">" + amount + " EUR</th>\r</tr>\r";
  }
  static std::string Row4(const std::string& when, const std::string& action) {
    return "<tr>\r<td>" + when + "</td>\r<td>Sali 1</td>\r<td>Sulkis</td>\r" + action + "</tr>\r";
  }
  static std::string CancelCell(const std::string& id, const std::string& vuo, int jno) {
    return "<td><A HREF=\"/cgi-bin/WebOrvane.exe/Poista?ID=" + id + "&Lang=Fin&Kau=2030&Vuo=" + vuo +
           "&Seq=1&JNo=" + std::to_string(jno) + "\">Poista varaus</A></td>\r";
  }
  static int Count(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
  }
};

TEST_F(OwnList, WithoutReservationsOnlyDateUserAndBalance) {
  Params({{"VarMaksuKaytossa", "1"}});
  const std::string a = User("ua", "70", "", {{"TmpSaldo", "7.5"}});
  const std::string b = User("ub", "71", "", {{"TmpSaldo", "7.5"}});
  Customer("71", "-3.25");
  EXPECT_EQ(List(a), Head("3", "Virtanen Ville") + BalanceRow("3", "      7.50"));
  // The customer row's amount wins over the web balance.
  EXPECT_EQ(List(b), Head("3", "Virtanen Ville") + BalanceRow("3", "     -3.25"));
}

TEST_F(OwnList, NoSessionNoList) {
  Params();
  User("u1", "77");
  EXPECT_EQ(List("0"), "");
  EXPECT_EQ(List("nobodyatall12345"), "");
}

TEST_F(OwnList, ActionCellAroundTheDeadlineAndWhatIsLeftOut) {
  Params({{"PoistaEnnenPv", "2"}, {"MaxVanhatPv", "30"}, {"VarMaksuKaytossa", "0"}});
  const std::string id = User("u1", "77");
  Slot("1", now + 2 * kHour + kSecond);  // later than the deadline: the link
  Slot("2", now + 2 * kHour);            // exactly at the deadline
  Slot("3", now);                        // starts now
  Slot("4", now - kSecond);              // started a second ago
  Slot("6", now - 31);                   // older than MaxVanhatPv days
  Slot("7", now + 3);
  for (const char* v : {"1", "2", "3", "4", "5", "6"}) Booking(v, 1, "77");
  Booking("7", 1, "77", "", 1);  // Status 1: not an open reservation
  Booking("7", 2, "78");         // someone else's

  const std::string out = List(id);
  const std::string prefix =
      Head("3", "Virtanen Ville") +
      "<tr class=\"otsikko\">\r<th>Vuoro</th><th>Resurssi</th><th>Laji</th><th>Toiminto</th>\r</tr>\r";
  ASSERT_EQ(out.substr(0, prefix.size()), prefix);
  // The rows come in the store's order for equal keys: each once, nothing else.
  const std::vector<std::string> rows = {
      Row4("10.06.2030 14:00 - 15:00", CancelCell(id, "1", 1)),
      Row4("10.06.2030 14:00 - 15:00", "<td>&nbsp;</td>\r"),
      Row4("10.06.2030 12:00 - 13:00", "<td>&nbsp;</td>\r"),
      Row4("10.06.2030 11:59 - 12:59", "<td>Perumaton</td>\r")};
  size_t total = prefix.size();
  for (const std::string& r : rows) {
    EXPECT_EQ(Count(out, r), 1) << r;
    total += r.size();
  }
  EXPECT_EQ(out.size(), total);
}

TEST_F(OwnList, InstructorColumnWidensTheTable) {
  Params({{"NaytaOhjaaja", "1"}, {"PoistaEnnenPv", "0"}});
  const std::string id = User("u1", "77");
  Slot("1", now + 1, 5, "2030", "1", "OH1");
  Booking("1", 3, "77");
  EXPECT_EQ(List(id), Head("4", "Virtanen Ville") +
                          "<tr class=\"otsikko\">\r<th>Vuoro</th><th>Resurssi</th><th>Laji</th><th>Ohjaaja</th>"
                          "<th>Toiminto</th>\r</tr>\r"
                          "<tr>\r<td>11.06.2030 12:00 - 13:00</td>\r<td>Sali 1</td>\r<td>Sulkis</td>\r<td>Ohj</td>\r" +
                          CancelCell(id, "1", 3) + "</tr>\r");
}

class Cancel : public BookingSite {
 protected:
  static std::string Q(const std::string& id, const std::string& vuo, const std::string& jno) {
    return Key(id, vuo, "&JNo=" + jno);
  }
};

TEST_F(Cancel, ConfirmationPage) {
  Params();
  const std::string id = User("u1", "77");
  Slot("7", EncodeDate(2030, 6, 12) + EncodeTime(9, 30, 0));
  const std::string hidden = "<input name=\"ID\" type=\"hidden\" value=\"" + id + "\">\r"
                             "<input name=\"Lang\" type=\"hidden\" value=\"Fin\">\r"
                             "<input name=\"Kau\" type=\"hidden\" value=\"2030\">\r"
                             "<input name=\"Vuo\" type=\"hidden\" value=\"7\">\r"
                             "<input name=\"Seq\" type=\"hidden\" value=\"1\">\r"
                             "<input name=\"JNo\" type=\"hidden\" value=\"2\">\r";
  EXPECT_EQ(Get("/Poista", Q(id, "7", "+2+")).body, "Sali 1 : 12.06.2030 09:30 - 10:30 Sulkis|" + hidden);
  // An unknown slot leaves the description empty.
  EXPECT_EQ(Get("/Poista", Q(id, "8", "2")).body.substr(0, 1), "|");
  EXPECT_EQ(Get("/Poista", "ID=" + id + "&Lang=Fin&Kau=2030&Vuo=7").body, ErrorPageWith(kMsgGeneric));
  EXPECT_EQ(Get("/Poista", Q("0", "7", "2")).Header("Location"), "/cgi-bin/WebOrvane.exe/index?Lang=Fin");
}

TEST_F(Cancel, RefundGoesToTheBalanceTheFeeCameFrom) {
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}, {"PoistaEnnenPv", "2"}});
  const std::string a = User("ua", "70", "", {{"TmpSaldo", "1.0"}});
  const std::string b = User("ub", "71", "", {{"TmpSaldo", "1.0"}});
  Customer("70", "-20.0");
  Slot("7", now + 1);  // Vuo "7" is stored as four spaces and "7"
  Booking("7", 1, "70");
  Booking("7", 2, "71");

  CgiResult r = Get("/PoisVar", Q(a, "7", "1"));
  EXPECT_EQ(r.Header("Location"), "/cgi-bin/WebOrvane.exe/PoisOk?ID=" + a + "&Lang=Fin");
  EXPECT_DOUBLE_EQ(Billed("70"), -15.0);
  EXPECT_DOUBLE_EQ(UserRow("ua").tmpSaldo, 1.0);

  EXPECT_EQ(Get("/PoisVar", Q(b, "7", "2")).status, 302);
  EXPECT_DOUBLE_EQ(UserRow("ub").tmpSaldo, 6.0);
  EXPECT_TRUE(Reservations().empty());

  EXPECT_EQ(Get("/PoisOk", "ID=" + a + "&Lang=Fin").body, "POISOK " + a);
  EXPECT_EQ(Get("/PoisOk", "").body, ErrorPageWith(kMsgGeneric));
}

TEST_F(Cancel, NoRefundWithoutTheFee) {
  Params({{"VarMaksuKaytossa", "0"}, {"Varausmaksu", "5.0"}});
  const std::string a = User("ua", "70", "", {{"TmpSaldo", "1.0"}});
  Customer("70", "-20.0");
  Slot("7", now + 1);
  Booking("7", 1, "70");
  EXPECT_EQ(Get("/PoisVar", Q(a, "7", "1")).status, 302);
  EXPECT_TRUE(Reservations().empty());
  EXPECT_DOUBLE_EQ(Billed("70"), -20.0);
  EXPECT_DOUBLE_EQ(UserRow("ua").tmpSaldo, 1.0);
}

TEST_F(Cancel, RefusalsDeleteAndRefundNothingButRefreshTheSession) {
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}, {"PoistaEnnenPv", "2"}});
  const DateTime minuteAgo = now - 60 * kSecond;
  const std::string a = User("ua", "70", "", {{"TmpSaldo", "1.0"}, {"Aika", ToStoredDateTime(minuteAgo)}});
  User("ub", "71");
  Customer("71", "0");
  Slot("1", now + 1);
  Slot("2", now + 2 * kHour);  // exactly at the deadline
  Slot("4", now + 1);
  Booking("1", 1, "71");     // someone else's
  Booking("2", 1, "70");     // too late to cancel
  Booking("3", 1, "70");     // its slot is gone
  Booking("4", 1, "70", "", 1);  // used (Status 1)
  const size_t before = Reservations().size();

  EXPECT_EQ(Get("/PoisVar", Q(a, "1", "1")).body, ErrorPageWith(kMsgNotFound));
  EXPECT_EQ(SecondsApart(UserRow("ua").aika, now), 0);
  EXPECT_EQ(Get("/PoisVar", Q(a, "1", "abc")).body, ErrorPageWith(kMsgNotFound));
  EXPECT_EQ(Get("/PoisVar", Q(a, "2", "1")).body, ErrorPageWith(kMsgTooLate));
  EXPECT_EQ(Get("/PoisVar", Q(a, "3", "1")).body, ErrorPageWith(kMsgNotFound));
  EXPECT_EQ(Get("/PoisVar", Q(a, "4", "1")).body, ErrorPageWith(kMsgNotFound));
  EXPECT_EQ(Reservations().size(), before);
  EXPECT_DOUBLE_EQ(UserRow("ua").tmpSaldo, 1.0);
  EXPECT_DOUBLE_EQ(Billed("71"), 0.0);

  // Field counts outside 4..6.
  EXPECT_EQ(Get("/PoisVar", "ID=" + a + "&Lang=Fin&Kau=2030").body, ErrorPageWith(kMsgGeneric));
  EXPECT_EQ(Get("/PoisVar", Q(a, "1", "1") + "&X=1").body, ErrorPageWith(kMsgGeneric));
  EXPECT_EQ(Get("/PoisVar", Q("0", "1", "1")).Header("Location"), "/cgi-bin/WebOrvane.exe/index?Lang=Fin");
  EXPECT_EQ(Reservations().size(), before);
}

TEST_F(Cancel, TimedOutSessionIsEndedAndNothingDeleted) {
  Params();
  const std::string a = User("ua", "70", "", {{"Aika", ToStoredDateTime(now - 601 * kSecond)}});
  Slot("1", now + 1);
  Booking("1", 1, "70");
  EXPECT_EQ(Get("/PoisVar", Q(a, "1", "1")).Header("Location"), "/cgi-bin/WebOrvane.exe/Login?Lang=Fin");
  EXPECT_EQ(UserRow("ua").id, "0");
  EXPECT_EQ(Reservations().size(), 1u);
}

TEST_F(Cancel, ReserveThenCancelRestoresBalanceAndPlace) {
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}, {"PoistaEnnenPv", "2"}});
  const std::string a = User("ua", "70", "", {{"TmpSaldo", "2.0"}});
  const std::string b = User("ub", "71");
  Slot("12", now + 1, 1);
  EXPECT_EQ(Get("/Var", Key(a, "12")).status, 302);
  EXPECT_DOUBLE_EQ(UserRow("ua").tmpSaldo, -3.0);
  EXPECT_EQ(Get("/Var", Key(b, "12")).body, ErrorPageWith(kMsgSlotClosed));

  EXPECT_EQ(Get("/PoisVar", Q(a, "12", "1")).status, 302);
  EXPECT_DOUBLE_EQ(UserRow("ua").tmpSaldo, 2.0);
  EXPECT_EQ(Get("/Var", Key(b, "12")).status, 302);
  EXPECT_EQ(Jnos("12"), std::vector<int64_t>{1});
}

TEST_F(Cancel, FailedRefundKeepsTheReservation) {
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5.0"}});
  const std::string a = User("ua", "70");
  Customer("70", "-20.0");
  Slot("7", now + 1);
  Booking("7", 1, "70");
  // The row is deleted (the first write), then the refund (the second) fails.
  test::WriteFaults faults;
  site().SetOpener(faults.Opener());
  faults.FailNth(2);
  EXPECT_EQ(Get("/PoisVar", Q(a, "7", "1")).status, 500);
  EXPECT_EQ(Reservations().size(), 1u);
  EXPECT_DOUBLE_EQ(Billed("70"), -20.0);
}

}  // namespace
}  // namespace wo::booking_test
