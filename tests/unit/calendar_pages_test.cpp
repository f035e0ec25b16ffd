// /ResVal and /Viikko, the name lookups, the activity kinds, the booking
// link and the calendar arithmetic of the week grid.
#include <string>
#include <vector>

#include "booking/calendar.h"
#include "store/backend.h"
#include "calendar_fixture.h"

namespace wo::test::cal {
namespace {

class CalendarPages : public ::testing::Test {
 protected:
  CalendarSite centre;
  FixedNow now{At(2024, 1, 1, 14, 30)};

  void SetUp() override {
    centre.site().WriteTemplate("Fin", "viikko.html", "viikko");
    centre.site().WriteTemplate("Fin", "resval.html", "resval <#ID>");
    centre.site().WriteTemplate("Fin", "error.html", "error");
    InsertRow(centre.conn(), "WEBKESKUS", {{"WebKeskus", "C1"}, {"WebKeskusNimi", "Keskus"}, {"WebNayta", "1"}});
  }

  // Runs /Viikko on a module of its own and hands it to `check`.
  template <class Check>
  void Viikko(const std::string& query, Check check, int listanMuoto = 0) {
    ModuleHere m(centre.site(), "/Viikko", query);
    m->settings.ListanMuoto = listanMuoto;
    m.Run();
    check(*m, m.response().content());
  }
};

TEST_F(CalendarPages, ViikkoTakesTheDateOrToday) {
  Viikko("ID=0&Lang=FIN&Resurssi=R1&PP=29&KK=2&VV=2024", [](RequestContext& m, const std::string& page) {
    EXPECT_EQ(page, "viikko");
    EXPECT_EQ(m.page.ChosenDate, At(2024, 2, 29));
    EXPECT_EQ(m.page.ResourceName, "Halli");
  });
  for (const char* bad : {"PP=31&KK=2&VV=2024", "PP=29&KK=2&VV=2023", "PP=x&KK=2&VV=2024", "PP=1&KK=13&VV=2024",
                          "PP=1&KK=1&VV=", "PP=1&KK=1&Other=1"})
    Viikko(std::string("ID=0&Resurssi=R1&") + bad, [bad](RequestContext& m, const std::string&) {
      EXPECT_EQ(m.page.ChosenDate, At(2024, 1, 1)) << bad;  // today at midnight
    });
}

// Every date the fields can form gives a page in each list form, up to the
// last weeks of year 9999, whose next link stays within it.
TEST_F(CalendarPages, EveryFormableDateGivesAPage) {
  centre.site().WriteTemplate("Fin", "viikko.html", "<#VUOROLISTA>|<#SVKOLNK>");
  for (int form : {0, 1, 2}) {
    for (const char* date : {"PP=31&KK=12&VV=9999", "PP=20&KK=12&VV=9999", "PP=1&KK=1&VV=1"}) {
      const std::string query = std::string("ID=ABCDEFGHIJKLMNOP&Lang=FIN&Resurssi=R1&") + date;
      Viikko(query, [&](RequestContext&, const std::string& page) {
        EXPECT_NE(page.find('|'), std::string::npos) << form << " " << date;
        if (std::string(date).find("VV=9999") != std::string::npos) {
          EXPECT_NE(page.find("&KK=12&VV=9999\">"), std::string::npos) << form << " " << page;
        }
      }, form);
    }
  }
}

TEST_F(CalendarPages, ViikkoNeedsFiveFields) {
  Viikko("ID=ABCDEFGHIJKL&Lang=FIN&Resurssi=R1&PP=2", [](RequestContext& m, const std::string& page) {
    EXPECT_EQ(page, "error");
    EXPECT_EQ(m.page.SessionId, "0");
    EXPECT_EQ(m.page.Resurssi, "");
  });
}

TEST_F(CalendarPages, ResourceNameByTheListForm) {
  Viikko("ID=0&Lang=FIN&Resurssi=ZZ&PP=2&KK=1&VV=2024",
         [](RequestContext& m, const std::string&) { EXPECT_EQ(m.page.ResourceName, "ZZ"); });
  Viikko("ID=0&Lang=FIN&Resurssi=&PP=2&KK=1&VV=2024",
         [](RequestContext& m, const std::string&) { EXPECT_EQ(m.page.ResourceName, ""); });
  Viikko("ID=0&Lang=FIN&Resurssi=C1&PP=2&KK=1&VV=2024",
         [](RequestContext& m, const std::string&) { EXPECT_EQ(m.page.ResourceName, "Keskus"); }, 2);
  Viikko("ID=0&Lang=FIN&Resurssi=R1&PP=2&KK=1&VV=2024",
         [](RequestContext& m, const std::string&) { EXPECT_EQ(m.page.ResourceName, "R1"); }, 2);
  // The code is cut to five characters before it is looked up.
  Viikko("ID=0&Lang=FIN&Resurssi=R1%20%20%20XYZ&PP=2&KK=1&VV=2024", [](RequestContext& m, const std::string&) {
    EXPECT_EQ(m.page.Resurssi, "R1   ");
    EXPECT_EQ(m.page.ResourceName, "R1   ");
    EXPECT_FALSE(m.tbl->TblResNimi.IsOpen());
  });
}

TEST_F(CalendarPages, ResValShowsTheFormOrTheErrorPage) {
  EXPECT_EQ(centre.site().RunInProcess("/ResVal", "ID=ABCDEFGHIJKL&Lang=FIN").body, "resval ABCDEFGHIJKL");
  EXPECT_EQ(centre.site().RunInProcess("/ResVal", "").body, "error");
}

TEST_F(CalendarPages, PreviousWeekNeverBeforeToday) {
  centre.site().WriteTemplate("Fin", "viikko.html", "<#EVKOLNK>|<#SVKOLNK>|<#RESURSSI>");
  const std::string base = "<A HREF=\"/cgi-bin/WebOrvane.exe/Viikko?ID=0&Lang=FIN&Resurssi=R1";
  EXPECT_EQ(centre.site().RunInProcess("/Viikko", "ID=0&Lang=FIN&Resurssi=R1&PP=4&KK=1&VV=2024").body,
            base + "&PP=1&KK=1&VV=2024\">|" + base + "&PP=11&KK=1&VV=2024\">|Halli");
  EXPECT_EQ(centre.site().RunInProcess("/Viikko", "ID=0&Lang=FIN&Resurssi=R1&PP=9&KK=1&VV=2024").body,
            base + "&PP=2&KK=1&VV=2024\">|" + base + "&PP=16&KK=1&VV=2024\">|Halli");
}

TEST_F(CalendarPages, CodeShownAsTheNameIsEscapedOnce) {
  centre.site().WriteTemplate("Fin", "viikko.html", "<#RESURSSI>");
  EXPECT_EQ(centre.site().RunInProcess("/Viikko", "ID=0&Lang=FIN&Resurssi=%3Cb%3E&PP=2&KK=1&VV=2024").body,
            "&lt;b&gt;");
}

class CalendarLookups : public ::testing::Test {
 protected:
  CalendarSite centre;
};

TEST_F(CalendarLookups, ActivityKindsExactCodesAndTheirLimit) {
  std::string sql = "BEGIN;INSERT INTO VALAJI(Koodi,Lyhenne) VALUES('K10','Kuntosali'),('K2',NULL);";
  for (int i = 0; i < 905; ++i) sql += "INSERT INTO VALAJI(Koodi,Lyhenne) VALUES('A" + std::to_string(1000 + i) + "','L" + std::to_string(i) + "');";
  centre.Sql(sql + "COMMIT;");
  ModuleHere m(centre.site());
  LoadActivityKinds(*m);
  EXPECT_FALSE(m->tbl->TblVaLaji.IsOpen());
  EXPECT_EQ(m->KindCount, 900);  // A1000..A1899 in Koodi order; the rest ignored
  EXPECT_EQ(ActivityKindText(*m, "A1899"), "L899");
  EXPECT_EQ(ActivityKindText(*m, "A1900"), "A1900");
  ModuleHere few(centre.site());
  centre.Sql("DELETE FROM VALAJI WHERE Koodi LIKE 'A%';");
  LoadActivityKinds(*few);
  EXPECT_EQ(few->KindCount, 3);
  EXPECT_EQ(ActivityKindText(*few, "K1"), "Sali");
  EXPECT_EQ(ActivityKindText(*few, "K10"), "Kuntosali");
  EXPECT_EQ(ActivityKindText(*few, "k1"), "k1");
  EXPECT_EQ(ActivityKindText(*few, "K1 "), "K1 ");
  EXPECT_EQ(ActivityKindText(*few, "K2"), "&nbsp;");  // no Lyhenne
  EXPECT_EQ(ActivityKindText(*few, ""), "&nbsp;");
}

TEST_F(CalendarLookups, InstructorsByNaytaOhjaaja) {
  InsertRow(centre.conn(), "VAOHJAAJA", {{"Koodi", "O1"}, {"Lyhenne", "MV"}, {"Nimi", "Matti Virtanen"}});
  InsertRow(centre.conn(), "VAOHJAAJA", {{"Koodi", "O2"}, {"Nimi", "Ei Lyhennett\xe4"}});
  ModuleHere m(centre.site());
  const std::pair<int, std::string> cases[] = {{0, "&nbsp;"}, {1, "MV"}, {2, "Matti Virtanen"}, {3, "O1"}};
  for (const auto& [setting, expected] : cases) {
    m->settings.NaytaOhjaaja = setting;
    EXPECT_EQ(InstructorText(*m, "O1"), expected) << setting;
  }
  m->settings.NaytaOhjaaja = 1;
  EXPECT_EQ(InstructorText(*m, "O2"), "&nbsp;");
  EXPECT_EQ(InstructorText(*m, "O9"), "O9");
  EXPECT_EQ(InstructorText(*m, ""), "&nbsp;");
  EXPECT_EQ(m->codes.instructors.rows->size(), 2u);  // read once for the request
  EXPECT_TRUE(m->codes.instructors.whole);
}

TEST_F(CalendarLookups, NamesOfResourcesAndCentres) {
  InsertRow(centre.conn(), "WEBKESKUS", {{"WebKeskus", "C1"}, {"WebKeskusNimi", "Keskus"}});
  ModuleHere m(centre.site());
  EXPECT_EQ(ResourceNameOf(*m, "R2"), "Kentt\xe4");
  EXPECT_EQ(ResourceNameOf(*m, "C1"), "C1");
  EXPECT_EQ(ResourceNameOf(*m, ""), "");
  EXPECT_EQ(CentreNameOf(*m, "C1"), "Keskus");
  EXPECT_EQ(CentreNameOf(*m, "R1"), "R1");
  EXPECT_FALSE(m->tbl->TblResNimi.IsOpen());
  EXPECT_FALSE(m->tbl->TblWebKeskus.IsOpen());

  // A page naming one code asks for its row alone, with the same answers
  // (a code longer than the column is cut as a key lookup cuts it).
  InsertRow(centre.conn(), "WEBKESKUS", {{"WebKeskus", "C2345"}, {"WebKeskusNimi", "Iso"}});
  ModuleHere lone(centre.site());
  EXPECT_EQ(ResourceNameOf(*lone, "R2", true), "Kentt\xe4");
  EXPECT_EQ(ResourceNameOf(*lone, "C1", true), "C1");
  EXPECT_EQ(CentreNameOf(*lone, "C2345678", true), "Iso");
  // The rows so asked are kept as such, and asked for no more.
  EXPECT_TRUE(lone->codes.resourceNames.lonesOnly);
  EXPECT_EQ(lone->codes.resourceNames.rows->size(), 1u);  // C1 has no row
  EXPECT_TRUE(lone->codes.centreNames.lonesOnly);
  EXPECT_FALSE(lone->tbl->TblResNimi.IsOpen());
  std::vector<std::string> trace;
  lone->conn.backend().trace = &trace;
  EXPECT_EQ(ResourceNameOf(*lone, "R2", true), "Kentt\xe4");
  EXPECT_TRUE(trace.empty());
  lone->conn.backend().trace = nullptr;
  EXPECT_EQ(ResourceNameOf(*lone, "R1"), "Halli");  // a lookup of a page naming many reads the table
  EXPECT_FALSE(lone->codes.resourceNames.lonesOnly);
  EXPECT_TRUE(lone->codes.resourceNames.whole);
  EXPECT_EQ(ResourceNameOf(*lone, "R2"), "Kentt\xe4");
}

TEST_F(CalendarLookups, PlacesCountedInTheWalksQueryAndTheLinkOfASlot) {
  for (const char* seq : {"    1", "    2", "    3"})
    centre.AddSlot({.at = std::string("2024-01-0") + seq[4] + " 10:00:00", .vuoroNo = "   12", .seq = seq});
  centre.AddReservations("2024", "   12", "    1", 2);
  centre.AddReservations("2024", "   12", "    2", 1);
  ModuleHere m(centre.site());
  const DateTime from = At(2024, 1, 1), to = At(2024, 1, 3, 23, 59);
  SlotPlaces places(*m, "R1", from, to);
  std::vector<std::string> trace;
  m->conn.backend().trace = &trace;
  std::vector<int> rows, own;
  std::string out;
  calendar::WalkSlots(
      *m, "R1", from, to, out,
      [&](store::Table& slots) {
        const store::SlotTaken t = places.Of(slots, slots.Text("Kausi"), slots.Text("VuoroNo"), slots.Text("VuoroNoSeq"));
        rows.push_back(t.rows);
        own.push_back(t.own);
        return true;
      },
      &places.Customer());
  m->conn.backend().trace = nullptr;
  EXPECT_EQ(rows, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(own, (std::vector<int>{0, 0, 0}));  // no customer asked about
  EXPECT_EQ(trace.size(), 1u);                  // the walk's own query
  EXPECT_EQ(out, "</TR>");
  EXPECT_FALSE(m->tbl->TblVa.IsOpen());
  EXPECT_FALSE(m->tbl->TblFiVuoro.IsOpen());

  m->page.SessionId = kSession;
  m->page.Lang = "Eng";
  EXPECT_EQ(BookingLinkOpen(*m, "2024", "   12", "    1"),
            "<A HREF=\"/cgi-bin/WebOrvane.exe/Varaa?ID=" + kSession + "&Lang=Eng&Kau=2024&Vuo=12&Seq=1\">");
  m->page.SessionId = "a&b c\"d";
  m->page.Lang = "\"><x";
  EXPECT_EQ(BookingLinkOpen(*m, " 24 ", "1", "2"),
            "<A HREF=\"/cgi-bin/WebOrvane.exe/Varaa?ID=a%26b%20c%22d&Lang=%22%3E%3Cx&Kau=24&Vuo=1&Seq=2\">");
}

// The grid's day columns: one date per day and the weekday of each, the one
// DayOfWeek of the program.
TEST(CalendarArithmetic, DaysAndWeekdaysFrom1600To3999) {
  EXPECT_EQ(DayOfWeek(EncodeDate(1600, 1, 1)), 7);  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 1, 1)), 2);  // a Monday
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1);
  EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2);
  // Every day of the range: its date decodes back to it, and its weekday
  // follows the one before.
  const DateTime first = EncodeDate(1600, 1, 1), last = EncodeDate(3999, 12, 31);
  int mismatches = 0;
  for (DateTime t = first + 1; t <= last; t += 1) {
    DateParts p = Decode(t);
    if (EncodeDate(p.year, p.month, p.day) != t || DayOfWeek(t) != DayOfWeek(t - 1) % 7 + 1) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace wo::test::cal
