// The default site end to end: `cmake --install` into a fresh prefix,
// `weborvane-admin init`, `demo` and `translations import`, then every page
// of both languages served by the installed program as a web server runs
// it, logged out and logged in; the forms of the rendered pages submitted
// as a browser would submit them; and the shipped lighttpd configuration.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/datetime.h"
#include "module/texts.h"
#include "support/site.h"

namespace wo {
namespace {

namespace fs = std::filesystem;
using test::CgiResult;
using test::Shell;

const char* const kProgram = "/cgi-bin/WebOrvane.exe/";

// An install tree with the demonstration centre and the English texts.
class DemoSite {
 public:
  DemoSite() {
    char tmpl[] = "/tmp/wo-demo-site-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    Must("cmake --install '" + std::string(WO_BINARY_DIR) + "' --prefix '" + root_ + "'");
    Must(Admin("init"));
    Must(Admin("demo"));
    Must(Admin("translations import '" + root_ + "/share/weborvane/eng.tsv'"));
  }
  ~DemoSite() {
    worker_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  const std::string& root() const { return root_; }
  std::string Admin(const std::string& args) const { return "'" + root_ + "/bin/weborvane-admin' " + args; }

  // The installed program, run in www/cgi-bin with a CGI environment, or
  // its FastCGI worker where the tests run that way.
  CgiResult Get(const std::string& path, const std::string& query) const {
    if (test::ThroughFastCgi()) {
      if (!worker_)
        worker_ = std::make_unique<test::FastCgiWorkers>(root_ + "/www/cgi-bin/WebOrvane.exe", root_ + "/fcgi.sock");
      return test::ParseCgiOutput(worker_->Request({{"SERVER_PROTOCOL", "HTTP/1.1"},
                                                    {"REQUEST_METHOD", "GET"},
                                                    {"REMOTE_ADDR", "127.0.0.1"},
                                                    {"PATH_INFO", path},
                                                    {"QUERY_STRING", query}}));
    }
    std::string cmd = "cd '" + root_ + "/www/cgi-bin' && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET " +
                      "REMOTE_ADDR=127.0.0.1 PATH_INFO='" + path + "' QUERY_STRING='" + query +
                      "' ./WebOrvane.exe";
    auto [rc, out] = Shell(cmd);
    EXPECT_EQ(rc, 0) << path << "?" << query;
    return test::ParseCgiOutput(out);
  }
  // The same for a link as written into a page ("/cgi-bin/WebOrvane.exe/X?q").
  CgiResult Follow(const std::string& url) const {
    EXPECT_EQ(url.rfind(kProgram, 0), 0u) << url;
    std::string rest = url.substr(std::string(kProgram).size() - 1);
    size_t q = rest.find('?');
    return Get(rest.substr(0, q), q == std::string::npos ? "" : rest.substr(q + 1));
  }

  // Logs the demo user in through /ChkLogin; returns the session ID.
  std::string LogIn(const std::string& lang, const std::string& password = "demo1234") const {
    CgiResult r = Get("/ChkLogin", "Lang=" + lang + "&Tunnus=demo&Koodi=" + password);
    EXPECT_EQ(r.status, 302);
    std::smatch m;
    std::string loc = r.Header("Location");
    EXPECT_TRUE(std::regex_search(loc, m, std::regex("[?&]ID=([^&]+)"))) << loc;
    return m.empty() ? "" : m[1].str();
  }

 private:
  static void Must(const std::string& cmd) {
    auto [rc, out] = Shell(cmd + " 2>&1");
    if (rc != 0) throw std::runtime_error(cmd + " failed: " + out);
  }
  std::string root_;
  mutable std::unique_ptr<test::FastCgiWorkers> worker_;
};

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (s.compare(i, 5, "&amp;") == 0) i += 4;
  }
  return out;
}

// Every link target of the page that leads to the given action.
std::vector<std::string> Links(const std::string& body, const std::string& action) {
  std::vector<std::string> links;
  std::regex re("href=\"(" + std::string(kProgram) + action + "\\?[^\"]*)\"", std::regex::icase);
  for (auto it = std::sregex_iterator(body.begin(), body.end(), re); it != std::sregex_iterator(); ++it)
    links.push_back(Unescape((*it)[1]));
  return links;
}

std::string Attr(const std::string& tag, const std::string& name) {
  std::smatch m;
  std::regex re("\\b" + name + "=\"([^\"]*)\"", std::regex::icase);
  return std::regex_search(tag, m, re) ? m[1].str() : "";
}

// A form of a rendered page: its action and the fields a browser would send
// when the first named submit button (if any) is pressed.
struct Form {
  std::string action;
  std::vector<std::pair<std::string, std::string>> fields;
  std::map<std::string, std::vector<std::string>> options;  // select name -> option values

  std::set<std::string> Names() const {
    std::set<std::string> n;
    for (const auto& f : fields) n.insert(f.first);
    return n;
  }
  std::string Get(const std::string& name) const {
    for (const auto& f : fields)
      if (f.first == name) return f.second;
    return "";
  }
  void Set(const std::string& name, const std::string& value) {
    for (auto& f : fields)
      if (f.first == name) f.second = value;
  }
  std::string Query() const {
    std::string q;
    for (const auto& [k, v] : fields) {
      if (!q.empty()) q += '&';
      q += k + '=';
      for (unsigned char c : v) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_') {
          q += static_cast<char>(c);
        } else {
          char hex[4];
          std::snprintf(hex, sizeof hex, "%%%02X", c);
          q += hex;
        }
      }
    }
    return q;
  }
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<Form> Forms(const std::string& body) {
  std::vector<Form> forms;
  const std::string low = Lower(body);
  // The attributes of the tag that starts at `at`, and the position after it.
  auto tagAt = [&](size_t at, size_t& after) {
    size_t end = low.find('>', at);
    after = end == std::string::npos ? low.size() : end + 1;
    return body.substr(at, after - at);
  };
  for (size_t at = low.find("<form"); at != std::string::npos; at = low.find("<form", at + 1)) {
    Form f;
    size_t pos;
    f.action = Attr(tagAt(at, pos), "action");
    size_t close = low.find("</form>", pos);
    bool submitted = false;
    while (true) {
      size_t in = low.find("<input", pos), sel = low.find("<select", pos);
      size_t next = std::min(in, sel);
      if (next == std::string::npos || next > close) break;
      std::string tag = tagAt(next, pos);
      std::string name = Attr(tag, "name");
      if (next == sel) {
        size_t endSel = low.find("</select>", pos);
        std::string chosen, first;
        for (size_t o = low.find("<option", pos); o != std::string::npos && o < endSel; o = low.find("<option", o + 1)) {
          size_t after;
          std::string opt = tagAt(o, after);
          std::string v = Attr(opt, "value");
          f.options[name].push_back(v);
          if (first.empty()) first = v;
          if (Lower(opt).find(" selected") != std::string::npos && chosen.empty()) chosen = v;
        }
        if (!name.empty()) f.fields.emplace_back(name, chosen.empty() ? first : chosen);
        pos = endSel;
        continue;
      }
      if (name.empty()) continue;
      if (Lower(Attr(tag, "type")) == "submit") {
        if (submitted) continue;  // only the pressed button is sent
        submitted = true;
      }
      f.fields.emplace_back(name, Attr(tag, "value"));
    }
    forms.push_back(std::move(f));
  }
  return forms;
}

Form OnlyForm(const CgiResult& page) {
  std::vector<Form> forms = Forms(page.body);
  EXPECT_EQ(forms.size(), 1u);
  return forms.empty() ? Form{} : forms.front();
}

// The visible text of a page: tags removed.
std::string Visible(const std::string& body) { return std::regex_replace(body, std::regex("<[^>]*>"), " "); }

void ExpectWholePage(const CgiResult& r, const std::string& what) {
  EXPECT_EQ(r.status, 200) << what << "\n" << r.raw.substr(0, 600);
  EXPECT_EQ(r.body.find("<#"), std::string::npos) << what << ": a tag left unexpanded";
  EXPECT_NE(r.body.find("<meta charset=\"windows-1252\">"), std::string::npos) << what;
  EXPECT_NE(r.body.find("class=\"site-header\""), std::string::npos) << what << ": no page header";
  EXPECT_NE(r.body.find("</html>"), std::string::npos) << what;
}

// The query of today's choice on the resource page, for one resource.
std::string ViikkoQuery(const Form& resval, const std::string& resource) {
  Form f = resval;
  f.Set("Resurssi", resource);
  return f.Query();
}

class SitePages : public ::testing::Test {
 protected:
  DemoSite site;
};

TEST_F(SitePages, EveryPageRendersLoggedOutAndLoggedIn) {
  for (const std::string lang : {"Fin", "Eng"}) {
    for (bool loggedIn : {false, true}) {
      std::string id = loggedIn ? site.LogIn(lang) : "0";
      std::string il = "ID=" + id + "&Lang=" + lang;
      std::string who = lang + (loggedIn ? " logged in " : " visitor ");
      auto page = [&](const std::string& path, const std::string& query) {
        CgiResult r = site.Get(path, query);
        ExpectWholePage(r, who + path + "?" + query);
        EXPECT_EQ(r.body.find("/LogOut?") != std::string::npos, loggedIn) << who << path << ": menu";
        return r;
      };
      page("/Index", il);
      page("/Login", "Lang=" + lang + (loggedIn ? "&ID=" + id : ""));
      page("/Regin", il);
      page("/Vaihda", il);
      page("/VarOk", il);
      page("/PoisOk", il);
      page("/RegOk", il + "&Upd=N");
      page("/VaihdaOk", il + "&Upd=Y");
      CgiResult omat = page("/Omat", il);
      CgiResult resval = page("/ResVal", il);
      Form choice = OnlyForm(resval);
      ASSERT_GE(choice.options["Resurssi"].size(), 6u) << who;
      std::vector<std::string> bookingLinks;
      for (const std::string& res : choice.options["Resurssi"]) {
        CgiResult week = page("/Viikko", ViikkoQuery(choice, res));
        // The previous and next links.
        for (const std::string& l : Links(week.body, "Viikko")) ExpectWholePage(site.Follow(l), who + l);
        for (const std::string& l : Links(week.body, "Varaa")) bookingLinks.push_back(l);
      }
      // Only a logged-in user is offered the booking and cancel links.
      std::vector<std::string> cancelLinks = Links(omat.body, "Poista");
      EXPECT_EQ(bookingLinks.empty(), !loggedIn) << who;
      EXPECT_EQ(cancelLinks.size(), loggedIn ? 2u : 0u) << who;
      if (loggedIn) {
        ASSERT_FALSE(bookingLinks.empty());
        ExpectWholePage(site.Follow(bookingLinks.front()), who + "/Varaa");
        ExpectWholePage(site.Follow(bookingLinks.back()), who + "/Varaa");
        ASSERT_FALSE(cancelLinks.empty());
        ExpectWholePage(site.Follow(cancelLinks.front()), who + "/Poista");
      }
      // The error page, as a failed login shows it: the site tells a wrong
      // password as such.
      CgiResult error = site.Get("/ChkLogin", "Lang=" + lang + "&Tunnus=demo&Koodi=wrong");
      ExpectWholePage(error, who + "error page");
      EXPECT_NE(error.body.find(lang == "Fin" ? "salasana on v\xe4\xe4r\xe4" : "Wrong user name or password"),
                std::string::npos);
    }
  }
}

TEST_F(SitePages, FormsSendTheFieldsTheirActionsRead) {
  using Names = std::set<std::string>;
  for (const std::string lang : {"Fin", "Eng"}) {
    SCOPED_TRACE(lang);
    Form login = OnlyForm(site.Get("/Login", "Lang=" + lang));
    EXPECT_EQ(login.action, std::string(kProgram) + "ChkLogin");
    EXPECT_EQ(login.Names(), (Names{"Lang", "Tunnus", "Koodi"}));

    const Names registration = {"ID", "Lang", "Tunnus", "Koodi", "SNimi", "ENimi", "Os01",
                                "Os02", "Os03", "EMail", "Puh", "MPuh", "Toim"};
    Form regin = OnlyForm(site.Get("/Regin", "ID=0&Lang=" + lang));
    EXPECT_EQ(regin.action, std::string(kProgram) + "SavReg");
    EXPECT_EQ(regin.Names(), registration);
    EXPECT_EQ(regin.fields.size(), 13u);  // the action takes 10 to 13 fields

    std::string id = site.LogIn(lang);
    std::string il = "ID=" + id + "&Lang=" + lang;
    Form edit = OnlyForm(site.Get("/Regin", il));
    Names editNames = registration;
    editNames.erase("Koodi");
    EXPECT_EQ(edit.Names(), editNames);
    EXPECT_EQ(edit.fields.size(), 12u);

    Form vaihda = OnlyForm(site.Get("/Vaihda", il));
    EXPECT_EQ(vaihda.action, std::string(kProgram) + "VaihdaSana");
    EXPECT_EQ(vaihda.Names(), (Names{"ID", "Lang", "Koodi", "UKoodi"}));

    Form resval = OnlyForm(site.Get("/ResVal", il));
    EXPECT_EQ(resval.action, std::string(kProgram) + "Viikko");
    EXPECT_EQ(resval.Names(), (Names{"ID", "Lang", "Resurssi", "PP", "KK", "VV"}));

    // Tennis court 1 has web codes, the spinning hall has none.
    for (const std::string res : {"201", "102"}) {
      std::vector<std::string> links = Links(site.Get("/Viikko", ViikkoQuery(resval, res)).body, "Varaa");
      ASSERT_FALSE(links.empty()) << res;
      Form varaa = OnlyForm(site.Follow(links.front()));
      EXPECT_EQ(varaa.action, std::string(kProgram) + "Var");
      Names want = {"ID", "Lang", "Kau", "Vuo", "Seq"};
      if (res == "201") want.insert("Koodi");
      EXPECT_EQ(varaa.Names(), want) << res;
    }

    std::vector<std::string> cancel = Links(site.Get("/Omat", il).body, "Poista");
    ASSERT_FALSE(cancel.empty());
    Form poista = OnlyForm(site.Follow(cancel.front()));
    EXPECT_EQ(poista.action, std::string(kProgram) + "PoisVar");
    EXPECT_EQ(poista.Names(), (Names{"ID", "Lang", "Kau", "Vuo", "Seq", "JNo"}));
  }
}

TEST_F(SitePages, BookingCancellingRegistrationAndPasswordThroughTheForms) {
  std::string id = site.LogIn("Fin");
  std::string il = "ID=" + id + "&Lang=Fin";
  Form resval = OnlyForm(site.Get("/ResVal", il));
  // The court's week from tomorrow: a slot of today may start within the
  // two hours before which a booking can no longer be cancelled.
  const DateParts tomorrow = Decode(DateOf(Now()) + 1);
  resval.Set("PP", std::to_string(tomorrow.day));
  resval.Set("KK", std::to_string(tomorrow.month));
  resval.Set("VV", std::to_string(tomorrow.year));
  std::vector<std::string> links = Links(site.Get("/Viikko", ViikkoQuery(resval, "201")).body, "Varaa");
  ASSERT_FALSE(links.empty());

  // Book a tennis court with rackets.
  Form varaa = OnlyForm(site.Follow(links.front()));
  ASSERT_EQ(varaa.options["Koodi"].size(), 4u);  // "Web" and the court's three codes
  varaa.Set("Koodi", varaa.options["Koodi"][1]);
  CgiResult booked = site.Get("/Var", varaa.Query());
  ASSERT_EQ(booked.status, 302) << booked.body;
  EXPECT_NE(booked.Header("Location").find("/VarOk?"), std::string::npos);
  ExpectWholePage(site.Follow(booked.Header("Location")), "VarOk");
  CgiResult omat = site.Get("/Omat", il);
  std::vector<std::string> cancel = Links(omat.body, "Poista");
  ASSERT_EQ(cancel.size(), 3u);
  EXPECT_NE(omat.body.find("Tenniskentt\xe4 1"), std::string::npos);
  // The fee came off the web balance of 20.00.
  EXPECT_NE(omat.body.find("18.00 EUR"), std::string::npos);

  // Cancel it again.
  std::string tennis;
  for (const std::string& l : cancel)
    if (l.find("Vuo=" + varaa.Get("Vuo") + "&") != std::string::npos) tennis = l;
  ASSERT_FALSE(tennis.empty());
  CgiResult cancelled = site.Get("/PoisVar", OnlyForm(site.Follow(tennis)).Query());
  ASSERT_EQ(cancelled.status, 302) << cancelled.body;
  EXPECT_NE(cancelled.Header("Location").find("/PoisOk?"), std::string::npos);
  omat = site.Get("/Omat", il);
  EXPECT_EQ(Links(omat.body, "Poista").size(), 2u);
  EXPECT_NE(omat.body.find("20.00 EUR"), std::string::npos);

  // Edit own details, then change the password and log in with the new one.
  Form edit = OnlyForm(site.Get("/Regin", il));
  edit.Set("MPuh", "050 765 4321");
  CgiResult saved = site.Get("/SavReg", edit.Query());
  ASSERT_EQ(saved.status, 302) << saved.body;
  EXPECT_NE(saved.Header("Location").find("Upd=Y"), std::string::npos);
  CgiResult okPage = site.Follow(saved.Header("Location"));
  ExpectWholePage(okPage, "RegOk");
  EXPECT_NE(okPage.body.find("P\xe4ivitys onnistui"), std::string::npos);
  EXPECT_NE(site.Get("/Regin", il).body.find("050 765 4321"), std::string::npos);

  Form vaihda = OnlyForm(site.Get("/Vaihda", il));
  vaihda.Set("Koodi", "demo1234");
  vaihda.Set("UKoodi", "uusi5678");
  CgiResult changed = site.Get("/VaihdaSana", vaihda.Query());
  ASSERT_EQ(changed.status, 302) << changed.body;
  EXPECT_NE(changed.Header("Location").find("/VaihdaOk?"), std::string::npos);
  EXPECT_FALSE(site.LogIn("Fin", "uusi5678").empty());

  // A visitor registers through the form, accepting the rules.
  Form regin = OnlyForm(site.Get("/Regin", "ID=0&Lang=Eng"));
  regin.Set("Tunnus", "maija");
  regin.Set("Koodi", "kesa2026");
  regin.Set("ENimi", "Maija");
  regin.Set("SNimi", "Meik\xe4l\xe4inen");
  regin.Set("Puh", "040 111 2222");
  CgiResult reg = site.Get("/SavReg", regin.Query());
  ASSERT_EQ(reg.status, 302) << reg.body;
  EXPECT_NE(reg.Header("Location").find("Upd=N"), std::string::npos);
  CgiResult regOk = site.Follow(reg.Header("Location"));
  ExpectWholePage(regOk, "RegOk");
  EXPECT_NE(regOk.body.find("Registration completed"), std::string::npos);
}

TEST_F(SitePages, EnglishPagesShowEnglishLabels) {
  // Finnish defaults of the texts these pages show.
  const char* const finnish[] = {
      "Kirjaudu sis\xe4\xe4n", "Rekister\xf6idy k\xe4ytt\xe4j\xe4ksi", "Omat varaukset", "Uusi varaus",
      "Omat tiedot", "Vaihda salasana", "Kirjaudu ulos", "Kotisivut", "Ennen rekister\xf6itymist\xe4",
      "Lue t\xe4st\xe4", "Varauksen poistaminen", "tuntia ennen varattua", "Ennakkovaraus maksaa",
      "Ennakkovarausmaksu", "Jokainen varauksen", "euroa, joka", "Varaa", "Vuoro", "Resurssi",
      "Laji", "Ohjaaja", "Toiminto", "P\xe4iv\xe4ys", "K\xe4ytt\xe4j\xe4", "Saldo", "Poista varaus",
      "Perumaton", "Valitse", "Ei valintaa", "Hakutoiminnassa"};
  std::string id = site.LogIn("Eng");
  std::string il = "ID=" + id + "&Lang=Eng";
  Form resval = OnlyForm(site.Get("/ResVal", il));
  Form visitor = resval;
  visitor.Set("ID", "0");
  visitor.Set("Resurssi", "102");
  std::string courtLink = Links(site.Get("/Viikko", ViikkoQuery(resval, "201")).body, "Varaa").at(0);
  std::vector<std::pair<std::string, CgiResult>> pages = {
      {"start page", site.Get("/Index", "Lang=Eng")},
      {"login page", site.Get("/Login", "Lang=Eng")},
      {"visitor calendar", site.Get("/Viikko", visitor.Query())},
      {"calendar", site.Get("/Viikko", ViikkoQuery(resval, "102"))},
      {"court calendar", site.Get("/Viikko", ViikkoQuery(resval, "201"))},
      {"own reservations", site.Get("/Omat", il)},
      {"booking confirmation", site.Follow(courtLink)},
  };
  for (const auto& [what, page] : pages) {
    ASSERT_EQ(page.status, 200) << what;
    std::string text = Visible(page.body);
    for (const char* f : finnish) EXPECT_EQ(text.find(f), std::string::npos) << what << " shows \"" << f << "\"";
  }
  EXPECT_NE(pages[0].second.body.find(">Log in</A>"), std::string::npos);
  EXPECT_NE(pages[0].second.body.find(">Register</A>"), std::string::npos);
  EXPECT_NE(pages[3].second.body.find(">My reservations</A>"), std::string::npos);
  EXPECT_NE(pages[3].second.body.find(">Log out</A>"), std::string::npos);
  EXPECT_NE(pages[5].second.body.find(">Cancel reservation</A>"), std::string::npos);

  // Every text these pages asked for was among the imported ones: the
  // program seeded no Finnish default into KAANNOS.
  std::string exported = site.root() + "/texts.tsv";
  ASSERT_EQ(Shell(site.Admin("translations export '" + exported + "'")).first, 0);
  auto rowsOf = [](const std::string& file) {
    std::ifstream in(file);
    int rows = 0;
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) ++rows;
    return rows;
  };
  EXPECT_EQ(rowsOf(exported), rowsOf(site.root() + "/share/weborvane/eng.tsv"));
  EXPECT_GE(rowsOf(exported), static_cast<int>(std::size(texts::kAll)));
}

// The configuration that scripts/lighttpd-conf writes, with the real server.
TEST_F(SitePages, ServedByLighttpdWithTheShippedConfiguration) {
  std::string lighttpd = fs::exists("/usr/sbin/lighttpd") ? "/usr/sbin/lighttpd" : "lighttpd";
  if (Shell("command -v " + lighttpd + " >/dev/null 2>&1").first != 0) GTEST_SKIP() << "lighttpd is not installed";
  std::mt19937 rng(static_cast<unsigned>(getpid()) ^
                   static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string conf = site.root() + "/lighttpd.conf", pidFile = site.root() + "/log/lighttpd.pid";
  std::string base;
  for (int attempt = 0; attempt < 8 && base.empty(); ++attempt) {
    int port = 20000 + static_cast<int>(rng() % 30000);
    ASSERT_EQ(Shell(std::string(WO_SOURCE_DIR) + "/scripts/lighttpd-conf '" + site.root() + "' " +
                    std::to_string(port) + " > '" + conf + "'")
                  .first,
              0);
    if (Shell(lighttpd + " -f '" + conf + "' 2>&1").first == 0) base = "http://127.0.0.1:" + std::to_string(port);
  }
  ASSERT_FALSE(base.empty()) << "lighttpd did not start";
  struct Stop {
    std::string pidFile;
    ~Stop() {
      for (int i = 0; i < 50 && !fs::exists(pidFile); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      std::ifstream f(pidFile);
      long pid = 0;
      if (f >> pid && pid > 0) kill(static_cast<pid_t>(pid), SIGTERM);
    }
  } stop{pidFile};
  auto fetch = [&](const std::string& path) {
    std::string out;
    for (int i = 0; i < 50; ++i) {  // until the server listens
      auto [rc, o] = Shell("curl -s -i --max-time 10 '" + base + path + "'");
      out = o;
      if (rc == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return out;
  };
  std::string css = fetch("/weborvane.css");
  EXPECT_EQ(css.rfind("HTTP/1.1 200", 0), 0u) << css.substr(0, 200);
  EXPECT_EQ(fetch("/logo.svg").rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(fetch("/").rfind("HTTP/1.1 200", 0), 0u);
  std::string page = fetch("/cgi-bin/WebOrvane.exe/Viikko?ID=0&Lang=Eng&Resurssi=102&PP=1&KK=1&VV=2000");
  EXPECT_EQ(page.rfind("HTTP/1.1 200", 0), 0u) << page.substr(0, 400);
  EXPECT_NE(page.find("Spinningsali"), std::string::npos);
  EXPECT_NE(page.find("<html lang=\"en\">"), std::string::npos);
  // Forms of the Windows-1252 pages send Finnish letters as single bytes
  // (%F6 is "\xf6"); the server must pass them on, not refuse the request.
  std::string finnish = fetch(
      "/cgi-bin/WebOrvane.exe/SavReg?ID=0&Lang=Fin&Tunnus=ville&Koodi=s%E4%E4nt%F6&ENimi=Ville&SNimi=M%E4kel%E4"
      "&Os01=&Os02=&Os03=&EMail=&Puh=040+1&MPuh=&Toim=Hyv%E4ksyn+s%E4%E4nn%F6t+ja+haluan+rekister%F6ity%E4");
  EXPECT_EQ(finnish.rfind("HTTP/1.1 302", 0), 0u) << finnish.substr(0, 400);
  EXPECT_NE(finnish.find("Location: /cgi-bin/WebOrvane.exe/regok?ID="), std::string::npos);
  std::string login = fetch("/cgi-bin/WebOrvane.exe/ChkLogin?Lang=Fin&Tunnus=demo&Koodi=demo1234");
  EXPECT_EQ(login.rfind("HTTP/1.1 302", 0), 0u) << login.substr(0, 400);
  EXPECT_NE(login.find("Location: /cgi-bin/WebOrvane.exe/resval?ID="), std::string::npos);
}

}  // namespace
}  // namespace wo
