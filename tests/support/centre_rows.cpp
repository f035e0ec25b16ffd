#include "support/centre_rows.h"

namespace wo::test {

namespace {

Row With(Row row, const Row& more) {
  row.insert(row.end(), more.begin(), more.end());  // a field named again: the later value counts
  return row;
}

}  // namespace

void AddUser(store::Connection& c, const NewUser& u) {
  Row row = {{"Tunnus", u.tunnus}, {"PinKoodi", u.pinKoodi}, {"AsNo", u.asNo}, {"KorttiLyh", u.korttiLyh},
             {"Sukunimi", u.sukunimi}, {"ID", u.id}, {"Status", u.status}};
  if (!u.aika.empty()) row.push_back({"Aika", u.aika});
  InsertRow(c, "WEBREG", With(row, u.more));
}

void AddSlot(store::Connection& c, const NewSlot& s) {
  Row row = {{"VuoroNo", s.vuoroNo}, {"VuoroNoSeq", s.seq},   {"ResNo", s.res},
             {"VuoroAika", s.at},    {"Kesto", s.kesto},       {"Maara", std::to_string(s.maara)},
             {"Laji", s.laji},       {"Kausi", s.kausi}};
  if (s.tyyppi) row.push_back({"Tyyppi", *s.tyyppi});
  if (s.ohjaaja) row.push_back({"Ohjaaja", *s.ohjaaja});
  InsertRow(c, "VaVuoro", row);
}

void AddReservation(store::Connection& c, const NewReservation& r) {
  InsertRow(c, "VAVARAUS", With({{"VuoroNo", r.vuoroNo}, {"VuoroNoSeq", r.seq}, {"Jno", std::to_string(r.jno)},
                                 {"Kausi", r.kausi}, {"AsNo", r.asNo}, {"Status", std::to_string(r.status)}},
                                r.more));
}

}  // namespace wo::test
