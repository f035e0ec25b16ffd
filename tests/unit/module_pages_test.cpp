// The five plain pages through the installed program: template directory,
// Lang and SessionId rules, and the session check of the three forms.
#include "module/module.h"
#include "module_harness.h"
#include "base/datetime.h"

namespace wo::test {
namespace {

// Each page template shows its own name, the session ID and the language.
void WritePageTemplates(TempSite& site) {
  for (const char* lang : {"Fin", "Eng"})
    for (const char* page : {"index", "login", "regin", "vaihda", "omat"})
      site.WriteTemplate(lang, std::string(page) + ".html",
                         std::string(lang) + " " + page + " [<#ID>] [<#LANG>] [<#RGSNIMI>]");
}

TEST(ModulePages, IndexSessionAndLanguageRules) {
  TempSite site;
  WritePageTemplates(site);
  CgiResult r = site.Run("/Index", "");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_EQ(r.body, "Fin index [0] [] []");  // no fields: SessionId stays "0", Lang empty
  EXPECT_EQ(site.Run("/Index", "Lang=Eng").body, "Eng index [] [Eng] []");  // fields, but no ID
  EXPECT_EQ(site.Run("/Foo", "Lang=Eng").body, "Eng index [] [Eng] []");
  EXPECT_EQ(site.RunInProcess("/", "lang=ENG&id=abc").body, "Eng index [abc] [ENG] []");
  EXPECT_EQ(site.RunInProcess("/index", "Lang=SWE&ID=0").body, "Fin index [0] [SWE] []");
}

TEST(ModulePages, FormsCheckTheSessionOmatDoesNot) {
  TempSite site;
  WritePageTemplates(site);
  auto c = site.Connect();
  DateTime now = Now();
  InsertRow(*c, "WEBREG", {{"Tunnus", "matti"}, {"PinKoodi", "x"}, {"ID", "111O4567890123"},
                           {"Aika", ToStoredDateTime(now - 1.0 / 24)}, {"Sukunimi", "Virtanen"}});
  InsertRow(*c, "WEBREG", {{"Tunnus", "liisa"}, {"PinKoodi", "x"}, {"ID", "222O4567890123"},
                           {"Aika", ToStoredDateTime(now - 13.0 / 24)}, {"Sukunimi", "Lahtinen"}});
  c.reset();

  EXPECT_EQ(site.Run("/Login", "Lang=Eng").body, "Eng login [0] [Eng] []");  // empty ID becomes "0"
  EXPECT_EQ(site.Run("/Login", "ID=222O4567890123&Lang=Eng").body, "Eng login [0] [Eng] []");  // 13 hours old
  EXPECT_EQ(site.Run("/regin", "ID=111O4567890123").body,
            "Fin regin [111O4567890123] [] [Virtanen]");
  EXPECT_EQ(site.Run("/Vaihda", "ID=111O4567890123&Lang=FIN").body,
            "Fin vaihda [111O4567890123] [FIN] [Virtanen]");
  EXPECT_EQ(site.RunInProcess("/Regin", "ID=222O4567890123&Lang=FIN").body, "Fin regin [0] [FIN] []");
  // The own-reservations page passes any ID on; its list tag decides.
  EXPECT_EQ(site.Run("/Omat", "ID=222O4567890123&Lang=Eng").body,
            "Eng omat [222O4567890123] [Eng] []");
  EXPECT_EQ(site.RunInProcess("/Omat", "ID=x%22y&Lang=Eng").body, "Eng omat [x&quot;y] [Eng] []");
}

TEST(ModulePages, MissingTemplateAndBadQueryFailThePage) {
  TempSite site;
  site.WriteTemplate("Fin", "index.html", "ok");
  CgiResult r = site.RunInProcess("/Login", "");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("Cannot open file ..\\WebOrvane\\Fin\\login.html"), std::string::npos);
  r = site.RunInProcess("/Index", "Lang=%zz");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.body.find("Invalid URL encoded character (%zz)"), std::string::npos);
}

}  // namespace
}  // namespace wo::test
