// Shared by the account tests: a site with tiny templates, a fixed clock,
// WEBREG users in stored form, whole-table snapshots, and a module built in
// this process for the session tests that other actions call.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/html.h"
#include "module/module.h"
#include "store/datetime.h"
#include "store/schema.h"
#include "store/table.h"
#include "support/site.h"

namespace wo::test::accounts {

// The clock reads `now` until the object goes.
class FixedClock {
 public:
  explicit FixedClock(DateTime now) {
    Now_() = now;
    SetClockForTesting(&Read);
  }
  ~FixedClock() { SetClockForTesting(nullptr); }
  void Set(DateTime now) { Now_() = now; }

 private:
  static DateTime& Now_() {
    static DateTime t = 0;
    return t;
  }
  static DateTime Read() { return Now_(); }
};

inline DateTime At(int y, int mo, int d, int h, int mi, int s) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s);
}
inline DateTime Seconds(double s) { return s / kSecondsPerDay; }

// The stored text form of a date-time, as the tests compare it.
inline std::string Stored(DateTime t) { return ToStoredDateTime(t); }

// The texts of the error page's ERROR tag.
inline const std::string kC19 =
    "Hakutoiminnassa tapahtui virhe. Yrit\xe4 kohta uudelleen,tarkista hakuehdot!";
inline const std::string kCode4 = "Tunnus tai salasana on virheellinen (4-14 merkki\xe4)!";
inline const std::string kCode3 = "Pakollisia tietoja puuttuu (sukunimi, etunimi, puh.numero...)!";

inline std::string ErrorBody(const std::string& message) { return "ERR[" + message + "]"; }

// A site whose error and confirmation pages show just their tags.
class AccountsSite : public TempSite {
 public:
  explicit AccountsSite(SiteOptions opts = {}) : TempSite(std::move(opts)) {
    WriteTemplate("Fin", "error.html", "ERR[<#ERROR>]");
    WriteTemplate("Eng", "error.html", "ENG-ERR[<#ERROR>]");
    WriteTemplate("Fin", "regok.html", "REGOK[<#RGMODETXT>|<#ID>]");
    WriteTemplate("Fin", "vaihdaok.html", "VAIHDAOK[<#RGMODETXT>|<#ID>]");
  }

  struct User {
    std::string tunnus, password, asNo = "         500001", id = "0";
    std::string aika = "2026-01-01 10:00:00";
    std::string status = "1";  // kNull for null
    std::string sukunimi = "Virtanen";
  };
  void AddUser(const User& u) const {
    auto c = Connect();
    InsertRow(*c, "WEBREG",
              {{"Tunnus", u.tunnus},
               {"PinKoodi", EncodePassword(u.password)},
               {"AsNo", u.asNo},
               {"KorttiLyh", ""},
               {"Sukunimi", u.sukunimi},
               {"EtuNimi", "Liisa"},
               {"PuhNo", "0401234567"},
               {"ID", u.id},
               {"Aika", u.aika},
               {"Status", u.status},
               {"RemoteHost", "old.host"}});
  }

  // Every field of the user's row as text (null reads as ""); empty when
  // the user name has no row.
  std::map<std::string, std::string> UserRow(const std::string& tunnus) const {
    auto c = Connect();
    store::Table t(*c, store::TableNamed("WEBREG"), "", "Tunnus");
    t.Open();
    std::map<std::string, std::string> row;
    if (t.FindKey({store::Txt(tunnus)}))
      for (const store::ColumnDef& col : t.def().columns)
        row[col.name] = t.Text(col.name);
    t.Close();
    return row;
  }

  bool FieldIsNull(const std::string& tunnus, const std::string& field) const {
    auto c = Connect();
    store::Table t(*c, store::TableNamed("WEBREG"), "", "Tunnus");
    t.Open();
    bool isNull = t.FindKey({store::Txt(tunnus)}) && t.IsNull(field);
    t.Close();
    return isNull;
  }

  // Every row of a table, each as its fields' texts joined by "|".
  std::vector<std::string> Dump(const std::string& table) const {
    auto c = Connect();
    const store::TableDef& def = store::TableNamed(table);
    store::Table t(*c, def, "", def.indexes.empty() ? def.columns.front().name : def.indexes.front().fields);
    t.Open();
    std::vector<std::string> rows;
    for (t.First(); !t.Eof(); t.Next()) {
      std::string r;
      for (const store::ColumnDef& col : def.columns) r += (t.IsNull(col.name) ? "<null>" : t.Text(col.name)) + "|";
      rows.push_back(r);
    }
    t.Close();
    return rows;
  }

  void SetCounter(int last) const {
    auto c = Connect();
    InsertRow(*c, "PARAM", {{"Avain", "WebAsNo"}, {"ArvoInt32", std::to_string(last)}});
  }
};

// "/cgi-bin/WebOrvane.exe/<path>?ID=" + the ID of a redirect location, or
// "" when the location has another form.
inline std::string IdOfLocation(const std::string& location, const std::string& path) {
  const std::string head = std::string(kProgramUrl) + path + "?ID=";
  if (location.compare(0, head.size(), head) != 0) return std::string();
  size_t end = location.find('&', head.size());
  return location.substr(head.size(), end == std::string::npos ? std::string::npos : end - head.size());
}

inline bool LettersAndDigits(const std::string& s) {
  for (char c : s)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return true;
}

// A web module of `site` built in this process for a request of `query`,
// so a test can call the session operations that the actions use.
class InProcessModule {
 public:
  InProcessModule(const TempSite& site, const std::string& query)
      : cwd_(site.cgiDir()),
        req_("GET", "/Varaa", query),
        resp_([this](std::string_view b) { out_.append(b); }, true),
        module_(std::make_unique<WebModule>(req_, resp_, ModulePaths{site.iniFile(), site.logDir() + "/"})) {}
  WebModule& operator*() { return *module_; }
  WebModule* operator->() { return module_.get(); }

 private:
  ScopedCwd cwd_;
  std::string out_;
  Request req_;
  Response resp_;
  std::unique_ptr<WebModule> module_;
};

}  // namespace wo::test::accounts
