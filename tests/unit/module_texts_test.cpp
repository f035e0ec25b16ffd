// Translated texts: Finnish never reads KAANNOS, other languages read it
// and seed each missing key exactly once; the key table itself.
#include <set>

#include "module/module.h"
#include "module/texts.h"
#include "module_harness.h"

namespace wo::test {
namespace {

struct LangRow {
  std::string kieli, sovellus, avain, teksti;
  bool kaytossa;
};

std::vector<LangRow> LangRows(const TempSite& site) {
  auto c = site.Connect();
  store::Table t(*c, store::TableNamed("KAANNOS"), "", "LGKieli;LGSovellus;LGAvain");
  t.Open();
  std::vector<LangRow> rows;
  for (; !t.Eof(); t.Next())
    rows.push_back({t.Text("LGKieli"), t.Text("LGSovellus"), t.Text("LGAvain"), t.Text("LGTeksti"),
                    t.Bool("LGKaytossa")});
  t.Close();
  return rows;
}

TEST(ModuleTexts, KeyTableIsCompleteAndUnique) {
  std::set<std::string_view> keys;
  for (const TextDef& t : texts::kAll) {
    EXPECT_TRUE(keys.insert(t.key).second) << t.key;
    EXPECT_FALSE(t.fin.empty()) << t.key;
    EXPECT_LE(t.fin.size(), 120u) << t.key;  // fits LGTeksti
  }
  EXPECT_EQ(keys.size(), 107u);
  EXPECT_EQ(keys.count("C08") + keys.count("C09"), 0u);
  EXPECT_EQ(texts::C52.fin, "Vuoroa ei voi en\xe4\xe4 varata!");
  EXPECT_EQ(texts::C53.fin, "Varausta ei voi en\xe4\xe4 poistaa!");
  EXPECT_EQ(texts::C19.fin, "Hakutoiminnassa tapahtui virhe. Yrit\xe4 kohta uudelleen,tarkista hakuehdot!");
}

TEST(ModuleTexts, FinnishNeverOpensKaannos) {
  TempSite site;
  ExecSql(site, "DROP TABLE KAANNOS");  // any use of the table would now fail
  for (const char* lang : {"FIN", "fin", "Fin", ""}) {
    ModuleOnSite m(site);
    m->page.Lang = lang;
    EXPECT_EQ(m->TranslatedText(texts::C01), "Kirjaudu sis\xe4\xe4n") << lang;
    EXPECT_EQ(m->TranslatedText("C38", "Varaa"), "Varaa") << lang;
    EXPECT_FALSE(m->tbl->FTblLang.IsOpen()) << lang;
  }
  ModuleOnSite eng(site);
  eng->page.Lang = "Eng";
  EXPECT_THROW(eng->TranslatedText(texts::C01), store::DatabaseError);  // a failed lookup is not hidden
}

TEST(ModuleTexts, EnglishSeedsEachKeyOnceWithTheDefault) {
  TempSite site;
  {
    ModuleOnSite m(site);
    m->page.Lang = "Eng";
    EXPECT_EQ(m->TranslatedText(texts::C01), "Kirjaudu sis\xe4\xe4n");
    EXPECT_TRUE(m->tbl->FTblLang.IsOpen());  // stays open for the rest of the request
    EXPECT_EQ(m->TranslatedText(texts::C13), " tuntia ennen varattua tuntia.");
    EXPECT_EQ(m->TranslatedText(texts::C16), " tuntia ennen varattua tuntia.");
    EXPECT_EQ(m->TranslatedText(texts::C01), "Kirjaudu sis\xe4\xe4n");  // now from the seeded row
  }
  std::vector<LangRow> rows = LangRows(site);
  ASSERT_EQ(rows.size(), 3u);
  for (const LangRow& r : rows) {
    EXPECT_EQ(r.kieli, "ENG");
    EXPECT_EQ(r.sovellus, "WebOrvane");
    EXPECT_TRUE(r.kaytossa);
  }
  EXPECT_EQ(rows[0].avain, "C01");
  EXPECT_EQ(rows[0].teksti, "Kirjaudu sis\xe4\xe4n");
  EXPECT_EQ(rows[1].avain, "C13");
  EXPECT_EQ(rows[2].avain, "C16");
  {
    ModuleOnSite again(site);
    again->page.Lang = "ENG";
    again->TranslatedText(texts::C01);
    again->TranslatedText(texts::C16);
  }
  EXPECT_EQ(LangRows(site).size(), 3u);
}

TEST(ModuleTexts, RowsInUseNotInUseAndEmpty) {
  TempSite site;
  auto c = site.Connect();
  auto add = [&](const char* key, const std::string& text, const std::string& inUse) {
    InsertRow(*c, "KAANNOS",
              {{"LGKieli", "ENG"}, {"LGSovellus", "WebOrvane"}, {"LGAvain", key}, {"LGTeksti", text},
               {"LGKaytossa", inUse}});
  };
  add("C01", "Log in", "1");
  add("C02", "Register", "0");
  add("C03", "", "1");
  add("C04", "New booking", kNull);
  InsertRow(*c, "KAANNOS", {{"LGKieli", "ENG"}, {"LGSovellus", "OtherApp"}, {"LGAvain", "C05"},
                            {"LGTeksti", "Other"}, {"LGKaytossa", "1"}});
  ModuleOnSite m(site);
  m->page.Lang = "eng";
  EXPECT_EQ(m->TranslatedText(texts::C01), "Log in");
  EXPECT_EQ(m->TranslatedText(texts::C02), "Rekister\xf6idy k\xe4ytt\xe4j\xe4ksi");
  EXPECT_EQ(m->TranslatedText(texts::C03), "");
  EXPECT_EQ(m->TranslatedText(texts::C04), "Uusi varaus");  // null counts as not in use
  EXPECT_EQ(m->TranslatedText(texts::C05), "Omat tiedot");  // another application's row
  std::vector<LangRow> rows = LangRows(site);
  ASSERT_EQ(rows.size(), 6u);  // only C05 of WebOrvane was added
  int c02 = 0, c05 = 0;
  for (const LangRow& r : rows) {
    if (r.sovellus != "WebOrvane") continue;
    if (r.avain == "C02") {
      ++c02;
      EXPECT_EQ(r.teksti, "Register");
      EXPECT_FALSE(r.kaytossa);
    }
    if (r.avain == "C05") {
      ++c05;
      EXPECT_EQ(r.teksti, "Omat tiedot");
    }
  }
  EXPECT_EQ(c02, 1);
  EXPECT_EQ(c05, 1);
}

TEST(ModuleTexts, LanguageKeyIsUpperCasedAndCutToTen) {
  TempSite site(SiteOptions{.extraIni = "[Site]\nLanguages = Englishlanguage ,swe\n"});
  {
    ModuleOnSite m(site);
    m->page.Lang = "Englishlanguage";
    m->TranslatedText(texts::C07);
    m->page.Lang = "swe";
    EXPECT_EQ(m->TranslatedText(texts::C07), "Kotisivut");
  }
  std::vector<LangRow> rows = LangRows(site);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].kieli, "ENGLISHLAN");
  EXPECT_EQ(rows[1].kieli, "SWE");
}

// Missing texts are seeded only for the INI's Languages (default "ENG") and
// for languages that have WebOrvane texts already; any other Lang shows the
// defaults and writes nothing.
TEST(ModuleTexts, OnlyTheSitesLanguagesAreSeeded) {
  struct Case {
    const char* languages;  // the INI line, or nullptr for none
    const char* lang;
    bool seeded;
  };
  for (const Case& c : std::vector<Case>{{nullptr, "eng", true},
                                         {nullptr, "xq7", false},
                                         {nullptr, "SWE", true},  // has a row of its own
                                         {nullptr, "DEU", false},  // only another application's row
                                         {"Languages=", "ENG", false},
                                         {"Languages=fi, De", "de", true},
                                         {"Languages=fi, De", "eng", false}}) {
    TempSite site(SiteOptions{.extraIni = c.languages ? std::string("[Site]\n") + c.languages + "\n" : ""});
    auto conn = site.Connect();
    InsertRow(*conn, "KAANNOS", {{"LGKieli", "SWE"}, {"LGSovellus", "WebOrvane"}, {"LGAvain", "C01"},
                                 {"LGTeksti", "Logga in"}, {"LGKaytossa", "1"}});
    InsertRow(*conn, "KAANNOS", {{"LGKieli", "DEU"}, {"LGSovellus", "OtherApp"}, {"LGAvain", "C01"},
                                 {"LGTeksti", "Anmelden"}, {"LGKaytossa", "1"}});
    {
      ModuleOnSite m(site);
      m->page.Lang = c.lang;
      EXPECT_EQ(m->TranslatedText(texts::C07), "Kotisivut") << c.lang;
      EXPECT_EQ(m->TranslatedText(texts::C06), "Kirjaudu ulos") << c.lang;
    }
    EXPECT_EQ(LangRows(site).size(), c.seeded ? 4u : 2u) << (c.languages ? c.languages : "") << " " << c.lang;
  }
}

// The append of a missing key may fail (a concurrent request added the row
// first); the page gets the default and the table handle goes on working.
TEST(ModuleTexts, FailedSeedingIsSwallowedAndHandleStaysUsable) {
  TempSite site;
  auto c = site.Connect();
  InsertRow(*c, "KAANNOS", {{"LGKieli", "ENG"}, {"LGSovellus", "WebOrvane"}, {"LGAvain", "C06"},
                            {"LGTeksti", "Log out"}, {"LGKaytossa", "1"}});
  c.reset();
  WriteFaults faults;
  site.SetOpener(faults.Opener());
  faults.FailAll();
  ModuleOnSite m(site);
  m->page.Lang = "Eng";
  EXPECT_EQ(m->TranslatedText(texts::C05), "Omat tiedot");
  EXPECT_EQ(m->TranslatedText(texts::C06), "Log out");
  EXPECT_EQ(m->TranslatedText(texts::C05a), "Vaihda salasana");
  EXPECT_EQ(LangRows(site).size(), 1u);
  // Once writes are accepted again the same handle seeds normally.
  faults.Heal();
  EXPECT_EQ(m->TranslatedText(texts::C07), "Kotisivut");
  std::vector<LangRow> rows = LangRows(site);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].avain, "C07");
}

}  // namespace
}  // namespace wo::test
