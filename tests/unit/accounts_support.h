// Shared by the account tests: a site with tiny templates, a fixed clock,
// WEBREG users in stored form, table snapshots, and a module built in this
// process for the session tests that other actions call.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "booking/session.h"
#include "frame/html.h"
#include "module/password_cipher.h"
#include "module/session.h"
#include "store/schema.h"
#include "store/table.h"
#include "support/centre_rows.h"
#include "support/clock.h"
#include "support/module_on_site.h"
#include "support/site.h"

namespace wo::test::accounts {

// The clock reads a settable time until the object goes.
using FixedClock = TestClock;

// The idle limit at the test clock's time.
inline bool SessionTimedOut(DateTime aika) { return wo::SessionTimedOut(aika, TestNow()); }

// Stored forms under the built-in key, the key of a site whose INI names none.
inline std::string EncodePassword(std::string_view plain) { return PasswordCipher().Encode(plain); }
inline std::string DecodePassword(std::string_view stored) { return PasswordCipher().Decode(stored); }

inline const DateTime kNow = EncodeDate(2026, 3, 15) + EncodeTime(12, 0, 0);
inline DateTime Seconds(double s) { return s / kSecondsPerDay; }
inline std::string Stored(DateTime t) { return ToStoredDateTime(t); }

// The error page shows "ERR[" + the ERROR tag + "]".
inline const std::string kC19 =
    "ERR[Hakutoiminnassa tapahtui virhe. Yrit\xe4 kohta uudelleen,tarkista hakuehdot!]";
inline const std::string kCode4 = "ERR[Tunnus tai salasana on virheellinen (4-14 merkki\xe4)!]";
inline const std::string kCode3 = "ERR[Pakollisia tietoja puuttuu (sukunimi, etunimi, puh.numero...)!]";

struct User {
  std::string tunnus, password = "Salasana1", asNo = "         500001", id = "0";
  DateTime aika = kNow - 1.0;
  std::string status = "1";  // kNull for null
};

class AccountsSite : public TempSite {
 public:
  explicit AccountsSite(SiteOptions opts = {}) : TempSite(std::move(opts)) {
    WriteTemplate("Fin", "error.html", "ERR[<#ERROR>]");
    WriteTemplate("Eng", "error.html", "ENG-ERR[<#ERROR>]");
    WriteTemplate("Fin", "regok.html", "REGOK[<#RGMODETXT>|<#ID>]");
    WriteTemplate("Fin", "vaihdaok.html", "VAIHDAOK[<#RGMODETXT>|<#ID>]");
  }

  void AddUser(const User& u) const {
    test::AddUser(*Connect(), {.tunnus = u.tunnus,
                               .pinKoodi = EncodePassword(u.password),
                               .asNo = u.asNo,
                               .id = u.id,
                               .aika = Stored(u.aika),
                               .status = u.status,
                               .more = {{"RemoteHost", "old.host"}}});
  }
  void SetCounter(int last) const {
    InsertRow(*Connect(), "PARAM", {{"Avain", "WebAsNo"}, {"ArvoInt32", std::to_string(last)}});
  }

  // The user's row, field name to text, null as "<null>"; empty when none.
  std::map<std::string, std::string> UserRow(const std::string& tunnus) const {
    std::map<std::string, std::string> row;
    auto c = Connect();
    store::Table t(*c, store::TableNamed("WEBREG"), "", "Tunnus");
    t.Open();
    if (t.FindKey({store::Txt(tunnus)}))
      for (const store::ColumnDef& col : t.def().columns) row[col.name] = t.IsNull(col.name) ? "<null>" : t.Text(col.name);
    return row;
  }
  // Every row of WEBREG and PARAM, as one text.
  std::string Dump() const {
    std::string all;
    auto c = Connect();
    for (const char* name : {"WEBREG", "PARAM"}) {
      const store::TableDef& def = store::TableNamed(name);
      store::Table t(*c, def, "", def.columns.front().name);
      for (t.Open(); !t.Eof(); t.Next(), all += "\n")
        for (const store::ColumnDef& col : def.columns) all += (t.IsNull(col.name) ? "<null>" : t.Text(col.name)) + "|";
    }
    return all;
  }
  int Counter() const { return std::stoi(CounterText()); }

 private:
  std::string CounterText() const {
    auto c = Connect();
    store::Table t(*c, store::TableNamed("PARAM"), "", "Avain");
    t.Open();
    return t.FindKey({store::Txt("WebAsNo")}) ? t.Text("ArvoInt32") : "-1";
  }
};

// The ID of a redirect to "/cgi-bin/WebOrvane.exe/<path>?ID=...", or "".
inline std::string IdOf(const CgiResult& r, const std::string& path) {
  const std::string location = r.Header("Location"), head = std::string(kProgramUrl) + path + "?ID=";
  if (r.status != 302 || location.compare(0, head.size(), head) != 0) return std::string();
  return location.substr(head.size(), location.find('&') - head.size());
}

inline bool LettersAndDigits(const std::string& s) {
  for (char c : s)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  return !s.empty();
}

// A web module of `site` built in this process, for the session tests
// that the booking actions call, with the session ID `sessionId`.
class InProcessModule : public ModuleOnSite {
 public:
  InProcessModule(const TempSite& site, std::string sessionId) : ModuleOnSite(site, "/Varaa") {
    (*this)->page.SessionId = std::move(sessionId);
  }
};

}  // namespace wo::test::accounts
