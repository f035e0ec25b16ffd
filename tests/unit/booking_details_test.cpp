// Own reservations with their details and the user's limits, and the slot's
// details on the confirmation and booked pages, on a real SQLite site
// served in this process with the details switched on.
#include <gtest/gtest.h>

#include "unit/booking_fixture.h"

namespace wo::booking_test {
namespace {

class OwnDetails : public BookingSite {
 protected:
  void SetUp() override { site().WriteIni("[Features]\nOwnListDetails=1\n"); }
  static std::string HeadRow(const std::string& label, const std::string& value) {
    return "<tr>\r<th>" + label + "</th><th colspan=3>" + value + "</th>\r</tr>\r";
  }
  static std::string Row(const std::string& when, const std::string& action) {
    return "<tr>\r<td>" + when + "</td>\r<td>Sali 1</td>\r<td>Sulkis</td>\r<td>" + action + "</td>\r</tr>\r";
  }
};

TEST_F(OwnDetails, StartOrderDeadlinesAndLimits) {
  Params({{"Luottoraja", "-50"}, {"MaxVarausPv", "30"}, {"PoistaEnnenPv", "2"}});
  const std::string id = User("u1", "77");
  Customer("77", "12.5");
  Slot("1", now + 3);           // Thursday
  Slot("2", now + 1);           // Tuesday
  Slot("3", now + kHour);       // within the 2 hours
  Slot("4", now - 1);           // Sunday, begun: unused and past
  for (const char* v : {"1", "2", "3", "4"}) Booking(v, 1, "77");

  const std::string cancel = "<A HREF=\"/cgi-bin/WebOrvane.exe/Poista?ID=" + id + "&Lang=Fin&Kau=2030&Vuo=";
  const std::string until = "<br><span class=\"deadline\">Peruttavissa viimeist\xe4\xe4n ";
  const std::string want =
      "<tr>\r<th width=\"28%\">P\xe4iv\xe4ys</th><th colspan=3>10.06.2030 12:00</th>\r</tr>\r" +
      HeadRow("K\xe4ytt\xe4j\xe4", "Virtanen Ville") + HeadRow("Saldo", "     12.50 EUR") +
      HeadRow("Avoimet varaukset", "4 / 4") + HeadRow("K\xe4ytt\xe4m\xe4tt\xf6m\xe4t menneet varaukset", "1 / 3") +
      HeadRow("Varattavissa asti", "10.07.2030 12:00") + HeadRow("Luottoraja", "    -50.00 EUR") +
      "<tr class=\"otsikko\">\r<th>Vuoro</th><th>Resurssi</th><th>Laji</th><th>Toiminto</th>\r</tr>\r" +
      Row("Sunnuntai 09.06.2030 12:00 - 13:00", "Perumaton") +
      Row("Maanantai 10.06.2030 13:00 - 14:00", "Ei en\xe4\xe4 peruttavissa") +
      Row("Tiistai 11.06.2030 12:00 - 13:00",
          cancel + "2&Seq=1&JNo=1\">Poista varaus</A>" + until + "11.06.2030 10:00</span>") +
      Row("Torstai 13.06.2030 12:00 - 13:00",
          cancel + "1&Seq=1&JNo=1\">Poista varaus</A>" + until + "13.06.2030 10:00</span>");
  EXPECT_EQ(Get("/Omat", "ID=" + id + "&Lang=Fin").body, want);
}

TEST_F(OwnDetails, LimitsWithoutReservationsOrCustomerRow) {
  Params({{"MaxAsVaraus", "6"}, {"MaxVanhatVaraukset", "2"}, {"MaxVarausPv", "7"}});
  const std::string id = User("u1", "77");
  // No customer row: no balance without the fee, and no credit limit.
  EXPECT_EQ(Get("/Omat", "ID=" + id + "&Lang=Fin").body,
            "<tr>\r<th width=\"28%\">P\xe4iv\xe4ys</th><th colspan=3>10.06.2030 12:00</th>\r</tr>\r" +
                HeadRow("K\xe4ytt\xe4j\xe4", "Virtanen Ville") + HeadRow("Avoimet varaukset", "0 / 6") +
                HeadRow("K\xe4ytt\xe4m\xe4tt\xf6m\xe4t menneet varaukset", "0 / 2") +
                HeadRow("Varattavissa asti", "17.06.2030 12:00"));
}

TEST_F(OwnDetails, ConfirmationAndBookedPagesShowTheSlotsDetails) {
  Params({{"VarMaksuKaytossa", "1"}, {"Varausmaksu", "2.5"}, {"NaytaOhjaaja", "1"}, {"PoistaEnnenPv", "2"}});
  site().WriteTemplate("Fin", "varaa.html", "<#VARAUS>|<#VARAUSTIEDOT>");
  site().WriteTemplate("Fin", "varok.html", "<#VARAUS>|<#VARAUSTIEDOT>");
  const std::string id = User("u1", "77", "", {{"TmpSaldo", "10"}});
  Slot("1", now + 3, 5, "2030", "1", "OH1");
  Slot("2", now + kHour);
  auto details = [](const std::string& date, const std::string& instructor, const std::string& balanceLabel,
                    const std::string& balance, const std::string& until) {
    std::string s = "<tr><th>P\xe4iv\xe4ys</th><td>" + date + "</td></tr>\r";
    if (!instructor.empty()) s += "<tr><th>Ohjaaja</th><td>" + instructor + "</td></tr>\r";
    return s + "<tr><th>Ennakkovaraus maksaa</th><td>2.50 EUR</td></tr>\r<tr><th>" + balanceLabel + "</th><td>" +
           balance + " EUR</td></tr>\r<tr><th>Peruttavissa viimeist\xe4\xe4n</th><td>" + until + "</td></tr>\r";
  };
  EXPECT_EQ(Get("/Varaa", Key(id, "1")).body,
            "Sali 1 : 13.06.2030 12:00 - 13:00 Sulkis|" +
                details("Torstai 13.06.2030", "Ohj", "Saldo varauksen j\xe4lkeen", "7.50", "13.06.2030 10:00"));
  EXPECT_EQ(Get("/Varaa", Key(id, "2")).body,
            "Sali 1 : 10.06.2030 13:00 - 14:00 Sulkis|" +
                details("Maanantai 10.06.2030", "", "Saldo varauksen j\xe4lkeen", "7.50", "Ei en\xe4\xe4 peruttavissa"));

  ASSERT_EQ(Get("/Var", Key(id, "1")).status, 302);
  EXPECT_EQ(Get("/VarOk", "ID=" + id + "&Lang=Fin").body,
            "Sali 1 : 13.06.2030 12:00 - 13:00 Sulkis|" +
                details("Torstai 13.06.2030", "Ohj", "Saldo", "7.50", "13.06.2030 10:00"));
  // Without a session the booked page names nothing.
  EXPECT_EQ(Get("/VarOk", "ID=0&Lang=Fin").body, "|");
}

}  // namespace
}  // namespace wo::booking_test
