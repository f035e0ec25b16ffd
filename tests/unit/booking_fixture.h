// A booking site for the reservation and cancellation tests: a throwaway
// install tree with tiny byte-exact templates, a fixed clock, and helpers
// that put settings, users, slots and reservations into its SQLite file and
// read the outcome back through table handles.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "store/database.h"
#include "base/datetime.h"
#include "store/table.h"
#include "support/centre_rows.h"
#include "support/clock.h"
#include "support/site.h"

namespace wo::booking_test {

using test::CgiResult;
using test::Row;

// The clock stands still at the value last given while a fixture lives.
using StoppedClock = test::TestClock;

inline constexpr double kMinute = 1.0 / 1440;
inline constexpr double kSecond = 1.0 / 86400;
inline constexpr double kHour = 1.0 / 24;

// One VAVARAUS row as read back.
struct Reservation {
  std::string kausi, vuoroNo, seq, asNo, asNimi, kortti, puh, huom;
  int64_t jno = 0, status = 0;
  bool kaytettyNull = false, koTyyppiNull = false;
  DateTime varausaika = 0, aikaLeima = 0;
};

// One WEBREG row as read back.
struct WebUser {
  std::string id;
  DateTime aika = 0;
  double tmpSaldo = 0;
};

class BookingSite : public ::testing::Test {
 protected:
  // Monday 10 June 2030, 12:00.
  const DateTime now = EncodeDate(2030, 6, 10) + EncodeTime(12, 0, 0);

  BookingSite() : clock_(now), site_(std::make_unique<test::TempSite>()) {
    site_->WriteTemplate("Fin", "error.html", "E:<#ERROR>");
    site_->WriteTemplate("Fin", "varaa.html", "<#VARAUS>|<#VARPARAM>");
    site_->WriteTemplate("Fin", "poista.html", "<#VARAUS>|<#VARPARAM>");
    site_->WriteTemplate("Fin", "omat.html", "<#OMATLISTA>");
    site_->WriteTemplate("Fin", "varok.html", "VAROK <#ID>");
    site_->WriteTemplate("Fin", "poisok.html", "POISOK <#ID>");
    conn_ = site_->Connect();
    Insert("VARESNIMI", {{"ResNo", "R1"}, {"ResNimi", "Sali 1"}, {"ResWebNayta", "1"}});
    Insert("VALAJI", {{"Koodi", "SP"}, {"Lyhenne", "Sulkis"}, {"Selite", "Sulkapallo"}});
    Insert("VAOHJAAJA", {{"Koodi", "OH1"}, {"Lyhenne", "Ohj"}, {"Nimi", "Olli Ohjaaja"}});
  }

  test::TempSite& site() { return *site_; }
  store::Connection& conn() { return *conn_; }

  void Insert(std::string_view table, const Row& row) { test::InsertRow(*conn_, table, row); }

  // The settings row "01": these values over the defaults below.
  void Params(const std::map<std::string, std::string>& over = {}) {
    std::map<std::string, std::string> p = {
        {"MaxAsVaraus", "4"},   {"MaxVarausPv", "30"},      {"MaxVanhatPv", "30"}, {"MaxVanhatVaraukset", "3"},
        {"PoistaEnnenPv", "2"}, {"VarMaksuKaytossa", "0"}, {"Varausmaksu", "0"},  {"Luottoraja", "0"},
        {"NaytaOhjaaja", "0"},  {"ListanMuoto", "0"}};
    for (const auto& [k, v] : over) p[k] = v;
    Row row = {{"Numero", "01"}};
    for (const auto& [k, v] : p) row.emplace_back(k, v);
    Insert("WEBPARAM", row);
  }

  // A web user with a live session (Aika = now); returns the session ID that
  // links carry (longer than the 15 characters WEBREG keeps).
  std::string User(const std::string& tunnus, const std::string& asNo, const std::string& kortti = "",
                   const std::map<std::string, std::string>& over = {}) {
    const std::string id = Cut(tunnus + "O000000000000000", 15) + "77";
    Row more = {{"EtuNimi", "Ville"}, {"PuhNo", "040123"}, {"TmpSaldo", "0"}};
    for (const auto& [k, v] : over) more.emplace_back(k, v);
    test::AddUser(*conn_, {.tunnus = tunnus,
                           .asNo = asNo,
                           .korttiLyh = kortti,
                           .id = id,
                           .aika = ToStoredDateTime(now),
                           .more = more});
    return id;
  }

  void Customer(const std::string& asNo, const std::string& laskutettu, const std::string& nimi = "Asiakas Oy",
                const std::string& puh = "09777") {
    Insert("Asiakas", {{"AsNo", asNo}, {"AsNimi", nimi}, {"PuhNo", puh}, {"Laskutettu", laskutettu}});
  }

  // A slot of resource R1, one hour long, VuoroNo / VuoroNoSeq right-aligned.
  void Slot(const std::string& vuoroNo, DateTime start, int maara = 5, const std::string& kausi = "2030",
            const std::string& seq = "1", const std::string& ohjaaja = "") {
    test::AddSlot(*conn_, {.kausi = kausi,
                           .vuoroNo = PadLeft(vuoroNo),
                           .seq = PadLeft(seq),
                           .res = "R1",
                           .at = ToStoredDateTime(start),
                           .maara = maara,
                           .laji = "SP",
                           .tyyppi = "",
                           .ohjaaja = ohjaaja});
  }

  void Booking(const std::string& vuoroNo, int jno, const std::string& asNo, const std::string& kortti = "",
               int status = 0, const std::string& kausi = "2030", const std::string& seq = "1") {
    test::AddReservation(*conn_, {.kausi = kausi,
                                  .vuoroNo = PadLeft(vuoroNo),
                                  .seq = PadLeft(seq),
                                  .jno = jno,
                                  .asNo = asNo,
                                  .status = status,
                                  .more = {{"AsNimi", "Joku"}, {"KorttiLyh", kortti}, {"Huom", "Web"}}});
  }

  static std::string PadLeft(const std::string& s) { return s.size() >= 5 ? s : std::string(5 - s.size(), ' ') + s; }

  // Every VAVARAUS row in the order Kausi;VuoroNo;VuoroNoSeq;Jno.
  std::vector<Reservation> Reservations() {
    std::vector<Reservation> out;
    store::Table t(*conn_, store::TableNamed("VAVARAUS"), "", "Kausi;VuoroNo;VuoroNoSeq;Jno");
    t.Open();
    for (t.First(); !t.Eof(); t.Next()) {
      Reservation r;
      r.kausi = t.Text("Kausi");
      r.vuoroNo = t.Text("VuoroNo");
      r.seq = t.Text("VuoroNoSeq");
      r.asNo = t.Text("AsNo");
      r.asNimi = t.Text("AsNimi");
      r.kortti = t.Text("KorttiLyh");
      r.puh = t.Text("PuhNo");
      r.huom = t.Text("Huom");
      r.jno = t.Int("Jno");
      r.status = t.Int("Status");
      r.kaytettyNull = t.IsNull("Kaytettyaika");
      r.koTyyppiNull = t.IsNull("KoTyyppi");
      r.varausaika = t.Date("Varausaika");
      r.aikaLeima = t.Date("AikaLeima");
      out.push_back(r);
    }
    t.Close();
    return out;
  }

  // The Jno values of one slot's rows.
  std::vector<int64_t> Jnos(const std::string& vuoroNo) {
    std::vector<int64_t> out;
    for (const Reservation& r : Reservations())
      if (r.vuoroNo == PadLeft(vuoroNo)) out.push_back(r.jno);
    return out;
  }

  WebUser UserRow(const std::string& tunnus) {
    store::Table t(*conn_, store::TableNamed("WEBREG"), "", "Tunnus");
    t.Open();
    WebUser u;
    if (t.FindKey({store::Txt(tunnus)})) {
      u.id = t.Text("ID");
      u.aika = t.Date("Aika");
      u.tmpSaldo = t.Float("TmpSaldo");
    }
    t.Close();
    return u;
  }

  double Billed(const std::string& asNo) {
    store::Table t(*conn_, store::TableNamed("Asiakas"), "", "AsNo");
    t.Open();
    double v = t.FindKey({store::Txt(asNo)}) ? t.Float("Laskutettu") : -12345;
    t.Close();
    return v;
  }

  // Seconds between two date-times, rounded.
  static long long SecondsApart(DateTime a, DateTime b) { return std::llround((a - b) * 86400.0); }

  CgiResult Get(std::string_view path, std::string_view query) { return site_->RunInProcess(path, query); }

  // The query of a booking or cancellation link.
  static std::string Key(const std::string& id, const std::string& vuo, const std::string& rest = "") {
    return "ID=" + id + "&Lang=Fin&Kau=2030&Vuo=" + vuo + "&Seq=1" + rest;
  }

 private:
  StoppedClock clock_;
  std::unique_ptr<test::TempSite> site_;
  std::unique_ptr<store::Connection> conn_;
};

// The error page of the test templates with the message of `text`.
inline std::string ErrorPageWith(std::string_view text) { return "E:" + std::string(text); }

inline const std::string kMsgGeneric =
    "Hakutoiminnassa tapahtui virhe. Yrit\xe4 kohta uudelleen,tarkista hakuehdot!";
inline const std::string kMsgDuplicate = "Varaus on jo olemassa t\xe4lle vuorolle!";
inline const std::string kMsgNotFound = "Varausta ei l\xf6ydy!";
inline const std::string kMsgSlotClosed = "Vuoroa ei voi en\xe4\xe4 varata!";
inline const std::string kMsgTooLate = "Varausta ei voi en\xe4\xe4 poistaa!";
inline const std::string kMsgCredit = "Saldon luottoraja ylitetty!";

}  // namespace wo::booking_test
