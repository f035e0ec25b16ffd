// The list forms: the rows of one resource's day, from the present moment
// for today, and the centre and resource lists as the VUOROLISTA tag of a
// real page gives them.
#include <string>

#include "calendar_fixture.h"

namespace wo::test::cal {
namespace {

class CalendarDayList : public ::testing::Test {
 protected:
  CalendarSite centre;
  // Monday 1 January 2024, 14:30.
  FixedNow now{At(2024, 1, 1, 14, 30)};

  std::string Rows(DateTime chosen, const std::string& session = kSession, int naytaOhjaaja = 0,
                   const std::string& lang = "FIN") {
    ModuleHere m(centre.site());
    m->settings.NaytaOhjaaja = naytaOhjaaja;
    m->page.SessionId = session;
    m->page.Lang = lang;
    m->page.Resurssi = "R1";
    m->page.ChosenDate = chosen;
    LoadActivityKinds(*m);
    std::string out = "x";
    RenderDaySlotRows(*m, "R1", "Halli", out);
    EXPECT_FALSE(m->tbl->TblFiVuoro.IsOpen());
    EXPECT_FALSE(m->tbl->TblVa.IsOpen());
    return out.substr(1);
  }
};

std::string Row(const std::string& when, const std::string& ale, const std::string& link,
                const std::string& instructor = "") {
  return "<tr>\r<td>" + when + "</td>\r<td>" + ale + "</td>\r<td>Halli</td>\r<td>Sali</td>\r" + instructor +
         "<td>" + link + "</td>\r";
}

TEST_F(CalendarDayList, TodayStartsAtThePresentTime) {
  centre.AddSlot({.at = "2024-01-01 10:00:00"});                  // 1: gone
  centre.AddSlot({.at = "2024-01-01 14:29:00"});                  // 2: gone
  centre.AddSlot({.at = "2024-01-01 14:30:00"});                  // 3: listed, not bookable
  centre.AddSlot({.at = "2024-01-01 15:00:00", .tyyppi = "A"});   // 4
  centre.AddSlot({.at = "2024-01-01 23:59:00", .tyyppi = "S"});   // 5
  centre.AddSlot({.at = "2024-01-02 00:00:00"});                  // 6: the next day
  centre.AddSlot({.at = "2024-01-01 16:00:00", .res = "R2"});     // another resource
  EXPECT_EQ(Rows(At(2024, 1, 1)), Row("01.01.2024 14:30 - 15:30", "&nbsp;", "&nbsp;") +
                                      Row("01.01.2024 15:00 - 16:00", "Ale", Link("4") + "Varaa</A>") +
                                      Row("01.01.2024 23:59 - 00:59", "&nbsp;", Link("5") + "Varaa</A>") + "</TR>");
}

TEST_F(CalendarDayList, FutureDayFromMidnightAndPastDayFromThePresentTimeOfDay) {
  centre.AddSlot({.at = "2023-12-31 10:00:00"});  // 1
  centre.AddSlot({.at = "2023-12-31 15:00:00"});  // 2
  centre.AddSlot({.at = "2024-01-02 00:00:00"});  // 3
  EXPECT_EQ(Rows(At(2024, 1, 2)), Row("02.01.2024 00:00 - 01:00", "&nbsp;", Link("3") + "Varaa</A>") + "</TR>");
  EXPECT_EQ(Rows(At(2023, 12, 31)), Row("31.12.2023 15:00 - 16:00", "&nbsp;", "&nbsp;") + "</TR>");
}

TEST_F(CalendarDayList, ADayWithoutSlotsIsJustTheClosingTag) {
  centre.AddSlot({.at = "2024-01-03 10:00:00"});
  EXPECT_EQ(Rows(At(2024, 1, 2)), "</TR>");
}

TEST_F(CalendarDayList, FullSlotsAndVisitorsGetNoLink) {
  std::string full = centre.AddSlot({.at = "2024-01-02 10:00:00", .maara = 3});
  centre.AddSlot({.at = "2024-01-02 11:00:00", .maara = 0});
  centre.AddReservations("2024", full, "    1", 3);
  const std::string expected = Row("02.01.2024 10:00 - 11:00", "&nbsp;", "&nbsp;") +
                               Row("02.01.2024 11:00 - 12:00", "&nbsp;", "&nbsp;") + "</TR>";
  EXPECT_EQ(Rows(At(2024, 1, 2)), expected);
  EXPECT_EQ(Rows(At(2024, 1, 2), "0"), expected);
}

TEST_F(CalendarDayList, InstructorColumnWheneverNaytaOhjaajaIsSet) {
  InsertRow(centre.conn(), "VAOHJAAJA", {{"Koodi", "O1"}, {"Lyhenne", "MV"}, {"Nimi", "Matti Virtanen"}});
  centre.AddSlot({.at = "2024-01-02 10:00:00", .ohjaaja = "O1"});
  centre.AddSlot({.at = "2024-01-02 11:00:00"});
  EXPECT_EQ(Rows(At(2024, 1, 2), "0", 1), Row("02.01.2024 10:00 - 11:00", "&nbsp;", "&nbsp;", "<td>MV</td>\r") +
                                              Row("02.01.2024 11:00 - 12:00", "&nbsp;", "&nbsp;", "<td>&nbsp;</td>\r") +
                                              "</TR>");
  EXPECT_EQ(Rows(At(2024, 1, 2), "0", 2),
            Row("02.01.2024 10:00 - 11:00", "&nbsp;", "&nbsp;", "<td>Matti Virtanen</td>\r") +
                Row("02.01.2024 11:00 - 12:00", "&nbsp;", "&nbsp;", "<td>&nbsp;</td>\r") + "</TR>");
}

TEST_F(CalendarDayList, LinkTextIsTheTranslatedC38) {
  InsertRow(centre.conn(), "KAANNOS", {{"LGKieli", "ENG"}, {"LGSovellus", "WebOrvane"}, {"LGAvain", "C38"},
                                       {"LGTeksti", "Book"}, {"LGKaytossa", "1"}});
  centre.AddSlot({.at = "2024-01-02 10:00:00"});
  EXPECT_EQ(Rows(At(2024, 1, 2), kSession, 0, "Eng"),
            Row("02.01.2024 10:00 - 11:00", "&nbsp;", Link("1", "Eng") + "Book</A>") + "</TR>");
}

// The VUOROLISTA tag of /Viikko in the list forms.
class CalendarListPage : public ::testing::Test {
 protected:
  CalendarSite centre;
  FixedNow now{At(2024, 1, 1, 14, 30)};

  void SetUp() override {
    InsertRow(centre.conn(), "WEBKESKUS", {{"WebKeskus", "C1"}, {"WebKeskusNimi", "Keskus"}, {"WebNayta", "1"}});
    InsertRow(centre.conn(), "VARESNIMI", {{"ResNo", "R3"}, {"ResNimi", "Allas"}, {"ResWebNayta", "0"}, {"ResKeskus", "C1"}});
    centre.AddSlot({.at = "2024-01-02 10:00:00", .res = "R2"});  // 1
    centre.AddSlot({.at = "2024-01-02 09:00:00", .res = "R1"});  // 2
    centre.AddSlot({.at = "2024-01-02 08:00:00", .res = "R3"});  // 3: not shown on the web
    centre.site().WriteTemplate("Fin", "viikko.html", "<#RESURSSI>|<#VUOROLISTA>");
  }
  void Form(int listanMuoto) {
    InsertRow(centre.conn(), "WEBPARAM", {{"Numero", "01"}, {"ListanMuoto", std::to_string(listanMuoto)}});
  }
};

const std::string kListHeader =
    "<tr class=\"otsikko\">\r<th width=\"28%\" colspan=2>Vuoro</th><th>Resurssi</th><th>Laji</th>"
    "<th>Toiminto</th>\r</tr>\r";

TEST_F(CalendarListPage, CentreListShowsEveryShownResourceByName) {
  Form(2);
  CgiResult r = centre.site().RunInProcess("/Viikko", "ID=0&Lang=FIN&Resurssi=C1&PP=2&KK=1&VV=2024");
  EXPECT_EQ(r.body, "Keskus|" + kListHeader +
                        "<tr>\r<td>02.01.2024 09:00 - 10:00</td>\r<td>&nbsp;</td>\r<td>Halli</td>\r<td>Sali</td>\r"
                        "<td>&nbsp;</td>\r</TR>"
                        "<tr>\r<td>02.01.2024 10:00 - 11:00</td>\r<td>&nbsp;</td>\r<td>Kentt\xe4</td>\r<td>Sali</td>\r"
                        "<td>&nbsp;</td>\r</TR>");
}

TEST_F(CalendarListPage, ResourceListShowsTheChosenResource) {
  Form(1);
  CgiResult r = centre.site().RunInProcess("/Viikko", "ID=" + kSession + "&Lang=FIN&Resurssi=R1&PP=2&KK=1&VV=2024");
  EXPECT_EQ(r.body, "Halli|" + kListHeader +
                        "<tr>\r<td>02.01.2024 09:00 - 10:00</td>\r<td>&nbsp;</td>\r<td>Halli</td>\r<td>Sali</td>\r"
                        "<td>" + Link("2") + "Varaa</A></td>\r</TR>");
}

}  // namespace
}  // namespace wo::test::cal
