// The week grid form: columns of slot-days, ordinary rows and shared time
// rows, booking links, the fixed limits and the handles it leaves closed.
#include <string>
#include <vector>

#include "calendar_fixture.h"

namespace wo::test::cal {
namespace {

const std::string kCorner = "<TR><th>&nbsp;</th>\r";
std::string Th(const std::string& weekday, const std::string& date) { return "<TH>" + weekday + "<BR>" + date + "</th>\r"; }
std::string Td(const std::string& content) { return "<td>" + content + "</td>\r"; }
std::string Tr(const std::vector<std::string>& cells) {
  std::string s = "<tr>\r";
  for (const auto& c : cells) s += Td(c);
  return s + "</tr>\r";
}
const std::string kNb = "&nbsp;";

class CalendarWeekGrid : public ::testing::Test {
 protected:
  CalendarSite centre;
  // Monday 1 January 2024, 07:00.
  FixedNow now{At(2024, 1, 1, 7, 0)};

  std::string GridOf(const std::string& session = "0", DateTime chosen = At(2024, 1, 1)) {
    ModuleHere m(centre.site());
    m->page.SessionId = session;
    m->page.Resurssi = "R1";
    m->page.ChosenDate = chosen;
    std::string out = m.Grid();
    rowCount = m->RowCount;
    columnCount = m->ColumnCount;
    EXPECT_FALSE(m->tbl->TblFiVuoro.IsOpen());
    EXPECT_FALSE(m->tbl->TblVa.IsOpen());
    EXPECT_FALSE(m->tbl->TblVaLaji.IsOpen());
    return out;
  }
  int rowCount = -1, columnCount = -1;
};

TEST_F(CalendarWeekGrid, MondaysAndThursdaysFillSevenColumnsAcrossWeeks) {
  // Eight slot-days in the window; the eighth ends the reading. A slot of
  // another resource adds no column.
  for (const char* d : {"2024-01-01", "2024-01-04", "2024-01-08", "2024-01-11", "2024-01-15", "2024-01-18",
                        "2024-01-22", "2024-01-25"})
    centre.AddSlot({.at = std::string(d) + " 18:00:00"});
  centre.AddSlot({.at = "2024-01-02 18:00:00", .res = "R2"});
  std::string expected = kCorner + Th("Maanantai", "01.01.2024") + Th("Torstai", "04.01.2024") +
                         Th("Maanantai", "08.01.2024") + Th("Torstai", "11.01.2024") +
                         Th("Maanantai", "15.01.2024") + Th("Torstai", "18.01.2024") +
                         Th("Maanantai", "22.01.2024") + "</TR>";
  const std::string cell = "18:00-19:00<br>Sali";
  expected += Tr({"1", cell, cell, cell, cell, cell, cell, cell});
  EXPECT_EQ(GridOf(), expected);
  EXPECT_EQ(columnCount, 7);
  EXPECT_EQ(rowCount, 1);
}

TEST_F(CalendarWeekGrid, WindowIsChosenDayToThirtyOneDaysLaterAt2359) {
  centre.AddSlot({.at = "2023-12-31 23:59:00"});  // the day before
  centre.AddSlot({.at = "2024-02-01 23:59:00"});  // 31 days later, 23:59: inside
  centre.AddSlot({.at = "2024-02-02 00:00:00"});  // outside
  EXPECT_EQ(GridOf(), kCorner + Th("Torstai", "01.02.2024") + "</TR>" + Tr({"1", "23:59-00:59<br>Sali"}));
}

TEST_F(CalendarWeekGrid, NoSlotsInTheWindowGiveOnlyTheCorner) {
  centre.AddSlot({.at = "2024-03-01 10:00:00"});
  EXPECT_EQ(GridOf(kSession), "<TR><th>&nbsp;</th>\r</TR>");
  EXPECT_EQ(rowCount, 0);
}

TEST_F(CalendarWeekGrid, TwoOrdinarySlotsOfADayTakeRowsOneAndTwo) {
  centre.AddSlot({.at = "2024-01-03 12:00:00", .kesto = "00:45:00"});
  centre.AddSlot({.at = "2024-01-03 09:30:00", .kesto = "01:30:00"});
  EXPECT_EQ(GridOf(), kCorner + Th("Keskiviikko", "03.01.2024") + "</TR>" + Tr({"1", "09:30-11:00<br>Sali"}) +
                          Tr({"2", "12:00-12:45<br>Sali"}));
}

TEST_F(CalendarWeekGrid, FixedTimeRowInsertedBetweenMovesTheCellsBelowDown) {
  centre.AddSlot({.at = "2024-01-01 08:00:00", .tyyppi = "S"});  // Vuo 1
  centre.AddSlot({.at = "2024-01-02 10:00:00", .tyyppi = "S"});  // Vuo 2
  centre.AddSlot({.at = "2024-01-03 09:00:00", .tyyppi = "S"});  // Vuo 3, read after 10:00 exists
  const std::string head =
      kCorner + Th("Maanantai", "01.01.2024") + Th("Tiistai", "02.01.2024") + Th("Keskiviikko", "03.01.2024") + "</TR>";
  EXPECT_EQ(GridOf(kSession), head + Tr({"08:00-09:00", Link("1") + "Varaa</A>", kNb, kNb}) +
                                  Tr({"09:00-10:00", kNb, kNb, Link("3") + "Varaa</A>"}) +
                                  Tr({"10:00-11:00", kNb, Link("2") + "Varaa</A>", kNb}));
  // A visitor sees the same rows without links.
  EXPECT_EQ(GridOf("0"), head + Tr({"08:00-09:00", kNb, kNb, kNb}) + Tr({"09:00-10:00", kNb, kNb, kNb}) +
                             Tr({"10:00-11:00", kNb, kNb, kNb}));
}

TEST_F(CalendarWeekGrid, NewTimeRowNeverOverwritesAnOrdinaryCell) {
  centre.AddSlot({.at = "2024-01-01 08:00:00", .tyyppi = "S"});  // Vuo 1: time row 1
  centre.AddSlot({.at = "2024-01-02 07:00:00"});                 // row 1 of Tuesday
  centre.AddSlot({.at = "2024-01-02 07:30:00"});                 // row 2 of Tuesday
  centre.AddSlot({.at = "2024-01-02 09:00:00", .tyyppi = "S"});  // Vuo 4: new time row 2
  EXPECT_EQ(GridOf(kSession),
            kCorner + Th("Maanantai", "01.01.2024") + Th("Tiistai", "02.01.2024") + "</TR>" +
                Tr({"08:00-09:00", Link("1") + "Varaa</A>", Link("2") + "07:00-08:00<br>Sali</A>"}) +
                Tr({"09:00-10:00", kNb, Link("4") + "Varaa</A>"}) +
                Tr({"3", kNb, Link("3") + "07:30-08:30<br>Sali</A>"}));
}

TEST_F(CalendarWeekGrid, OrdinarySlotSkipsCellsMovedIntoItsRow) {
  centre.AddSlot({.at = "2024-01-01 08:00:00", .tyyppi = "S"});  // Vuo 1: time row 1
  centre.AddSlot({.at = "2024-01-02 07:00:00"});                 // Vuo 2: Tuesday row 1
  centre.AddSlot({.at = "2024-01-02 07:30:00", .tyyppi = "S"});  // Vuo 3: new row 1, all move down
  centre.AddSlot({.at = "2024-01-02 07:45:00"});                 // Vuo 4: row 2 is taken by Vuo 2
  EXPECT_EQ(GridOf(kSession),
            kCorner + Th("Maanantai", "01.01.2024") + Th("Tiistai", "02.01.2024") + "</TR>" +
                Tr({"07:30-08:30", kNb, Link("3") + "Varaa</A>"}) +
                Tr({"08:00-09:00", Link("1") + "Varaa</A>", Link("2") + "07:00-08:00<br>Sali</A>"}) +
                Tr({"3", kNb, Link("4") + "07:45-08:45<br>Sali</A>"}));
}

TEST_F(CalendarWeekGrid, TwoFixedSlotsOfADayAtOneTimeGetARowEach) {
  centre.AddSlot({.at = "2024-01-01 10:00:00", .tyyppi = "S"});  // Vuo 1
  centre.AddSlot({.at = "2024-01-01 10:00:00", .tyyppi = "S"});  // Vuo 2: another 10:00 row
  centre.AddSlot({.at = "2024-01-02 10:00:00", .tyyppi = "S"});  // Vuo 3: the first 10:00 row
  const std::string v = "Varaa</A>";
  EXPECT_EQ(GridOf(kSession), kCorner + Th("Maanantai", "01.01.2024") + Th("Tiistai", "02.01.2024") + "</TR>" +
                                  Tr({"10:00-11:00", Link("1") + v, Link("3") + v}) +
                                  Tr({"10:00-11:00", Link("2") + v, kNb}));
}

TEST_F(CalendarWeekGrid, TimeRowHeldByAnOrdinaryCellOfTheDayGetsAnotherTimeRow) {
  centre.AddSlot({.at = "2024-01-01 10:00:00", .tyyppi = "S"});  // Vuo 1
  centre.AddSlot({.at = "2024-01-01 11:00:00", .tyyppi = "S"});  // Vuo 2
  centre.AddSlot({.at = "2024-01-02 10:00:00", .tyyppi = "S"});  // Vuo 3
  centre.AddSlot({.at = "2024-01-02 10:30:00"});                 // Vuo 4: lands on the 11:00 row
  centre.AddSlot({.at = "2024-01-02 11:00:00", .tyyppi = "S"});  // Vuo 5
  const std::string v = "Varaa</A>";
  EXPECT_EQ(GridOf(kSession), kCorner + Th("Maanantai", "01.01.2024") + Th("Tiistai", "02.01.2024") + "</TR>" +
                                  Tr({"10:00-11:00", Link("1") + v, Link("3") + v}) +
                                  Tr({"11:00-12:00", Link("2") + v, Link("4") + "10:30-11:30<br>Sali</A>"}) +
                                  Tr({"11:00-12:00", kNb, Link("5") + v}));
}

TEST_F(CalendarWeekGrid, LinksOnlyWhileLoggedInWithPlacesAndNotStarted) {
  FixedNow later(At(2024, 1, 1, 10, 1));
  std::string full = centre.AddSlot({.at = "2024-01-01 12:00:00", .maara = 3});
  std::string oneLeft = centre.AddSlot({.at = "2024-01-01 13:00:00", .maara = 3});
  centre.AddSlot({.at = "2024-01-01 10:00:00", .tyyppi = "S"});  // started a minute ago
  centre.AddReservations("2024", full, "    1", 2, 0);
  centre.AddReservations("2024", full, "    2", 5, 0);  // another slot's rows
  // Every row counts, whatever its Status.
  InsertRow(centre.conn(), "VAVARAUS", {{"VuoroNo", full}, {"VuoroNoSeq", "    1"}, {"Jno", "9"}, {"Kausi", "2024"}, {"Status", "3"}});
  centre.AddReservations("2024", oneLeft, "    1", 2, 0);
  centre.AddReservations("2023", oneLeft, "    1", 3, 0);  // same numbers, another season
  EXPECT_EQ(GridOf(kSession), kCorner + Th("Maanantai", "01.01.2024") + "</TR>" +
                                  Tr({"10:00-11:00", kNb}) + Tr({"2", "12:00-13:00<br>Sali"}) +
                                  Tr({"3", Link("2") + "13:00-14:00<br>Sali</A>"}));
  // Ten characters are not a login.
  EXPECT_EQ(GridOf("ABCDEFGHIJ"), kCorner + Th("Maanantai", "01.01.2024") + "</TR>" + Tr({"10:00-11:00", kNb}) +
                                      Tr({"2", "12:00-13:00<br>Sali"}) + Tr({"3", "13:00-14:00<br>Sali"}));
}

TEST_F(CalendarWeekGrid, TypeAAndInstructorsByNaytaOhjaaja) {
  InsertRow(centre.conn(), "VAOHJAAJA", {{"Koodi", "O1"}, {"Lyhenne", "MV"}, {"Nimi", "Matti Virtanen"}});
  centre.AddSlot({.at = "2024-01-01 10:00:00", .tyyppi = "A", .ohjaaja = "O1"});
  centre.AddSlot({.at = "2024-01-01 11:00:00"});                // no instructor
  centre.AddSlot({.at = "2024-01-01 12:00:00", .ohjaaja = "X9"});  // not in the table
  const std::string head = kCorner + Th("Maanantai", "01.01.2024") + "</TR>";
  auto grid = [&](int naytaOhjaaja) {
    ModuleHere m(centre.site());
    m->settings.NaytaOhjaaja = naytaOhjaaja;
    m->page.Resurssi = "R1";
    m->page.ChosenDate = At(2024, 1, 1);
    std::string out = m.Grid();
    EXPECT_EQ(m->codes.instructors.rows.has_value(), naytaOhjaaja != 0);  // read only when shown
    return out;
  };
  EXPECT_EQ(grid(0), head + Tr({"1", "10:00-11:00<br>Sali %"}) + Tr({"2", "11:00-12:00<br>Sali"}) +
                         Tr({"3", "12:00-13:00<br>Sali"}));
  EXPECT_EQ(grid(1), head + Tr({"1", "10:00-11:00<br>Sali %<br>MV"}) + Tr({"2", "11:00-12:00<br>Sali"}) +
                         Tr({"3", "12:00-13:00<br>Sali<br>X9"}));
  EXPECT_EQ(grid(2), head + Tr({"1", "10:00-11:00<br>Sali %<br>Matti Virtanen"}) +
                         Tr({"2", "11:00-12:00<br>Sali"}) + Tr({"3", "12:00-13:00<br>Sali<br>X9"}));
}

TEST_F(CalendarWeekGrid, NinetySixRowsAtMost) {
  // 100 ordinary slots on Monday: the last four do not fit.
  std::string sql = "BEGIN;";
  for (int i = 0; i < 100; ++i) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "INSERT INTO VaVuoro(VuoroNo,VuoroNoSeq,ResNo,VuoroAika,Kesto,Maara,Laji,Kausi) "
                  "VALUES('%5d','    1','R1','2024-01-01 %02d:%02d:00','00:10:00',5,'K1','2024');",
                  i + 1, i * 10 / 60 + 1, i * 10 % 60);
    sql += buf;
  }
  centre.Sql(sql + "COMMIT;");
  ModuleHere m(centre.site());
  m->page.Resurssi = "R1";
  m->page.ChosenDate = At(2024, 1, 1);
  std::string out = m.Grid();
  EXPECT_EQ(m->RowCount, 96);
  EXPECT_NE(out.find(Tr({"96", "16:50-17:00<br>Sali"})), std::string::npos);
  EXPECT_EQ(out.find("17:00-17:10"), std::string::npos);
  EXPECT_EQ(out.find("<td>97</td>"), std::string::npos);
}

TEST_F(CalendarWeekGrid, FullTimeRowsLeaveANewTimeOut) {
  // Monday fills all 96 rows with fixed times; on Tuesday a new time finds
  // no room and is left out, while a known time still finds its row.
  FixedNow dayBefore(At(2023, 12, 31, 12, 0));
  std::string sql = "BEGIN;";
  for (int i = 0; i < 96; ++i) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "INSERT INTO VaVuoro(VuoroNo,VuoroNoSeq,ResNo,VuoroAika,Kesto,Maara,Laji,Tyyppi,Kausi) "
                  "VALUES('%5d','    1','R1','2024-01-01 %02d:%02d:00','00:15:00',5,'K1','S','2024');",
                  i + 1, i / 4, i % 4 * 15);
    sql += buf;
  }
  centre.Sql(sql + "COMMIT;");
  centre.AddSlot({.at = "2024-01-02 00:05:00", .tyyppi = "S", .vuoroNo = " 2001"});  // no room for 00:05
  centre.AddSlot({.at = "2024-01-02 23:45:00", .tyyppi = "S", .vuoroNo = " 2002"});  // row 96
  ModuleHere m(centre.site());
  m->page.SessionId = kSession;
  m->page.Resurssi = "R1";
  m->page.ChosenDate = At(2024, 1, 1);
  std::string out = m.Grid();
  EXPECT_EQ(m->RowCount, 96);
  EXPECT_EQ(m->ColumnCount, 2);
  EXPECT_EQ(out.find("Vuo=2001&"), std::string::npos);
  EXPECT_NE(out.find(Tr({"23:45-00:00", Link("96") + "Varaa</A>", Link("2002") + "Varaa</A>"})), std::string::npos);
  EXPECT_NE(out.find(Tr({"00:00-00:15", Link("1") + "Varaa</A>", kNb})), std::string::npos);
}

TEST_F(CalendarWeekGrid, BuffersAreAllocatedWhenEmptyAndClearedOnEveryFill) {
  centre.AddSlot({.at = "2024-01-01 10:00:00", .tyyppi = "S"});
  ModuleHere m(centre.site());
  m->WeekGrid.clear();
  m->TimeRows.clear();
  m->page.Resurssi = "R1";
  m->page.ChosenDate = At(2024, 1, 1);
  m.Grid();
  ASSERT_GE(m->WeekGrid.size(), 1u);
  EXPECT_EQ(m->RowCount, 1);
  EXPECT_EQ(m->WeekGrid[0][0].Used, 1);
  m->page.Resurssi = "R2";  // no slots: the earlier rows are gone
  EXPECT_EQ(m.Grid(), kCorner + "</TR>");
  for (const auto& row : m->WeekGrid)
    for (const GridCell& c : row) EXPECT_EQ(c.Used, 0);
  EXPECT_EQ(m->TimeRows[0].Used, 0);
}

}  // namespace
}  // namespace wo::test::cal
