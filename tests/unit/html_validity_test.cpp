// Every page of the default site, rendered by the installed program from
// the demonstration centre for a visitor and for a logged-in user, in
// Finnish and in English, and in the three list forms of the calendar,
// passes the HTML validator: tidy in its HTML5 mode with -errors, so that
// every error fails the page while warnings are allowed.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/datetime.h"
#include "mail/mail_facts.h"
#include "store/outbox.h"
#include "store/schema.h"
#include "store/table.h"
#include "support/site.h"

namespace wo {
namespace {

namespace fs = std::filesystem;
using test::CgiResult;
using test::TempSite;

bool HaveTidy() { return test::Shell("command -v tidy >/dev/null 2>&1").first == 0; }

// tidy's errors for one page; "" when it has none.
std::string TidyErrors(const std::string& dir, const std::string& name, const std::string& html) {
  std::string file = dir + "/" + name + ".html";
  std::ofstream(file, std::ios::binary) << html;
  auto [rc, out] = test::Shell("tidy -errors -quiet --input-encoding win1252 --gnu-emacs yes '" + file + "' 2>&1");
  if (rc >= 2 || out.find("Error:") != std::string::npos) return out.empty() ? "tidy failed" : out;
  return "";
}

void SetListForm(TempSite& site, int form) {
  auto c = site.Connect();
  store::Table p(*c, store::TableNamed("WEBPARAM"), "", "Numero");
  p.Open();
  ASSERT_TRUE(p.FindKey({store::Txt("01")}));
  p.Edit();
  p["ListanMuoto"].SetInt(form);
  p.Post();
  p.Close();
}

struct Slot {
  std::string kausi, vuoroNo, seq, resNo;
};

// A future, bookable slot of the demo (inside the 30-day horizon).
Slot SomeFutureSlot(TempSite& site) {
  auto c = site.Connect();
  store::Table v(*c, store::TableNamed("VaVuoro"), "", "ResNo;VuoroAika");
  v.Open();
  Slot s;
  for (v.First(); !v.Eof(); v.Next()) {
    DateTime t = v.Date("VuoroAika");
    if (t > Now() + 2 && t < Now() + 20 && v.Int("Maara") >= 3 && Trim(v.Text("Tyyppi")) != "S") {
      s = {v.Text("Kausi"), Trim(v.Text("VuoroNo")), Trim(v.Text("VuoroNoSeq")), Trim(v.Text("ResNo"))};
      break;
    }
  }
  v.Close();
  return s;
}

std::string SessionOf(const CgiResult& r) {
  std::string loc = r.Header("Location");
  size_t at = loc.find("ID=");
  if (at == std::string::npos) return "";
  return loc.substr(at + 3, loc.find('&', at) - at - 3);
}

// The token of the latest password-reset mail in the outbox.
std::string LatestResetToken(TempSite& site) {
  auto c = site.Connect();
  const std::vector<store::OutboxMessage> box = store::ListMessages(*c);
  return box.empty() ? std::string() : mail::FactOf(mail::DecodeFacts(box.back().facts), mail::fact::kToken);
}

TEST(HtmlValidity, EveryPageOfTheDefaultSite) {
  if (!HaveTidy()) GTEST_FAIL() << "tidy is missing (scripts/install-deps installs it)";
  test::SiteOptions opts;
  opts.copySiteTemplates = true;
  opts.extraIni = "[Features]\nMail=1\n";  // the reset pages and the login page's link to them
  TempSite site(opts);
  std::string admin = std::string(WO_ADMIN_PROGRAM) + " --ini '" + site.iniFile() + "' ";
  auto [rc, out] = test::Shell(admin + "demo 2>&1 && " + admin + "translations import '" + WO_SOURCE_DIR +
                               "/site/texts/eng.tsv' 2>&1");
  ASSERT_EQ(rc, 0) << out;
  std::string pages = site.root() + "/tidy";
  fs::create_directories(pages);

  CgiResult login = site.Run("/ChkLogin", "Lang=Fin&Tunnus=demo&Koodi=demo1234");
  std::string sid = SessionOf(login);
  ASSERT_GT(sid.size(), 15u) << login.raw;
  Slot slot = SomeFutureSlot(site);
  ASSERT_FALSE(slot.vuoroNo.empty());
  std::string key = "&Kau=" + slot.kausi + "&Vuo=" + slot.vuoroNo + "&Seq=" + slot.seq;
  // One reservation of the user, so that the own list and the cancel page
  // have a row to show.
  CgiResult var = site.Run("/Var", "ID=" + sid + "&Lang=Fin" + key);
  ASSERT_NE(var.Header("Location").find("/VarOk"), std::string::npos) << var.raw;

  int checked = 0;
  std::string failures;
  auto check = [&](const std::string& label, const std::string& path, const std::string& query) {
    CgiResult r = site.Run(path, query);
    if (r.status != 200) {
      failures += label + ": status " + std::to_string(r.status) + "\n" + r.body.substr(0, 300) + "\n";
      return;
    }
    std::string name = label;
    for (char& c : name)
      if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    std::string errors = TidyErrors(pages, name, r.body);
    if (!errors.empty()) failures += label + " (" + path + "?" + query + "):\n" + errors + "\n";
    ++checked;
  };

  const std::string tomorrow = [] {
    DateParts d = Decode(Now() + 1);
    return "&PP=" + std::to_string(d.day) + "&KK=" + std::to_string(d.month) + "&VV=" + std::to_string(d.year);
  }();
  for (std::string lang : {"Fin", "Eng"}) {
    for (bool member : {false, true}) {
      std::string who = std::string(member ? "member " : "visitor ") + lang;
      std::string base = "ID=" + std::string(member ? sid : "0") + "&Lang=" + lang;
      for (const char* p : {"/Index", "/Login", "/Regin", "/Vaihda", "/Omat", "/ResVal", "/VarOk", "/PoisOk"})
        check(who + " " + p, p, base);
      check(who + " /RegOk new", "/RegOk", base + "&Upd=N");
      check(who + " /RegOk update", "/RegOk", base + "&Upd=Y");
      check(who + " /VaihdaOk", "/VaihdaOk", base + "&Upd=Y");
      check(who + " error page", "/ResVal", "");
      for (int form : {0, 1, 2}) {
        SetListForm(site, form);
        std::string res = form == 2 ? (slot.resNo[0] == '2' ? "MH" : "RP") : slot.resNo;
        check(who + " /Viikko form " + std::to_string(form), "/Viikko", base + "&Resurssi=" + res + tomorrow);
      }
      SetListForm(site, 0);
      if (!member) {
        check(who + " /Unohtui", "/Unohtui", "Lang=" + lang);
        check(who + " /Unohtui asked", "/Unohtui", "Lang=" + lang + "&Tunnus=demo");
        const std::string token = LatestResetToken(site);
        EXPECT_EQ(token.size(), 40u) << "no reset mail for the demo user";
        check(who + " /Palauta", "/Palauta", "Lang=" + lang + "&T=" + token);
        check(who + " /Palauta differing", "/Palauta", "Lang=" + lang + "&T=" + token + "&UKoodi=abcd&UKoodi2=abce");
        check(who + " /Palauta bad link", "/Palauta", "Lang=" + lang + "&T=0");
        check(who + " /Palauta done", "/Palauta", "Lang=" + lang + "&Valmis=1");
      }
      if (member) {
        check(who + " /Varaa", "/Varaa", base + key);
        check(who + " /Poista", "/Poista", base + key + "&JNo=1");
        check(who + " refused booking", "/Var", base + key);
      }
    }
  }
  EXPECT_EQ(failures, "");
  EXPECT_GE(checked, 60);
}

}  // namespace
}  // namespace wo
