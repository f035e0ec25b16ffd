// What a slot is to the one looking at it -- free places, full, one's own
// with its cancellation, not yet bookable -- in the day list and the week
// grid, for a visitor and for a logged-in user; and the weekday names and
// the reduced-price mark in the page's language.
#include <string>
#include <vector>

#include "calendar_fixture.h"

namespace wo::test::cal {
namespace {

class CalendarStates : public ::testing::Test {
 protected:
  CalendarSite centre;
  // Monday 1 January 2024, 14:30.
  FixedNow now{At(2024, 1, 1, 14, 30)};

  void SetUp() override {
    // The user whose reservations are "Mine": customer 500.
    test::AddUser(centre.conn(), {.tunnus = "user1", .asNo = "500", .id = kSession.substr(0, 15),
                                  .aika = "2024-01-01 14:30:00"});
    auto slot = [&](const std::string& at, int maara) { return centre.AddSlot({.at = at, .maara = maara}); };
    full = slot("2024-01-02 10:00:00", 3);
    twoFree = slot("2024-01-02 11:00:00", 5);
    mine = slot("2024-01-02 12:00:00", 5);
    mineLate = slot("2024-01-01 16:00:00", 5);  // within the 2 hours before it starts
    later = slot("2024-01-31 15:00:00", 5);     // beyond the 30 days
    centre.AddReservations("2024", full, "    1", 3);
    centre.AddReservations("2024", twoFree, "    1", 3);
    test::AddReservation(centre.conn(), {.kausi = "2024", .vuoroNo = mine, .seq = "    1", .jno = 1, .asNo = "100"});
    test::AddReservation(centre.conn(), {.kausi = "2024", .vuoroNo = mine, .seq = "    1", .jno = 2, .asNo = "500"});
    test::AddReservation(centre.conn(), {.kausi = "2024", .vuoroNo = mineLate, .seq = "    1", .jno = 1, .asNo = "500"});
  }

  void On(ModuleHere& m, const std::string& session, bool pageLanguage = false, const std::string& lang = "FIN") {
    m->ini.SlotStates = true;
    m->ini.PageLanguage = pageLanguage;
    m->settings.MaxVarausPv = 30;
    m->settings.PoistaEnnenPv = 2;
    m->page.SessionId = session;
    m->page.Lang = lang;
    m->page.Resurssi = "R1";
  }
  std::string DayList(const std::string& session, DateTime day) {
    ModuleHere m(centre.site());
    On(m, session);
    m->page.ChosenDate = day;
    LoadActivityKinds(*m);
    std::string out;
    RenderDaySlotRows(*m, "R1", "Halli", out);
    EXPECT_FALSE(m->tbl->TblWebReg.IsOpen());
    return out;
  }
  std::string Grid(const std::string& session, bool pageLanguage = false, const std::string& lang = "FIN") {
    ModuleHere m(centre.site());
    On(m, session, pageLanguage, lang);
    m->page.ChosenDate = At(2024, 1, 1);
    return m.Grid();
  }

  std::string full, twoFree, mine, mineLate, later;
};

std::string Trim5(const std::string& no) { return no.substr(no.find_first_not_of(' ')); }
std::string Cancel(const std::string& vuo, int jno) {
  return "<A HREF=\"/cgi-bin/WebOrvane.exe/Poista?ID=" + kSession + "&Lang=FIN&Kau=2024&Vuo=" + Trim5(vuo) +
         "&Seq=1&JNo=" + std::to_string(jno) + "\">Poista varaus</A>";
}
std::string State(const std::string& text) { return "<span class=\"slot-state\">" + text + "</span>"; }

TEST_F(CalendarStates, DayListCellsForVisitorAndUser) {
  struct Case {
    const char* who;
    std::string session;
    DateTime day;
    std::vector<std::string> cells;  // the state cells in start order
  };
  const std::string book = "Varaa</A>";
  const Case cases[] = {
      {"visitor", "0", At(2024, 1, 2),
       {"<td class=\"slot-full\">" + State("T\xe4ynn\xe4") + "</td>",
        "<td class=\"slot-free\">" + State("2 vapaana") + "</td>",
        "<td class=\"slot-free\">" + State("3 vapaana") + "</td>"}},
      {"user", kSession, At(2024, 1, 2),
       {"<td class=\"slot-full\">" + State("T\xe4ynn\xe4") + "</td>",
        "<td class=\"slot-free\">" + State("2 vapaana") + " " + Link(Trim5(twoFree)) + book + "</td>",
        "<td class=\"slot-mine\">" + State("Oma varaus") + " " + Cancel(mine, 2) + "</td>"}},
      {"user, too late to cancel", kSession, At(2024, 1, 1),
       {"<td class=\"slot-mine\">" + State("Oma varaus") + "</td>"}},
      {"visitor beyond the horizon", "0", At(2024, 1, 31),
       {"<td class=\"slot-later\">" + State("Varattavissa alkaen 01.01.2024") + "</td>"}},
      {"user beyond the horizon", kSession, At(2024, 1, 31),
       {"<td class=\"slot-later\">" + State("Varattavissa alkaen 01.01.2024") + "</td>"}},
  };
  for (const Case& c : cases) {
    const std::string out = DayList(c.session, c.day);
    std::string cells;
    for (size_t p = out.find("<td class="); p != std::string::npos; p = out.find("<td class=", p + 1))
      cells += out.substr(p, out.find("</td>", p) + 5 - p) + "\n";
    std::string want;
    for (const std::string& s : c.cells) want += s + "\n";
    EXPECT_EQ(cells, want) << c.who;
  }
}

TEST_F(CalendarStates, GridCellsForVisitorAndUser) {
  const std::string visitor = Grid("0"), user = Grid(kSession);
  // An ordinary cell: its time and kind, then its state.
  auto cell = [](const std::string& cls, const std::string& time, const std::string& rest) {
    return "<td class=\"" + cls + "\">" + time + "<br>Sali<br>" + rest + "</td>";
  };
  struct Case {
    const char* what;
    const std::string& grid;
    std::string cell;
  };
  const Case cases[] = {
      {"visitor: full", visitor, cell("slot-full", "10:00-11:00", State("T\xe4ynn\xe4"))},
      {"visitor: 2 free", visitor, cell("slot-free", "11:00-12:00", State("2 vapaana"))},
      {"visitor: not the visitor's", visitor, cell("slot-free", "12:00-13:00", State("3 vapaana"))},
      {"user: full", user, cell("slot-full", "10:00-11:00", State("T\xe4ynn\xe4"))},
      {"user: the free slot is the link", user,
       "<td class=\"slot-free\">" + Link(Trim5(twoFree)) + "11:00-12:00<br>Sali<br>" + State("2 vapaana") + "</A></td>"},
      {"user: mine", user, cell("slot-mine", "12:00-13:00", State("Oma varaus") + " " + Cancel(mine, 2))},
      {"user: mine, too late to cancel", user, cell("slot-mine", "16:00-17:00", State("Oma varaus"))},
  };
  for (const Case& c : cases) EXPECT_NE(c.grid.find(c.cell), std::string::npos) << c.what << "\n" << c.grid;
  EXPECT_EQ(visitor.find("/Varaa?"), std::string::npos);
  EXPECT_EQ(visitor.find("/Poista?"), std::string::npos);
}

TEST_F(CalendarStates, GridBeyondTheHorizonHasNoLink) {
  ModuleHere m(centre.site());
  On(m, kSession);
  m->page.ChosenDate = At(2024, 1, 31);
  const std::string grid = m.Grid();
  EXPECT_NE(grid.find("<td class=\"slot-later\">15:00-16:00<br>Sali<br>" + State("Varattavissa alkaen 01.01.2024") +
                      "</td>"),
            std::string::npos)
      << grid;
  EXPECT_EQ(grid.find("/Varaa?"), std::string::npos);
}

// Under WaitingList: places held by offers are taken to others, a full
// slot offers its line, and the user's own place in a line shows its
// position or the offer with its booking link.
TEST_F(CalendarStates, WaitingListsInTheDayList) {
  const std::string offered = centre.AddSlot({.at = "2024-01-02 13:00:00", .maara = 1});
  const std::string queued = centre.AddSlot({.at = "2024-01-02 14:00:00", .maara = 1});
  centre.AddReservations("2024", queued, "    1", 1);
  int id = 0;
  auto line = [&](const std::string& vuo, const char* asNo, const char* tila, const char* until) {
    Row row = {{"Id", std::to_string(++id)}, {"Kausi", "2024"}, {"VuoroNo", vuo}, {"VuoroNoSeq", "    1"},
               {"AsNo", asNo}, {"Liittynyt", "2024-01-01 10:00:00"}, {"Tila", tila}};
    if (*until) row.push_back({"Voimassa", until});
    InsertRow(centre.conn(), "WEBJONO", row);
  };
  line(twoFree, "600", "offered", "2024-01-01 15:00:00");
  line(twoFree, "601", "offered", "2024-01-01 15:00:00");
  line(offered, "500", "offered", "2024-01-02 09:00:00");
  line(queued, "600", "waiting", "");
  line(queued, "500", "waiting", "");
  auto slotLink = [](const char* action, const std::string& vuo) {
    return "<A HREF=\"/cgi-bin/WebOrvane.exe/" + std::string(action) + "?ID=" + kSession +
           "&Lang=FIN&Kau=2024&Vuo=" + Trim5(vuo) + "&Seq=1\">";
  };
  ModuleHere m(centre.site());
  On(m, kSession);
  m->ini.WaitingList = true;
  m->page.ChosenDate = At(2024, 1, 2);
  LoadActivityKinds(*m);
  std::string out;
  RenderDaySlotRows(*m, "R1", "Halli", out);
  const std::string full = "<td class=\"slot-full\">" + State("T\xe4ynn\xe4") + " ";
  for (const std::string& cell :
       {full + slotLink("Jono", this->full) + "Liity jonoon</A></td>", full + slotLink("Jono", twoFree) + "Liity jonoon</A></td>",
        "<td class=\"slot-offered\">" + State("Vapautunut paikka on tarjolla sinulle asti 02.01.2024 09:00") + " " +
            slotLink("Varaa", offered) + "Varaa paikka</A></td>",
        "<td class=\"slot-queued\">" + State("Jonossa, sija 2") + " " + slotLink("JonoPois", queued) +
            "Poistu jonosta</A></td>"})
    EXPECT_NE(out.find(cell), std::string::npos) << cell << "\n" << out;
}

TEST_F(CalendarStates, WeekdaysAndReducedPriceInThePagesLanguage) {
  InsertRow(centre.conn(), "KAANNOS", {{"LGKieli", "ENG"}, {"LGSovellus", "WebOrvane"}, {"LGAvain", "C59"},
                                       {"LGTeksti", "Monday"}, {"LGKaytossa", "1"}});
  InsertRow(centre.conn(), "KAANNOS", {{"LGKieli", "ENG"}, {"LGSovellus", "WebOrvane"}, {"LGAvain", "C65"},
                                       {"LGTeksti", "Sale"}, {"LGKaytossa", "1"}});
  InsertRow(centre.conn(), "KAANNOS", {{"LGKieli", "ENG"}, {"LGSovellus", "WebOrvane"}, {"LGAvain", "C38"},
                                       {"LGTeksti", "Book"}, {"LGKaytossa", "1"}});
  struct Case {
    bool pageLanguage;
    const char* lang;
    const char* monday;
    const char* reduced;
    const char* book;  // a fixed-time cell's link in the grid
  };
  const Case cases[] = {{false, "Eng", "Maanantai", "Ale", "Varaa"},
                        {true, "Eng", "Monday", "Sale", "Book"},
                        {true, "FIN", "Maanantai", "Ale", "Varaa"}};
  centre.AddSlot({.at = "2024-01-01 18:00:00", .tyyppi = "A"});
  const std::string fixed = Trim5(centre.AddSlot({.at = "2024-01-01 19:00:00", .tyyppi = "S"}));
  for (const Case& c : cases) {
    EXPECT_NE(Grid("0", c.pageLanguage, c.lang).find(std::string("<TH>") + c.monday + "<BR>01.01.2024"), std::string::npos)
        << c.lang << c.pageLanguage;
    ModuleHere m(centre.site());
    On(m, kSession, c.pageLanguage, c.lang);
    m->ini.SlotStates = false;
    m->page.ChosenDate = At(2024, 1, 1);
    EXPECT_NE(m.Grid().find(Link(fixed, c.lang) + c.book + "</A>"), std::string::npos) << c.lang << c.pageLanguage;
    LoadActivityKinds(*m);
    std::string out;
    RenderDaySlotRows(*m, "R1", "Halli", out);
    EXPECT_NE(out.find(std::string("<td>") + c.reduced + "</td>"), std::string::npos) << c.lang << c.pageLanguage;
  }
}

}  // namespace
}  // namespace wo::test::cal
