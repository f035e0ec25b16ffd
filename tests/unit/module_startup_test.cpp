// Module start-up: the settings row and its null rules, the INI file, a
// start-up that cannot read its settings, the error log and its rotation,
// and a request that reads nothing it does not need.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "module/ini.h"
#include "module/ini_server.h"
#include "module/module.h"
#include "module/site_log.h"
#include "module_harness.h"
#include "base/datetime.h"

namespace wo::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST(ModuleStartup, NoSettingsRowKeepsEveryStartValue) {
  TempSite site;
  ModuleOnSite m(site);
  const Settings& s = m->settings;
  EXPECT_EQ(s.MaxAsVaraus, 4);
  EXPECT_EQ(s.MaxVarausPv, 30);
  EXPECT_EQ(s.MaxVanhatPv, 180);
  EXPECT_EQ(s.MaxVanhatVaraukset, 3);
  EXPECT_EQ(s.Logo, "logo.jpg");
  EXPECT_EQ(s.OtsikkoYla, "otsikko.html");
  EXPECT_EQ(s.OtsikkoAla, "");
  const PageState& p = m->page;
  EXPECT_EQ(p.SessionId, "0");
  EXPECT_EQ(p.Lang, "FIN");
  EXPECT_EQ(p.ResourceName, "Ei m\xe4\xe4ritelty");
  EXPECT_EQ(static_cast<int>(p.ErrorCode), 0);
  // The calendar's buffers wait for a page that shows a calendar.
  EXPECT_EQ(m->WeekGrid.capacity() + m->TimeRows.capacity() + m->ActivityKinds.capacity(), 0u);
  // Another row than "01" is not the settings row.
  auto c = site.Connect();
  InsertRow(*c, "WEBPARAM", {{"Numero", "02"}, {"MaxAsVaraus", "9"}});
  ModuleOnSite m2(site);
  EXPECT_EQ(m2->settings.MaxAsVaraus, 4);
}

TEST(ModuleStartup, NullFieldsFollowEachSettingsRule) {
  TempSite site;
  auto c = site.Connect();
  InsertRow(*c, "WEBPARAM", {{"Numero", "01"}});  // every other field null
  ModuleOnSite m(site);
  const Settings& s = m->settings;
  // Null reads as 0 or empty, replacing the start value...
  EXPECT_EQ(s.MaxAsVaraus, 0);
  EXPECT_EQ(s.ListanMuoto, 0);
  EXPECT_EQ(s.NaytaOhjaaja, 0);
  EXPECT_EQ(s.Logo, "");
  EXPECT_EQ(s.OtsikkoAla, "");
  EXPECT_EQ(s.EMail, "");
  // ...or leaves the start value.
  EXPECT_EQ(s.MaxVarausPv, 30);
  EXPECT_EQ(s.MaxVanhatPv, 180);
  EXPECT_EQ(s.MaxVanhatVaraukset, 3);
  EXPECT_EQ(s.PoistaEnnenPv, 0);
  EXPECT_EQ(s.VarMaksuKaytossa, 0);
  EXPECT_EQ(s.Varausmaksu, 0.0);
  EXPECT_EQ(s.OtsikkoYla, "otsikko.html");
}

TEST(ModuleStartup, FullRowIsReadAndEmptyHeaderNameKeepsDefault) {
  TempSite site;
  auto c = site.Connect();
  InsertRow(*c, "WEBPARAM",
            {{"Numero", "01"}, {"OsoiteRivi1", "Katu 1"}, {"OsoiteRivi2", "00100 Kaupunki"},
             {"Puhelin", "09-123"}, {"EMail", "info@example.org"}, {"LnkKoti", "http://example.org"},
             {"LnkSaanto", "http://example.org/rules"}, {"MaxAsVaraus", "6"}, {"ListanMuoto", "2"},
             {"NaytaOhjaaja", "1"}, {"PoistaEnnenPv", "24"}, {"MaxVarausPv", "14"}, {"MaxVanhatPv", "60"},
             {"MaxVanhatVaraukset", "2"}, {"VarMaksuKaytossa", "1"}, {"Varausmaksu", "2.5"},
             {"Luottoraja", "-20"}, {"Logo", "oma.png"}, {"OtsikkoYla", ""}, {"OtsikkoAla", "ala.html"}});
  ModuleOnSite m(site);
  const Settings& s = m->settings;
  EXPECT_EQ(s.OsoiteRivi1, "Katu 1");
  EXPECT_EQ(s.OsoiteRivi2, "00100 Kaupunki");
  EXPECT_EQ(s.Puhelin, "09-123");
  EXPECT_EQ(s.EMail, "info@example.org");
  EXPECT_EQ(s.LnkKoti, "http://example.org");
  EXPECT_EQ(s.LnkSaanto, "http://example.org/rules");
  EXPECT_EQ(s.MaxAsVaraus, 6);
  EXPECT_EQ(s.ListanMuoto, 2);
  EXPECT_EQ(s.NaytaOhjaaja, 1);
  EXPECT_EQ(s.PoistaEnnenPv, 24);
  EXPECT_EQ(s.MaxVarausPv, 14);
  EXPECT_EQ(s.MaxVanhatPv, 60);
  EXPECT_EQ(s.MaxVanhatVaraukset, 2);
  EXPECT_EQ(s.VarMaksuKaytossa, 1);
  EXPECT_DOUBLE_EQ(s.Varausmaksu, 2.5);
  EXPECT_DOUBLE_EQ(s.Luottoraja, -20.0);
  EXPECT_EQ(s.Logo, "oma.png");
  EXPECT_EQ(s.OtsikkoYla, "otsikko.html");  // an empty name keeps the default
  EXPECT_EQ(s.OtsikkoAla, "ala.html");
}

TEST(ModuleStartup, IniValuesAreCutAndApplied) {
  TempSite site;
  site.WriteIni("ServerName=" + std::string(90, 'n') +
                "\n[site]\ncompanyname=" + std::string(60, 'c') +
                "\nDecimalSeparator=,\nTimeSeparator=.\n");
  auto c = site.Connect();
  InsertRow(*c, "WEBPARAM", {{"Numero", "01"}, {"VarMaksuKaytossa", "1"}, {"Varausmaksu", "5"}});
  {
    ModuleOnSite m(site);
    EXPECT_EQ(m->ServerName, std::string(80, 'n'));
    EXPECT_EQ(m->ServerAddress, "");
    EXPECT_EQ(m.Tag("YRITYS"), std::string(50, 'c'));
    EXPECT_NE(m.Tag("ENNAKKOVARAUS").find("      5,00 Eur."), std::string::npos);
    FixedClock clock(At(2024, 3, 5, 7, 9));
    EXPECT_EQ(m.Tag("AIKALEIMA"), "05.03.2024 07.09");
  }
}

TEST(ModuleStartup, UnreadableSettingsGiveTheStartupFailurePage) {
  TempSite site;
  site.WriteTemplate("Fin", "index.html", "never shown");
  ExecSql(site, "DROP TABLE WEBPARAM");
  CgiResult r = site.RunInProcess("/Index", "");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("<h1>Internal Server Error 500</h1>"), std::string::npos);
  EXPECT_EQ(r.body.find("never shown"), std::string::npos);

  // A database that cannot be opened at all ends the same way.
  SiteOptions bare;
  bare.createSchema = false;
  TempSite noDb(bare);
  noDb.WriteIni("DatabaseFile=/nonexistent-dir/x/VELMORI.db\n");
  r = noDb.Run("/Index", "");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("Exception: "), std::string::npos);
}

TEST(ModuleStartup, UnexpectedErrorsAreLoggedOneLineEach) {
  TempSite site;  // no templates at all: every page fails to open its file
  std::string log = site.logDir() + "/WebOrvane.log";
  CgiResult r = site.RunInProcess("/Login", "Lang=Eng");
  EXPECT_EQ(r.status, 500);
  r = site.Run("/Omat", "");
  EXPECT_EQ(r.status, 500);
  std::string text = ReadFile(log);
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
  std::string first = text.substr(0, text.find('\n'));
  EXPECT_NE(first.find("\t/Login\tTemplateError\tCannot open file ..\\WebOrvane\\Eng\\login.html"), std::string::npos)
      << first;
  EXPECT_NE(text.find("\t/Omat\tTemplateError\t"), std::string::npos);

  // A log that cannot be written does not disturb the answer.
  std::filesystem::remove_all(site.logDir());
  r = site.RunInProcess("/Index", "");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("Internal Application Error"), std::string::npos);
}

// The INI is read as Windows reads it: indented lines are keys and
// sections, the first of two equal keys counts, and only the server's name
// and address (and the cipher key's use of it) are cut to 80 characters.
TEST(ModuleStartup, IniFileIsReadAsWindowsReadsIt) {
  SiteIni i = ParseSiteIni("[DataBase]\nServerName=n\n   ServerAddress=db.example\n\t[Site]\n  CompanyName = Oy \n", "");
  EXPECT_TRUE(ConnectionFromIni(i).UsesServer());
  EXPECT_EQ(i.CompanyName, "Oy");

  const std::string longPath = "/srv/" + std::string(250, 'd') + "/VELMORI.db";
  i = ParseSiteIni("[DataBase]\nDatabaseFile=" + longPath + "\nServerName=" + std::string(90, 's') +
                       "\n[Security]\nPasswordKey=" + std::string(90, 'k') + "\n[Site]\nCompanyName=" +
                       std::string(100, 'c') + "\n",
                   "");
  EXPECT_EQ(i.DatabaseFile, longPath);
  EXPECT_EQ(i.ServerName, std::string(80, 's'));
  EXPECT_EQ(i.PasswordKey, std::string(80, 'k'));
  EXPECT_EQ(i.CompanyName, std::string(100, 'c'));

  i = ParseSiteIni("[database]\nDatabaseFile=first.db\n[Site]\n[DATABASE]\ndatabasefile=second.db\n", "/etc/wo/");
  EXPECT_EQ(i.DatabaseFile, "/etc/wo/first.db");

  i = ParseSiteIni("[Site]\nLanguages= eng, Svenska-kieli ,,de\nDecimalSeparator=\n[Security]\n"
                   "LoginFailuresPerUser=3\nLoginFailuresPerAddress=many\nLoginLockMinutes=0\nPasswordKey=abc ;x\n",
                   "/etc/wo/");
  EXPECT_EQ(i.LanguageKeys(), (std::vector<std::string>{"ENG", "SVENSKA-KI", "DE"}));
  EXPECT_EQ(i.DecimalSeparator, ".");
  EXPECT_EQ(i.LoginFailuresPerUser, 3);
  EXPECT_EQ(i.LoginFailuresPerAddress, 30);  // not a number: the default
  EXPECT_EQ(i.LoginLockMinutes, 0);
  EXPECT_EQ(i.PasswordKey, "abc");
  EXPECT_EQ(i.DatabaseFile, "/etc/wo/../data/VELMORI.db");
  EXPECT_EQ(ParseSiteIni("", "").LanguageKeys(), std::vector<std::string>{"ENG"});
}

// The static program's entry reads the INI file before its C library
// starts, to hand a site on a server over at once: it must find a server
// exactly where the INI parser does.
TEST(ModuleStartup, EarlyServerCheckReadsTheIniAsTheParser) {
  const struct {
    const char* ini;
    bool server;
  } cases[] = {
      {"[DataBase]\nServerName=n\nServerAddress=db\n", true},
      {"\xef\xbb\xbf [database] \r\n  servername = n \r\nSERVERADDRESS=db ;comment\r\n", true},
      {"[DataBase\nServerName=n\nServerAddress=db", true},
      {"[DataBase]\nServerName=;x\nServerAddress=db\n", true},
      {"[DataBase]\nServerName=\nServerName=n\nServerAddress=db\n", false},
      {"[DataBase]\nServerName= ;n\nServerAddress=db\n", true},
      {"[Site]\nServerName=n\nServerAddress=db\n", false},
      {"[DataBase]\n;ServerName=n\n#x\nServerAddress=db\nServerName\n", false},
      {"[DataBase]\nServerNames=n\nServerAddress=db\n", false},
      {"[DataBase]x]\nServerName=n\nServerAddress=db\n", true},
      {"[DataBases]\nServerName=n\nServerAddress=db\n", false},
      {"[Site]\n[DataBase]\nServerAddress=db\n[Mail]\n[ DataBase ]\nServerName=n", true},
      {"", false},
  };
  for (const auto& c : cases) {
    const std::string_view text = c.ini;
    EXPECT_EQ(wo_ini_names_server(text.data(), text.size()) != 0, c.server) << text;
    EXPECT_EQ(ConnectionFromIni(ParseSiteIni(text, "")).UsesServer(), c.server) << text;
  }
}

// A site on a server is served by the dynamic program, started in place
// of the static one; when it cannot start, the static one says why.
TEST(ModuleStartup, SiteOnServerIsHandedOverToDynamicProgram) {
  if (kSanitized) GTEST_SKIP() << "the sanitized program is dynamic and serves every site itself";
  TempSite site;
  const std::string dynamic = site.root() + "/lib/dynamic/WebOrvane.exe";
  std::filesystem::remove(dynamic);
  std::ofstream(dynamic) << "#!/bin/sh\nprintf 'Status: 200 OK\\r\\n\\r\\nhanded over %s' \"$PATH_INFO\"\n";
  std::filesystem::permissions(dynamic, std::filesystem::perms::owner_all);
  site.WriteIni("ServerName=n\nServerAddress=db ; the server\n");
  EXPECT_EQ(site.RunAsCgi("/Index", "").body, "handed over /Index");
  site.WriteIni("ServerName=n\n");
  EXPECT_NE(site.RunAsCgi("/Index", "").body, "handed over /Index");
  site.WriteIni("ServerName=n\nServerAddress=db\n");
  std::filesystem::remove(dynamic);
  const CgiResult r = site.RunAsCgi("/Index", "");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("cannot load the PostgreSQL client library"), std::string::npos) << r.body;
}

// Feature switches are on with "1" only; the mail keys and the time zone
// keep their defaults when absent or unusable.
TEST(ModuleStartup, FeatureSwitchesAndMailKeys) {
  const SiteIni none = ParseSiteIni("", "");
  EXPECT_FALSE(none.Mail || none.SlotStates || none.PageLanguage || none.OwnListDetails || none.ClearMessages ||
               none.WaitingList || none.CalendarFeed);
  EXPECT_EQ(none.OfferMinutes, 60);
  EXPECT_EQ(none.ReminderHours, 24);
  EXPECT_EQ(none.TimeZone, "Europe/Helsinki");

  const SiteIni i = ParseSiteIni(
      "[features]\nmail = 1\nSlotStates=yes\nWaitingList=2\nCalendarFeed=1 ; on\nOfferMinutes=15\n"
      "[Mail]\nSmtpUrl=smtps://mail.example.org:465\nFrom=Centre <a@example.org>\nReminderHours=0\n"
      "[Site]\nTimeZone=\n",
      "");
  EXPECT_TRUE(i.Mail);
  EXPECT_TRUE(i.CalendarFeed);
  EXPECT_FALSE(i.SlotStates);
  EXPECT_FALSE(i.WaitingList);
  EXPECT_EQ(i.OfferMinutes, 15);
  EXPECT_EQ(i.SmtpUrl, "smtps://mail.example.org:465");
  EXPECT_EQ(i.MailFrom, "Centre <a@example.org>");
  EXPECT_EQ(i.ReminderHours, 0);
  EXPECT_EQ(i.TimeZone, "Europe/Helsinki");
}

// A missing or unreadable INI file, and a database that cannot be opened,
// end the request with the fallback page, and the log tells why.
TEST(ModuleStartup, StartupFailuresAreLoudAndLogged) {
  TempSite site;
  site.WriteTemplate("Fin", "index.html", "never shown");
  const std::string log = site.logDir() + "/WebOrvane.log";
  std::filesystem::remove(site.iniFile());
  CgiResult r = site.Run("/Index", "");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("cannot read the INI file"), std::string::npos) << r.body;
  std::filesystem::create_directory(site.iniFile());  // there, but no file to read
  EXPECT_EQ(site.RunInProcess("/Index", "").status, 500);
  std::filesystem::remove(site.iniFile());
  site.WriteIni("DatabaseFile=../data/missing.db\n");
  EXPECT_EQ(site.Run("/Index", "").status, 500);
  site.WriteIni("");
  std::ofstream(site.dbFile(), std::ios::trunc) << std::string(4096, 'x');  // no database file at all
  EXPECT_EQ(site.Run("/Index", "").status, 500);
  const std::string text = ReadFile(log);
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
  EXPECT_NE(text.find("\t/Index\tException\tcannot read the INI file " + site.iniFile()), std::string::npos) << text;
  EXPECT_NE(text.find("\t/Index\tDatabaseError\t"), std::string::npos) << text;
}

// Past 1 MB the log moves to WebOrvane.log.1 (replacing the older one), so
// a stream of bad requests cannot fill the disk.
TEST(ModuleStartup, TheLogIsRotatedPastOneMegabyte) {
  TempSite site;
  const std::string log = site.logDir() + "/WebOrvane.log";
  const std::string older = log + ".1";
  std::ofstream(older) << "oldest\n";
  std::ofstream(log) << std::string(kLogRotateBytes - 1, 'x') << "\n";
  EXPECT_EQ(site.RunInProcess("/Index", "Lang=%").status, 500);  // an undecodable query
  EXPECT_EQ(std::filesystem::file_size(older), static_cast<uintmax_t>(kLogRotateBytes));
  EXPECT_EQ(site.RunInProcess("/Index", "Lang=%zz").status, 500);
  const std::string text = ReadFile(log);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
  EXPECT_NE(text.find("DecodeError"), std::string::npos);
  // Many writers at once lose no line and keep one file of each.
  std::ofstream(log, std::ios::trunc) << std::string(kLogRotateBytes - 1000, 'y') << "\n";
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w)
    writers.emplace_back([&] {
      for (int i = 0; i < 50; ++i) AppendSiteLog(site.logDir() + "/", "/x", "Test", std::string(100, 'z'));
    });
  for (std::thread& t : writers) t.join();
  const std::string now = ReadFile(log), then = ReadFile(older);
  EXPECT_EQ(std::count(now.begin(), now.end(), '\n') + std::count(then.begin(), then.end(), '\n'), 201);
}

// A Finnish page whose tags need no table works on a database that holds
// WEBPARAM and nothing else: start-up and the page read nothing more.
TEST(ModuleStartup, FinnishPageTouchesOnlyWebParam) {
  TempSite site;
  auto c = site.Connect();
  InsertRow(*c, "WEBPARAM",
            {{"Numero", "01"}, {"OsoiteRivi1", "Katu 1"}, {"LnkKoti", "http://example.org"}, {"Logo", "l.gif"}});
  c.reset();
  for (const char* t : {"VARESNIMI", "VaVuoro", "VALAJI", "WEBREG", "VAVARAUS", "Asiakas", "PARAM", "WEBKOODI",
                        "WEBKESKUS", "VAOHJAAJA", "KAANNOS"})
    ExecSql(site, std::string("DROP TABLE ") + t);
  site.WriteTemplate("Fin", "index.html", "<#YROSOITE1>|<#ID>|<#LANG>|<#PGMENU>|<#KOTISIVU>|<#ERROR>|<#PGOTSIKKO>");
  site.WriteTemplate("Fin", "otsikko.html", "[<#LOGO>]");
  for (const char* q : {"", "Lang=FIN&ID=0", "lang=fin"}) {
    CgiResult r = site.Run("/Index", q);
    EXPECT_EQ(r.status, 200) << q << r.body;
    EXPECT_EQ(r.body.substr(0, 7), "Katu 1|") << q;
    EXPECT_NE(r.body.find("Kirjaudu sis\xe4\xe4n"), std::string::npos) << q;
    EXPECT_NE(r.body.find("|[l.gif]"), std::string::npos) << q;
  }
  // English texts need KAANNOS, which is gone: the page fails, as it must.
  site.WriteTemplate("Eng", "index.html", "<#PGMENU>");
  EXPECT_EQ(site.RunInProcess("/Index", "Lang=Eng").status, 500);
}

}  // namespace
}  // namespace wo::test
