// A small centre on a BackendSite for the tests that run the installed
// program: the site settings, users with live sessions, slots two days
// ahead on resource R1 and what VAVARAUS and WEBREG hold afterwards.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/datetime.h"
#include "concurrency/backends.h"
#include "store/table.h"

namespace wo::test {

class CentreSite : public BackendSite {
 protected:
  void Params(int maxAsVaraus) {
    Insert("WEBPARAM", {{"Numero", "01"},
                        {"MaxAsVaraus", std::to_string(maxAsVaraus)},
                        {"MaxVarausPv", "30"},
                        {"MaxVanhatPv", "30"},
                        {"MaxVanhatVaraukset", "3"},
                        {"VarMaksuKaytossa", "1"},
                        {"Varausmaksu", "1.0"}});
  }
  // A user with a session that is live now; returns the session ID.
  std::string User(int n) {
    const std::string asNo = std::to_string(100 + n);
    const std::string id = asNo + "O12345678901234";
    Insert("WEBREG", {{"Tunnus", "user" + std::to_string(n)},
                      {"PinKoodi", "x"},
                      {"AsNo", asNo},
                      {"KorttiLyh", ""},
                      {"Sukunimi", "Kilpa"},
                      {"EtuNimi", std::to_string(n)},
                      {"ID", id},
                      {"Aika", ToStoredDateTime(Now())},
                      {"TmpSaldo", "0"}});
    return id;
  }
  void Slot(const std::string& vuoroNo, int places, int daysAhead = 2) {
    Insert("VaVuoro", {{"Kausi", "2030"},
                       {"VuoroNo", std::string(5 - vuoroNo.size(), ' ') + vuoroNo},
                       {"VuoroNoSeq", "    1"},
                       {"ResNo", "R1"},
                       {"VuoroAika", ToStoredDateTime(DateOf(Now()) + daysAhead + EncodeTime(18, 0, 0))},
                       {"Kesto", "01:00:00"},
                       {"Maara", std::to_string(places)},
                       {"Laji", "SP"}});
  }
  // (AsNo, Jno) of every VAVARAUS row, in index order.
  std::vector<std::pair<std::string, int64_t>> Rows() {
    std::vector<std::pair<std::string, int64_t>> out;
    store::Table t(*conn_, store::TableNamed("VAVARAUS"), "", "Kausi;VuoroNo;VuoroNoSeq;Jno");
    t.Open();
    for (t.First(); !t.Eof(); t.Next()) out.emplace_back(t.Text("AsNo"), t.Int("Jno"));
    t.Close();
    return out;
  }
  double WebBalance(int n) {
    store::Table t(*conn_, store::TableNamed("WEBREG"), "", "Tunnus");
    t.Open();
    double v = t.FindKey({store::Txt("user" + std::to_string(n))}) ? t.Float("TmpSaldo") : 1e9;
    t.Close();
    return v;
  }
};

}  // namespace wo::test
