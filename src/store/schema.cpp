#include "store/schema.h"

#include "base/text.h"
#include "store/table.h"

namespace wo::store {

namespace {

using F = FieldType;

ColumnDef T(const char* name, int width, bool required = false) {
  return {name, F::Text, width, required};
}
ColumnDef C(const char* name, FieldType type, bool required = false) { return {name, type, 0, required}; }

// Index names: the table, then the fields, joined by "_" ("VaVuoro_ResNo_VuoroAika").
IndexDef Ix(const char* table, const char* fields, bool unique) {
  std::string name = std::string(table) + "_";
  for (const char* p = fields; *p; ++p) name += *p == ';' ? '_' : *p;
  return {name, fields, unique};
}

std::vector<TableDef> MakeTables() {
  std::vector<TableDef> t;
  t.push_back({"WEBPARAM",
               {T("Numero", 5, true), T("OsoiteRivi1", 50), T("OsoiteRivi2", 50), T("Puhelin", 15),
                T("EMail", 50), T("LnkKoti", 80), C("MaxAsVaraus", F::SmallInt),
                C("ListanMuoto", F::SmallInt), C("PoistaEnnenPv", F::SmallInt), T("LnkSaanto", 80),
                C("MaxVarausPv", F::SmallInt), C("MaxVanhatPv", F::SmallInt),
                C("MaxVanhatVaraukset", F::SmallInt), C("Varausmaksu", F::Float),
                C("Luottoraja", F::Float), C("VarMaksuKaytossa", F::SmallInt), T("Logo", 20),
                T("OtsikkoYla", 20), T("OtsikkoAla", 20), C("NaytaOhjaaja", F::SmallInt)},
               {Ix("WEBPARAM", "Numero", true)}});
  t.push_back({"VARESNIMI",
               {T("ResNo", 5, true), T("ResNimi", 35, true), T("ResPaikka", 5),
                C("ResSarja", F::Integer), C("ResWebNayta", F::SmallInt), C("ResNeeded", F::SmallInt),
                T("ResKeskus", 5)},
               {Ix("VARESNIMI", "ResNo", true), Ix("VARESNIMI", "ResKeskus;ResWebNayta;ResNimi", false)}});
  t.push_back({"VaVuoro",
               {T("VuoroNo", 5, true), T("VuoroNoSeq", 5, true), T("ResNo", 5, true),
                C("VuoroAika", F::DateTime), C("Kesto", F::Time), C("Maara", F::Integer),
                T("Ohjaaja", 5), T("Laji", 5), T("Tyyppi", 3), T("Kausi", 4)},
               {Ix("VaVuoro", "Kausi;VuoroNo;VuoroNoSeq", true), Ix("VaVuoro", "ResNo;VuoroAika", false)}});
  t.push_back({"VALAJI",
               {T("Koodi", 5, true), T("Lyhenne", 10), T("Selite", 35)},
               {Ix("VALAJI", "Koodi", true)}});
  t.push_back({"WEBREG",
               {T("Tunnus", 15, true), T("PinKoodi", 15, true), T("AsNo", 15), T("KorttiLyh", 15),
                T("Sukunimi", 35), T("EtuNimi", 25), T("PuhNo", 15), T("KatuOsoite1", 30),
                T("PostiNo", 5), T("PostiToimiPaikka", 25), T("EMail1", 80), T("ID", 15),
                C("Aika", F::DateTime), C("Status", F::SmallInt), T("RemoteHost", 80),
                T("MatkaPuh", 15), C("TmpSaldo", F::Float)},
               {Ix("WEBREG", "Tunnus", true), Ix("WEBREG", "ID;Tunnus", false)}});
  t.push_back({"VAVARAUS",
               {T("VuoroNo", 5, true), T("VuoroNoSeq", 5, true), C("Jno", F::Integer, true),
                T("AsNo", 15), T("AsNimi", 35), T("KorttiLyh", 16), T("PuhNo", 15),
                C("Status", F::SmallInt), C("Varausaika", F::DateTime), C("Kaytettyaika", F::DateTime),
                C("AikaLeima", F::DateTime), T("Kausi", 4), T("Huom", 4), C("KoTyyppi", F::SmallInt)},
               {Ix("VAVARAUS", "Kausi;VuoroNo;VuoroNoSeq;Jno", true), Ix("VAVARAUS", "AsNo;Status", false)}});
  t.push_back({"Asiakas",
               {T("AsNo", 15, true), T("AsNimi", 35, true), T("PuhNo", 15), C("Laskutettu", F::Float)},
               {Ix("Asiakas", "AsNo", true)}});
  t.push_back({"PARAM",
               {T("Avain", 10, true), C("ArvoInt32", F::Integer), T("ArvoStr", 80)},
               {Ix("PARAM", "Avain", true)}});
  t.push_back({"WEBKOODI",
               {T("ResNo", 5, true), T("WebKoodi", 5, true), T("WebSelite", 35), C("WebNumero", F::SmallInt)},
               {Ix("WEBKOODI", "ResNo;WebKoodi", true)}});
  t.push_back({"WEBKESKUS",
               {T("WebKeskus", 5, true), T("WebKeskusNimi", 35), C("WebNayta", F::SmallInt)},
               {Ix("WEBKESKUS", "WebKeskus", true)}});
  t.push_back({"VAOHJAAJA",
               {T("Koodi", 5, true), T("Lyhenne", 10), T("Nimi", 35), T("Kaytettavissa", 1)},
               {Ix("VAOHJAAJA", "Koodi", true)}});
  t.push_back({"KAANNOS",
               {T("LGKieli", 12, true), T("LGSovellus", 25, true), T("LGAvain", 50, true),
                T("LGTeksti", 120), C("LGKaytossa", F::Boolean)},
               {Ix("KAANNOS", "LGKieli;LGSovellus;LGAvain", true)}});
  // The web front's own table, not the desktop system's: one row per failed
  // login (the user name as typed, cut like WEBREG.Tunnus, the client's
  // address and the time), read and pruned by the login throttle.
  t.push_back({"WEBLOGINFAIL",
               {T("Tunnus", 15), T("Osoite", 80), C("Aika", F::DateTime, true)},
               {Ix("WEBLOGINFAIL", "Tunnus;Aika", false), Ix("WEBLOGINFAIL", "Osoite;Aika", false),
                Ix("WEBLOGINFAIL", "Aika", false)}});
  // The web front's outbox (store/outbox.h): one row per mail, queued by
  // the change it tells of and delivered by `weborvane-admin mail send`.
  t.push_back({"WEBPOSTI",
               {C("Id", F::Integer, true), T("Laji", 12, true), T("Vastaanottaja", 80, true), T("Kieli", 15),
                T("Tiedot", 4000), T("Kausi", 4), T("VuoroNo", 5), T("VuoroNoSeq", 5), T("AsNo", 15),
                C("Luotu", F::DateTime, true), C("Yritykset", F::Integer), C("Seuraava", F::DateTime, true),
                T("Tila", 10, true), T("Haltija", 60), C("Lahetetty", F::DateTime), T("Virhe", 250)},
               {Ix("WEBPOSTI", "Id", true), Ix("WEBPOSTI", "Tila;Seuraava", false),
                Ix("WEBPOSTI", "Kausi;VuoroNo;VuoroNoSeq;AsNo;Laji", false), Ix("WEBPOSTI", "Luotu", false)}});
  // The web front's password-reset links (booking/password_reset.h): the
  // hash of each link's token, never the token, with the user name it was
  // asked for and when it was made and lapses.
  t.push_back({"WEBPALAUTUS",
               {T("Tiiviste", 64, true), T("Tunnus", 15, true), C("Luotu", F::DateTime, true),
                C("Voimassa", F::DateTime, true)},
               {Ix("WEBPALAUTUS", "Tiiviste", true), Ix("WEBPALAUTUS", "Tunnus", false),
                Ix("WEBPALAUTUS", "Voimassa", false)}});
  // The calendar feeds' tokens (store/calendar_feed.h): one row per user
  // with a feed, the token kept only as its SHA-256 in hexadecimal.
  t.push_back({"WEBKALENTERI",
               {T("Tunnus", 15, true), T("Tiiviste", 64, true), C("Luotu", F::DateTime)},
               {Ix("WEBKALENTERI", "Tunnus", true), Ix("WEBKALENTERI", "Tiiviste", true)}});
  // The cancellations of the last weeks, for the calendar feeds: the key of
  // the deleted VAVARAUS row and when it was cancelled.
  t.push_back({"WEBPERUTTU",
               {T("Kausi", 4), T("VuoroNo", 5), T("VuoroNoSeq", 5), C("Jno", F::Integer), T("AsNo", 15),
                C("Peruttu", F::DateTime, true)},
               {Ix("WEBPERUTTU", "AsNo;Peruttu", false), Ix("WEBPERUTTU", "Peruttu", false)}});
  // The waiting lists of full slots (store/waiting_list.h): one row per
  // user in a slot's line, Id in the order of joining; Tila "waiting" or
  // "offered", an offer holding a place until Voimassa.
  t.push_back({"WEBJONO",
               {C("Id", F::Integer, true), T("Kausi", 4), T("VuoroNo", 5, true), T("VuoroNoSeq", 5, true),
                T("AsNo", 15, true), T("Tunnus", 15), T("Kieli", 15), C("Liittynyt", F::DateTime, true),
                T("Tila", 10, true), C("Voimassa", F::DateTime)},
               {Ix("WEBJONO", "Id", true), Ix("WEBJONO", "Kausi;VuoroNo;VuoroNoSeq;Id", false),
                Ix("WEBJONO", "AsNo;Id", false)}});
  return t;
}

}  // namespace

// Names are looked up thousands of times a page, nearly always spelt as
// defined: the exact spelling is tried before the comparison without case.
const ColumnDef* TableDef::Column(std::string_view n) const {
  for (const ColumnDef& c : columns)
    if (c.name == n) return &c;
  for (const ColumnDef& c : columns)
    if (SameText(c.name, n)) return &c;
  return nullptr;
}

const std::vector<TableDef>& AllTables() {
  static const std::vector<TableDef> tables = MakeTables();
  return tables;
}

const TableDef& TableNamed(std::string_view name) {
  for (const TableDef& t : AllTables())
    if (t.name == name) return t;
  for (const TableDef& t : AllTables())
    if (SameText(t.name, name)) return t;
  throw DatabaseError("no table named " + std::string(name));
}

}  // namespace wo::store
