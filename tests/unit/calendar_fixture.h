// A small centre for the calendar's tests: a throwaway site with one
// activity kind and two resources, helpers to add slots and reservations in
// their stored forms, a fixed clock and a web module built directly on the
// site (working directory www/cgi-bin while it lives).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "base/datetime.h"
#include "booking/calendar.h"
#include "store/sqlite_handle.h"
#include "support/centre_rows.h"
#include "support/clock.h"
#include "support/module_on_site.h"
#include "support/site.h"

namespace wo::test::cal {

// The clock stands at a fixed local date-time while the object lives.
using FixedNow = TestClock;

inline DateTime At(int y, int m, int d, int hh = 0, int nn = 0) { return EncodeDate(y, m, d) + EncodeTime(hh, nn, 0); }

// A session ID the calendar takes as logged in (longer than 10).
inline const std::string kSession = "ABCDEFGHIJKL12345";

struct Slot {
  std::string at;                 // "YYYY-MM-DD HH:MM:SS"
  std::string tyyppi = "";        // "" ordinary, "S", "A"
  std::string res = "R1";
  std::string kesto = "01:00:00";
  std::string laji = "K1";
  std::string ohjaaja = "";       // "" leaves it null
  std::string vuoroNo = "";       // "" numbers the slots 1, 2, 3 ... right-aligned
  std::string seq = "    1";
  std::string kausi = "2024";
  int maara = 5;
};

class CalendarSite {
 public:
  CalendarSite() : conn_(site_.Connect()) {
    InsertRow(*conn_, "VALAJI", {{"Koodi", "K1"}, {"Lyhenne", "Sali"}, {"Selite", "Salivuoro"}});
    InsertRow(*conn_, "VARESNIMI", {{"ResNo", "R1"}, {"ResNimi", "Halli"}, {"ResWebNayta", "1"}, {"ResKeskus", "C1"}});
    InsertRow(*conn_, "VARESNIMI", {{"ResNo", "R2"}, {"ResNimi", "Kentt\xe4"}, {"ResWebNayta", "1"}, {"ResKeskus", "C1"}});
  }

  TempSite& site() { return site_; }
  store::Connection& conn() { return *conn_; }

  // Adds the slot; returns its VuoroNo as stored.
  std::string AddSlot(const Slot& s) {
    std::string no = s.vuoroNo;
    if (no.empty()) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%5d", ++next_);
      no = buf;
    }
    auto unlessEmpty = [](const std::string& v) { return v.empty() ? std::nullopt : std::optional<std::string>(v); };
    test::AddSlot(*conn_, {.kausi = s.kausi,
                           .vuoroNo = no,
                           .seq = s.seq,
                           .res = s.res,
                           .at = s.at,
                           .kesto = s.kesto,
                           .maara = s.maara,
                           .laji = s.laji,
                           .tyyppi = unlessEmpty(s.tyyppi),
                           .ohjaaja = unlessEmpty(s.ohjaaja)});
    return no;
  }

  // `n` VAVARAUS rows of one slot, with Jno 1..n and the given Status.
  void AddReservations(const std::string& kausi, const std::string& vuoroNo, const std::string& seq, int n,
                       int status = 0) {
    for (int j = 1; j <= n; ++j)
      test::AddReservation(*conn_, {.kausi = kausi, .vuoroNo = vuoroNo, .seq = seq, .jno = j, .asNo = "100", .status = status});
  }

  // Raw SQL on the site's file, for bulk rows in one transaction.
  void Sql(const std::string& sql) {
    store::SqliteDb db = store::OpenSqliteDb(site_.dbFile(), SQLITE_OPEN_READWRITE);
    char* err = nullptr;
    int rc = sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &err);
    std::string msg = err ? err : "";
    sqlite3_free(err);
    if (rc != SQLITE_OK) throw std::runtime_error("sql: " + msg);
  }

 private:
  TempSite site_;
  std::unique_ptr<store::Connection> conn_;
  int next_ = 0;
};

// A module as a request to `path` with `query` creates it.
class ModuleHere : public ModuleOnSite {
 public:
  explicit ModuleHere(const TempSite& site, std::string path = "/Viikko", std::string query = "")
      : ModuleOnSite(site, std::move(path), std::move(query)) {}

  // The VUOROLISTA text of the week grid form.
  std::string Grid() {
    std::string out;
    FillWeekGrid(**this, out);
    RenderWeekGridRows(**this, out);
    return out;
  }
};

// The booking link of slot (Kau 2024, Vuo `vuo`, Seq 1) for kSession.
inline std::string Link(const std::string& vuo, const std::string& lang = "FIN") {
  return "<A HREF=\"/cgi-bin/WebOrvane.exe/Varaa?ID=" + kSession + "&Lang=" + lang + "&Kau=2024&Vuo=" + vuo +
         "&Seq=1\">";
}

}  // namespace wo::test::cal
