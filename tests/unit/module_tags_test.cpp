// The tag vocabulary: exact bytes of each tag for visitors and logged-in
// users, the thresholds of the links, option lists by the clock, notice
// rows, error messages, header templates, escaping of request values, and
// the session details of the registration form.
#include "base/format.h"
#include "base/text.h"
#include "frame/page_producer.h"
#include "module/session.h"
#include "module/tags.h"
#include "module_harness.h"

namespace wo::test {
namespace {

const std::string kLoggedIn = "123O45678901234";  // 15 characters
const std::string kTen = "123O456789";            // 10 characters

std::string Lines(std::initializer_list<std::string_view> parts) {
  std::string r;
  for (std::string_view p : parts) {
    r += p;
    r += '\r';
  }
  return r;
}

TEST(ModuleTags, NamesCompareWithoutCaseAndUnknownVanish) {
  TempSite site;
  ModuleOnSite m(site);
  std::string menu = m.Tag("PGMENU");
  EXPECT_FALSE(menu.empty());
  EXPECT_EQ(m.Tag("pgmenu"), menu);
  EXPECT_EQ(m.Tag("PgMenu"), menu);
  EXPECT_EQ(m.Tag("PGMENU2"), "");
  EXPECT_EQ(m.Tag("NOSUCHTAG"), "");
  EXPECT_EQ(m.Tag("yritys"), m.Tag("YRITYS"));
}

TEST(ModuleTags, MenuForVisitorsAndLoggedInUsers) {
  TempSite site;
  ModuleOnSite m(site);
  const std::string visitor =
      "<th><A HREF=\"/cgi-bin/WebOrvane.exe/login?Lang=FIN\">Kirjaudu sis\xe4\xe4n</A></th>\r"
      "<th><A HREF=\"/cgi-bin/WebOrvane.exe/Regin?ID=0&Lang=FIN\">Rekister\xf6idy k\xe4ytt\xe4j\xe4ksi</A></th>\r"
      "<th><A HREF=\"/cgi-bin/WebOrvane.exe/index?Lang=Fin\">FIN</A></th>\r"
      "<th><A HREF=\"/cgi-bin/WebOrvane.exe/index?Lang=Eng\">ENG</A></th>";
  EXPECT_EQ(m.Tag("PGMENU"), visitor);

  // Ten characters are not enough for the menu.
  m->page.SessionId = kTen;
  std::string ten = m.Tag("PGMENU");
  EXPECT_NE(ten.find("Regin?ID=" + kTen + "&Lang=FIN"), std::string::npos);
  EXPECT_NE(ten.find("login?Lang=FIN"), std::string::npos);

  m->page.SessionId = kLoggedIn;
  const std::string q = "?ID=" + kLoggedIn + "&Lang=FIN\">";
  EXPECT_EQ(m.Tag("PGMENU"), "<th><A HREF=\"/cgi-bin/WebOrvane.exe/Omat" + q + "Omat varaukset</A></th>\r" +
                                 "<th><A HREF=\"/cgi-bin/WebOrvane.exe/Resval" + q + "Uusi varaus</A></th>\r" +
                                 "<th><A HREF=\"/cgi-bin/WebOrvane.exe/Regin" + q + "Omat tiedot</A></th>\r" +
                                 "<th><A HREF=\"/cgi-bin/WebOrvane.exe/Vaihda" + q + "Vaihda salasana</A></th>\r" +
                                 "<th><A HREF=\"/cgi-bin/WebOrvane.exe/LogOut" + q + "Kirjaudu ulos</A></th>");
}

TEST(ModuleTags, HomeAndRulesLinksThresholds) {
  TempSite site;
  ModuleOnSite m(site);
  m->settings.LnkKoti = "abcd";
  EXPECT_EQ(m.Tag("KOTISIVU"), "");
  m->settings.LnkKoti = "abcde";
  EXPECT_EQ(m.Tag("KOTISIVU"), "<th><A HREF=\"abcde\" target=\"_top\">Kotisivut</A></th>");
  m->page.SessionId = kLoggedIn;  // the home link ignores the login state
  EXPECT_EQ(m.Tag("KOTISIVU"), "<th><A HREF=\"abcde\" target=\"_top\">Kotisivut</A></th>");

  m->page.SessionId = "0";
  m->settings.LnkSaanto = "abcd";
  EXPECT_EQ(m.Tag("YRSAANTO"), "");
  m->settings.LnkSaanto = "r.htm";
  const std::string rules =
      "<br><b><A HREF=\"r.htm\">Ennen rekister\xf6itymist\xe4: Lue t\xe4st\xe4 Internet-varausj\xe4rjestelm\xe4n "
      "k\xe4ytt\xf6\xe4 koskevat s\xe4\xe4nn\xf6t.</A></b><br><br>";
  EXPECT_EQ(m.Tag("YRSAANTO"), rules);
  m->page.SessionId = "123O45678";  // 9
  EXPECT_EQ(m.Tag("YRSAANTO"), rules);
  m->page.SessionId = kTen;
  EXPECT_EQ(m.Tag("YRSAANTO"), "");
}

TEST(ModuleTags, RegistrationTagsForVisitorAndLoggedIn) {
  TempSite site;
  ModuleOnSite m(site);
  RegDetailsT& d = m->page.RegDetails;
  d = {"matti", "Virtanen", "Matti", "Katu 1", "00100", "Helsinki", "m@example.org", "09-1", "040-2"};
  // Visitor.
  EXPECT_EQ(m.Tag("RGPASSWORD"), "Salasana&nbsp;<input name=\"Koodi\" type=\"password\" size=10 value=\"\">");
  for (const char* t : {"RGSNIMI", "RGENIMI", "RGOS01", "RGOS02", "RGOS03", "RGEMAIL", "RGPUH", "RGMPUH"})
    EXPECT_EQ(m.Tag(t), "") << t;
  EXPECT_EQ(m.Tag("RGTUNNUS"), "matti");  // shown either way
  const std::string accept = "<input type=\"submit\" name=\"Toim\" value=\"Hyv\xe4ksyn s\xe4\xe4nn\xf6t ja haluan rekister\xf6ity\xe4\">";
  EXPECT_EQ(m.Tag("RGNAPPI01"), accept);
  m->settings.LnkSaanto = "r.htm";
  EXPECT_EQ(m.Tag("RGNAPPI01"), accept + "&nbsp;<input type=\"submit\" name=\"Toim\" value=\"En hyv\xe4ksy s\xe4\xe4nt\xf6j\xe4\">");

  // Anything but "0" counts as logged in here, ten characters included.
  m->page.SessionId = kTen;
  EXPECT_EQ(m.Tag("RGPASSWORD"), "");
  EXPECT_EQ(m.Tag("RGSNIMI") + m.Tag("RGENIMI") + m.Tag("RGOS01") + m.Tag("RGOS02") + m.Tag("RGOS03") +
                m.Tag("RGEMAIL") + m.Tag("RGPUH") + m.Tag("RGMPUH"),
            "VirtanenMattiKatu 100100Helsinkim@example.org09-1040-2");
  EXPECT_EQ(m.Tag("RGNAPPI01"), "<input name=\"Toim\" type=\"submit\" value=\"Talleta muutokset\">");

  m->page.RegMode = "Y";
  EXPECT_EQ(m.Tag("RGMODETXT"), "P\xe4ivitys");
  for (const char* mode : {"y", "Y ", "", "N"}) {
    m->page.RegMode = mode;
    EXPECT_EQ(m.Tag("RGMODETXT"), "Rekister\xf6ityminen") << mode;
  }
}

TEST(ModuleTags, RequestValuesAreEscapedOrdinaryOnesUnchanged) {
  TempSite site;
  ModuleOnSite m(site);
  m->page.Lang = "\"><script>";
  m->page.SessionId = "a'b\"c";
  EXPECT_EQ(m.Tag("LANG"), "&quot;&gt;&lt;script&gt;");
  EXPECT_EQ(m.Tag("ID"), "a&#39;b&quot;c");
  std::string menu = m.Tag("PGMENU");
  EXPECT_NE(menu.find("login?Lang=%22%3E%3Cscript%3E\">"), std::string::npos) << menu;
  EXPECT_NE(menu.find("Regin?ID=a%27b%22c&Lang=%22%3E%3Cscript%3E\">"), std::string::npos) << menu;
  EXPECT_EQ(menu.find("<script>"), std::string::npos);

  m->page.SessionId = "12345678901&x=<";
  EXPECT_NE(m.Tag("PGMENU").find("Omat?ID=12345678901%26x%3D%3C&Lang="), std::string::npos);
  m->page.RegDetails.Sukunimi = "O'Brien <b>";
  m->page.RegDetails.Tunnus = "\"x\"";
  EXPECT_EQ(m.Tag("RGSNIMI"), "O&#39;Brien &lt;b&gt;");
  EXPECT_EQ(m.Tag("RGTUNNUS"), "&quot;x&quot;");

  // A name from the resource table goes in as it is; the request's own code
  // (shown when the table lacks it) is escaped.
  m->page.Resurssi = "R1";
  m->page.ResourceName = "Sali & <b>";
  EXPECT_EQ(m.Tag("RESURSSI"), "Sali & <b>");
  m->page.Resurssi = "<i>";
  m->page.ResourceName = "<i>";
  EXPECT_EQ(m.Tag("RESURSSI"), "&lt;i&gt;");

  m->page.Lang = "Eng";
  m->page.SessionId = "0";
  m->page.Resurssi = "R1";
  m->page.ResourceName = "Sali 1";
  EXPECT_EQ(m.Tag("LANG"), "Eng");
  EXPECT_EQ(m.Tag("ID"), "0");
  EXPECT_EQ(m.Tag("RESURSSI"), "Sali 1");
}

TEST(ModuleTags, PlainValuesAndMail) {
  TempSite site;
  auto c = site.Connect();
  InsertRow(*c, "WEBPARAM", {{"Numero", "01"}, {"OsoiteRivi1", "Katu & 1"}, {"OsoiteRivi2", "00100"},
                             {"Puhelin", "09-1"}, {"Logo", "l.gif"}});
  site.WriteIni("[Site]\nCompanyName=Keskus <Oy>\n");
  ModuleOnSite m(site);
  EXPECT_EQ(m.Tag("YRITYS"), "Keskus <Oy>");  // site settings go in as they are
  EXPECT_EQ(m.Tag("YROSOITE1"), "Katu & 1");
  EXPECT_EQ(m.Tag("YROSOITE2"), "00100");
  EXPECT_EQ(m.Tag("YRPUHELIN"), "09-1");
  EXPECT_EQ(m.Tag("LOGO"), "l.gif");
  EXPECT_EQ(m.Tag("YREMAIL"), "");
  m->settings.EMail = "a@b.fi";
  EXPECT_EQ(m.Tag("YREMAIL"), "<a href=\"mailto:a@b.fi\">a@b.fi</a>");
  m->page.ReservationText = "Sali 1 10.05.2024 10:00";
  m->page.HiddenFields = "<input type=\"hidden\" name=\"Kau\" value=\"2024\">";
  EXPECT_EQ(m.Tag("VARAUS"), "Sali 1 10.05.2024 10:00");
  EXPECT_EQ(m.Tag("VARPARAM"), "<input type=\"hidden\" name=\"Kau\" value=\"2024\">");
  FixedClock clock(At(2024, 3, 5, 7, 9));
  EXPECT_EQ(m.Tag("AIKALEIMA"), "05.03.2024 07:09");
}

TEST(ModuleTags, PreviousAndNextLinks) {
  TempSite site;
  ModuleOnSite m(site);
  FixedClock clock(At(2024, 5, 10, 15, 30));
  m->page.Resurssi = "R1";
  const std::string head = "<A HREF=\"/cgi-bin/WebOrvane.exe/Viikko?ID=0&Lang=FIN&Resurssi=R1";
  EXPECT_EQ(m.Tag("EVKOLNK"), "");  // no date chosen
  EXPECT_EQ(m.Tag("SVKOLNK"), "");

  // Week grid form: a week back, but never before today.
  m->page.ChosenDate = At(2024, 5, 13);
  EXPECT_EQ(m.Tag("EVKOLNK"), head + "&PP=10&KK=5&VV=2024\">");
  EXPECT_EQ(m.Tag("SVKOLNK"), head + "&PP=20&KK=5&VV=2024\">");
  m->page.ChosenDate = At(2024, 5, 10);
  EXPECT_EQ(m.Tag("EVKOLNK"), head + "&PP=10&KK=5&VV=2024\">");
  m->page.ChosenDate = At(2024, 5, 20);
  EXPECT_EQ(m.Tag("EVKOLNK"), head + "&PP=13&KK=5&VV=2024\">");

  // List forms: a day at a time, across the year.
  m->settings.ListanMuoto = 1;
  m->page.ChosenDate = At(2024, 12, 31);
  EXPECT_EQ(m.Tag("SVKOLNK"), head + "&PP=1&KK=1&VV=2025\">");
  EXPECT_EQ(m.Tag("EVKOLNK"), head + "&PP=30&KK=12&VV=2024\">");

  m->page.Resurssi = "a&b";
  EXPECT_NE(m.Tag("SVKOLNK").find("&Resurssi=a%26b&PP=1"), std::string::npos);
}

TEST(ModuleTags, DayMonthYearOptionsFollowTheClock) {
  TempSite site;
  ModuleOnSite m(site);
  {
    FixedClock clock(At(2023, 2, 14, 9, 0));
    std::string days = m.Tag("SELECTPP");
    size_t n = 0;
    for (size_t p = 0; (p = days.find("<option ", p)) != std::string::npos; ++p) ++n;
    EXPECT_EQ(n, 31u);  // every day number, whatever the month
    EXPECT_EQ(days.substr(0, 22), "<option value=\"1\">1\r<o");
    EXPECT_NE(days.find("\r<option selected value=\"14\">14\r<option value=\"15\">15\r"), std::string::npos);
    EXPECT_EQ(days.substr(days.size() - 22), "<option value=\"31\">31\r");
    EXPECT_EQ(days.find("selected"), days.rfind("selected"));
    std::string months = m.Tag("SELECTKK");
    const std::string firstTwo = Lines({"<option value=\"1\">1", "<option selected value=\"2\">2"});
    EXPECT_EQ(months.substr(0, firstTwo.size()), firstTwo);
    EXPECT_EQ(months.substr(months.size() - 22), "<option value=\"12\">12\r");
  }
  FixedClock clock(At(2024, 12, 31, 23, 59));
  EXPECT_EQ(m.Tag("SELECTVV"), Lines({"<option selected value=\"2024\">2024", "<option value=\"2025\">2025"}));
  EXPECT_NE(m.Tag("SELECTPP").find("<option selected value=\"31\">31\r"), std::string::npos);
}

TEST(ModuleTags, ResourceAndCentreOptions) {
  TempSite site;
  auto c = site.Connect();
  InsertRow(*c, "VARESNIMI", {{"ResNo", "R2"}, {"ResNimi", "Sali & 2"}, {"ResWebNayta", "1"}});
  InsertRow(*c, "VARESNIMI", {{"ResNo", "R1"}, {"ResNimi", "Sali 1"}, {"ResWebNayta", "1"}});
  InsertRow(*c, "VARESNIMI", {{"ResNo", "R0"}, {"ResNimi", "Piilossa"}, {"ResWebNayta", "0"}});
  InsertRow(*c, "VARESNIMI", {{"ResNo", "R3"}, {"ResNimi", "Ei lippua"}});
  InsertRow(*c, "WEBKESKUS", {{"WebKeskus", "K2"}, {"WebKeskusNimi", "Keskus 2"}, {"WebNayta", "1"}});
  InsertRow(*c, "WEBKESKUS", {{"WebKeskus", "K1"}, {"WebKeskusNimi", "Keskus 1"}, {"WebNayta", "2"}});
  ModuleOnSite m(site);
  m->page.Resurssi = "R2";  // plays no part in the marking
  EXPECT_EQ(m.Tag("SELECTRESURSSI"), Lines({"<option selected value=\"R1\">Sali 1", "<option value=\"R2\">Sali & 2"}));
  EXPECT_FALSE(m->tbl->TblResNimi.IsOpen());
  m->settings.ListanMuoto = 2;
  EXPECT_EQ(m.Tag("SELECTRESURSSI"), Lines({"<option selected value=\"K2\">Keskus 2"}));
  EXPECT_FALSE(m->tbl->TblWebKeskus.IsOpen());

  TempSite empty;
  ModuleOnSite e(empty);
  EXPECT_EQ(e.Tag("SELECTRESURSSI"), "");
}

TEST(ModuleTags, CodeSelection) {
  TempSite site;
  auto c = site.Connect();
  InsertRow(*c, "WEBKOODI", {{"ResNo", "R1"}, {"WebKoodi", "B"}, {"WebSelite", "Bee"}});
  InsertRow(*c, "WEBKOODI", {{"ResNo", "R1"}, {"WebKoodi", "A"}, {"WebSelite", "Aa"}});
  InsertRow(*c, "WEBKOODI", {{"ResNo", "R2345"}, {"WebKoodi", "C"}, {"WebSelite", "Cee"}});
  ModuleOnSite m(site);
  m->page.Resurssi = "R1";
  EXPECT_EQ(m.Tag("SELECTKOODI"), Lines({"<tr><td>Valitse</td><td><select name=\"Koodi\">",
                                         "<option selected value=\"Web\">Ei valintaa", "<option value=\"A\">Aa",
                                         "<option value=\"B\">Bee", "</select></td></tr>"}));
  EXPECT_FALSE(m->tbl->TblWebKoodi.IsOpen());
  m->page.Resurssi = "R9";
  EXPECT_EQ(m.Tag("SELECTKOODI"), "");
  EXPECT_EQ(BuildCodeSelect(*m, "R234567"), BuildCodeSelect(*m, "R2345"));  // cut to 5
  EXPECT_NE(BuildCodeSelect(*m, "R2345").find("<option value=\"C\">Cee\r"), std::string::npos);
}

TEST(ModuleTags, NoticeRows) {
  TempSite site;
  ModuleOnSite m(site);
  Settings& s = m->settings;
  s.Varausmaksu = 5;
  for (int off : {0, 2}) {
    s.VarMaksuKaytossa = off;
    EXPECT_EQ(m.Tag("ENNAKKOVARAUS") + m.Tag("ENNAKKOVARAUSPOIS") + m.Tag("ENNAKKOILMOITUS"), "") << off;
  }
  s.VarMaksuKaytossa = 1;
  s.PoistaEnnenPv = 0;
  EXPECT_EQ(m.Tag("POISENNENPV"), "");
  EXPECT_EQ(m.Tag("ENNAKKOVARAUS"), "\r<tr><td colspan=2><b>\rEnnakkovaraus maksaa       5.00 Eur.\r</b></td></tr>");
  EXPECT_EQ(m.Tag("ENNAKKOVARAUSPOIS"),
            "\r<tr><td colspan=2><b>\rEnnakkovarausmaksu palautetaan saldoon, jos poistaminen tapahtuu "
            "viimeist\xe4\xe4n 0 tuntia ennen varattua tuntia.\r</b></td></tr>");
  EXPECT_EQ(m.Tag("ENNAKKOILMOITUS"),
            "\r<tr><td colspan=3>\rJokainen varauksen tekeminen maksaa 5.00 euroa, joka v\xe4hennet\xe4\xe4n "
            "saldostasi heti kun teet varauksen.\r</td></tr>");
  s.PoistaEnnenPv = 24;
  s.Varausmaksu = 1234567.891;
  EXPECT_EQ(m.Tag("POISENNENPV"),
            "<tr><td colspan=2><b>\rVarauksen poistaminen on teht\xe4v\xe4 viimeist\xe4\xe4n 24 tuntia ennen "
            "varattua tuntia.\r</b></td></tr>");
  EXPECT_NE(m.Tag("ENNAKKOVARAUS").find("maksaa 1234567.89 Eur."), std::string::npos);
}

TEST(ModuleTags, ErrorMessages) {
  TempSite site;
  ModuleOnSite m(site);
  auto error = [&](int code) {
    m->page.ErrorCode = static_cast<PageError>(code);
    return m.Tag("ERROR");
  };
  EXPECT_EQ(error(0), "Hakutoiminnassa tapahtui virhe. Yrit\xe4 kohta uudelleen,tarkista hakuehdot!");
  EXPECT_EQ(error(1), "Varaus on jo olemassa t\xe4lle vuorolle!");
  EXPECT_EQ(error(2), "K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 varauksia voi olla vain 4 kpl!");
  EXPECT_EQ(error(3), "Pakollisia tietoja puuttuu (sukunimi, etunimi, puh.numero...)!");
  EXPECT_EQ(error(4), "Tunnus tai salasana on virheellinen (4-14 merkki\xe4)!");
  EXPECT_EQ(error(5), "Varausta ei l\xf6ydy!");
  EXPECT_EQ(error(6), "Varauksia voi tehd\xe4 vain 30 p\xe4iv\xe4\xe4 eteenp\xe4in!");
  EXPECT_EQ(error(7), "K\xe4ytt\xe4m\xe4tt\xf6mi\xe4 vanhoja varauksia voi olla vain 3 kpl!");
  EXPECT_EQ(error(8), "Saldon luottoraja ylitetty!");
  EXPECT_EQ(error(9), "Vuoroa ei voi en\xe4\xe4 varata!");
  EXPECT_EQ(error(10), "Varausta ei voi en\xe4\xe4 poistaa!");
  m->page.ErrorDetail = "etunimi, puhelinnumero";
  EXPECT_EQ(error(14), "T\xe4yt\xe4 pakolliset tiedot: etunimi, puhelinnumero.");
  EXPECT_EQ(error(99), "");
  EXPECT_EQ(error(-1), "");
  m->settings.MaxAsVaraus = 12;
  m->settings.MaxVarausPv = 7;
  m->settings.MaxVanhatVaraukset = 0;
  EXPECT_NE(error(2).find("vain 12 kpl!"), std::string::npos);
  EXPECT_NE(error(6).find("vain 7 p\xe4iv\xe4\xe4"), std::string::npos);
  EXPECT_NE(error(7).find("vain 0 kpl!"), std::string::npos);
}

TEST(ModuleTags, HeaderTemplatesAndTheirGuard) {
  TempSite site;
  site.WriteTemplate("Fin", "otsikko.html", "F[<#LANG>]<#PGOTSIKKO><#PGOTSIKKOALA>");
  site.WriteTemplate("Eng", "otsikko.html", "E[<#LANG>]<#ERROR>");
  site.WriteTemplate("Fin", "ala.html", "ALA<#pgotsikko>");
  ModuleOnSite m(site);
  m->page.Lang = "eng";
  EXPECT_EQ(m.Tag("PGOTSIKKO"), "E[eng]Hakutoiminnassa tapahtui virhe. Yrit\xe4 kohta uudelleen,tarkista hakuehdot!");
  m->page.Lang = "SWE";  // Finnish templates, texts of the language SWE
  EXPECT_EQ(m.Tag("PGOTSIKKO"), "F[SWE]");
  EXPECT_EQ(m.Tag("PGOTSIKKOALA"), "");  // no footer by default
  m->settings.OtsikkoAla = " \t ";
  EXPECT_EQ(m.Tag("PGOTSIKKOALA"), "");
  m->settings.OtsikkoAla = "ala.html";
  EXPECT_EQ(m.Tag("PGOTSIKKOALA"), "ALA");
  EXPECT_EQ(m.Tag("PGOTSIKKO"), "F[SWE]");  // the footer inside the header is not expanded
  EXPECT_EQ(m.Tag("PGOTSIKKOALA"), "ALA");

  m->settings.OtsikkoYla = "puuttuu.html";
  EXPECT_THROW(m.Tag("PGOTSIKKO"), TemplateError);
  m->settings.OtsikkoYla = "otsikko.html";
  EXPECT_EQ(m.Tag("PGOTSIKKO"), "F[SWE]");  // the guard is lifted after a failure
}

TEST(ModuleTags, RegistrationDetailsOfTheSession) {
  TempSite site;
  auto c = site.Connect();
  FixedClock clock(At(2024, 5, 10, 12, 0));
  auto user = [&](const char* tunnus, const char* id, const char* aika) {
    InsertRow(*c, "WEBREG",
              {{"Tunnus", tunnus}, {"PinKoodi", "x"}, {"ID", id}, {"Aika", aika}, {"Sukunimi", "Virtanen"},
               {"EtuNimi", "Matti"}, {"KatuOsoite1", "Katu 1"}, {"PostiNo", "00100"}, {"PostiToimiPaikka", "Hki"},
               {"EMail1", "m@x.fi"}, {"PuhNo", "09-1"}, {"MatkaPuh", "040-2"}});
  };
  user("matti", "111O4567890123", "2024-05-10 00:01:00");  // 11 h 59 min ago
  user("liisa", "222O4567890123", "2024-05-10 00:00:00");  // exactly 12 h ago
  user("kalle", "0123456789", "2024-05-10 11:00:00");      // 10 characters

  ModuleOnSite m(site);
  m->page.SessionId = "111O4567890123";
  LoadRegistrationDetails(*m);
  EXPECT_EQ(m->page.SessionId, "111O4567890123");
  const RegDetailsT& d = m->page.RegDetails;
  EXPECT_EQ(d.Tunnus + "|" + d.Sukunimi + "|" + d.EtuNimi + "|" + d.KatuOsoite1 + "|" + d.PostiNo + "|" +
                d.PostiToimiPaikka + "|" + d.EMail1 + "|" + d.PuhNo + "|" + d.MatkaPuh,
            "matti|Virtanen|Matti|Katu 1|00100|Hki|m@x.fi|09-1|040-2");
  EXPECT_TRUE(m->tbl->TblWebReg.IsOpen());  // left open for the rest of the request
  EXPECT_EQ(m->tbl->TblWebReg.Index(), "ID;Tunnus");

  for (const char* id : {"222O4567890123", "0123456789", "999O4567890123", "0", ""}) {
    m->page.SessionId = "111O4567890123";
    LoadRegistrationDetails(*m);
    ASSERT_EQ(m->page.RegDetails.Tunnus, "matti");
    m->page.SessionId = id;
    LoadRegistrationDetails(*m);
    EXPECT_EQ(m->page.SessionId, "0") << id;
    EXPECT_EQ(m->page.RegDetails.Tunnus + m->page.RegDetails.Sukunimi + m->page.RegDetails.MatkaPuh, "") << id;
  }
}

TEST(ModuleTags, PadLeft15AndWeekdayNames) {
  EXPECT_EQ(PadLeft15("12345"), "          12345");
  EXPECT_EQ(PadLeft15("12345678901234567890"), "123456789012345");
  EXPECT_EQ(PadLeft15(""), std::string(15, ' '));
  EXPECT_EQ(FinnishWeekdayName(1), "Sunnuntai");
  EXPECT_EQ(FinnishWeekdayName(2), "Maanantai");
  EXPECT_EQ(FinnishWeekdayName(4), "Keskiviikko");
  EXPECT_EQ(FinnishWeekdayName(7), "Lauantai");
  EXPECT_EQ(FinnishWeekdayName(0), "Tuntematon");
  EXPECT_EQ(FinnishWeekdayName(8), "Tuntematon");
  // The grid numbers days as the clock's day of the week does.
  EXPECT_EQ(FinnishWeekdayName(DayOfWeek(At(2024, 5, 13))), "Maanantai");
}

}  // namespace
}  // namespace wo::test
