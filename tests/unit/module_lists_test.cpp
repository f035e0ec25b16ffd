// VUOROLISTA and OMATLISTA: which renderer each list form calls, the header
// row of the list forms, the resources of a centre in name order, and the
// escaping of a resource code that no table names.
#include "module/module.h"
#include "module_harness.h"

namespace wo::test {
namespace {

const std::string kHeader =
    "<tr class=\"otsikko\">\r<th width=\"28%\" colspan=2>Vuoro</th><th>Resurssi</th><th>Laji</th><th>Toiminto</th>\r"
    "</tr>\r";

void Slot(store::Connection& c, const char* resNo, const char* vuoroNo, const char* start) {
  InsertRow(c, "VaVuoro", {{"Kausi", "2024"}, {"VuoroNo", vuoroNo}, {"VuoroNoSeq", "1"}, {"ResNo", resNo},
                           {"VuoroAika", start}, {"Kesto", "01:00:00"}, {"Maara", "2"}, {"Laji", "SU"}});
}

size_t Count(const std::string& s, std::string_view what) {
  size_t n = 0;
  for (size_t p = 0; (p = s.find(what, p)) != std::string::npos; p += what.size()) ++n;
  return n;
}

TEST(ModuleLists, ResourceListFormHeaderAndEmptyDay) {
  TempSite site;
  ModuleOnSite m(site);
  FixedClock clock(At(2024, 5, 10, 8, 0));
  m->settings.ListanMuoto = 1;
  m->page.Resurssi = "R1";
  m->page.ResourceName = "Sali 1";
  m->page.ChosenDate = At(2024, 5, 11);
  EXPECT_EQ(m.Tag("VUOROLISTA"), kHeader + "</TR>");
  m->settings.NaytaOhjaaja = 2;
  EXPECT_EQ(m.Tag("vuorolista"),
            "<tr class=\"otsikko\">\r<th width=\"28%\" colspan=2>Vuoro</th><th>Resurssi</th><th>Laji</th>"
            "<th>Ohjaaja</th><th>Toiminto</th>\r</tr>\r</TR>");
}

TEST(ModuleLists, CentreListFormShowsTheCentresResourcesByName) {
  TempSite site;
  auto c = site.Connect();
  InsertRow(*c, "VARESNIMI", {{"ResNo", "R1"}, {"ResNimi", "Sali B"}, {"ResWebNayta", "1"}, {"ResKeskus", "K1"}});
  InsertRow(*c, "VARESNIMI", {{"ResNo", "R2"}, {"ResNimi", "Sali A"}, {"ResWebNayta", "1"}, {"ResKeskus", "K1"}});
  InsertRow(*c, "VARESNIMI", {{"ResNo", "R3"}, {"ResNimi", "Piilossa"}, {"ResWebNayta", "0"}, {"ResKeskus", "K1"}});
  InsertRow(*c, "VARESNIMI", {{"ResNo", "R4"}, {"ResNimi", "Muualla"}, {"ResWebNayta", "1"}, {"ResKeskus", "K2"}});
  for (const char* res : {"R1", "R2", "R3", "R4"}) Slot(*c, res, res, "2024-05-11 10:00:00");
  FixedClock clock(At(2024, 5, 10, 8, 0));
  ModuleOnSite m(site);
  m->settings.ListanMuoto = 2;
  m->page.Resurssi = "K1";
  m->page.ResourceName = "Keskus 1";
  m->page.ChosenDate = At(2024, 5, 11);
  std::string list = m.Tag("VUOROLISTA");
  EXPECT_EQ(list.substr(0, kHeader.size()), kHeader);
  size_t a = list.find("<td>Sali A</td>"), b = list.find("<td>Sali B</td>");
  ASSERT_NE(a, std::string::npos) << list;
  ASSERT_NE(b, std::string::npos) << list;
  EXPECT_LT(a, b);
  EXPECT_EQ(list.find("Piilossa"), std::string::npos);
  EXPECT_EQ(list.find("Muualla"), std::string::npos);
  EXPECT_EQ(Count(list, "</TR>"), 2u);  // one slot list per shown resource
  EXPECT_FALSE(m->tbl->TblRes.IsOpen());
}

TEST(ModuleLists, UnknownResourceCodeIsEscapedInTheList) {
  TempSite site;
  auto c = site.Connect();
  Slot(*c, "<b>", "V1", "2024-05-11 10:00:00");
  FixedClock clock(At(2024, 5, 10, 8, 0));
  ModuleOnSite m(site);
  m->settings.ListanMuoto = 1;
  m->page.Resurssi = "<b>";
  m->page.ResourceName = "<b>";  // as ResourceNameOf gives a code the table lacks
  m->page.ChosenDate = At(2024, 5, 11);
  std::string list = m.Tag("VUOROLISTA");
  EXPECT_NE(list.find("<td>&lt;b&gt;</td>"), std::string::npos) << list;
  EXPECT_EQ(list.find("<b>"), std::string::npos);
}

TEST(ModuleLists, WeekGridFormAndOwnReservations) {
  TempSite site;
  auto c = site.Connect();
  InsertRow(*c, "WEBREG", {{"Tunnus", "matti"}, {"PinKoodi", "x"}, {"AsNo", "1"}, {"ID", "111O4567890123"},
                           {"Aika", ToStoredDateTime(Now())}, {"Sukunimi", "Virtanen"}, {"EtuNimi", "Matti"}});
  FixedClock clock(At(2024, 5, 10, 8, 0));
  ModuleOnSite m(site);
  m->page.Resurssi = "R1";
  m->page.ChosenDate = At(2024, 5, 11);
  EXPECT_EQ(m.Tag("VUOROLISTA"), "<TR><th>&nbsp;</th>\r</TR>");  // no slots: the corner cell alone

  EXPECT_EQ(m.Tag("OMATLISTA"), "");  // nobody logged in
  m->page.SessionId = "111O4567890123";
  std::string own = m.Tag("OMATLISTA");
  EXPECT_NE(own.find("<th>K\xe4ytt\xe4j\xe4</th><th colspan=3>Virtanen Matti</th>"), std::string::npos) << own;
}

}  // namespace
}  // namespace wo::test
