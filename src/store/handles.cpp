#include "store/handles.h"

#include <string>

namespace wo::store {

const std::vector<HandleDef>& HandleDefs() {
  static const std::vector<HandleDef> defs = {
      {"TblWebParam", "WEBPARAM", "", "Numero"},
      {"TblResNimi", "VARESNIMI", "ResNo;ResNimi;ResPaikka;ResWebNayta", "ResNo"},
      {"TblRes", "VARESNIMI", "", "ResKeskus;ResWebNayta;ResNimi"},
      {"TblFiVuoro", "VaVuoro", "", "ResNo;VuoroAika"},
      {"TblVuoro", "VaVuoro", "", "Kausi;VuoroNo;VuoroNoSeq"},
      {"TblVaLaji", "VALAJI", "", "Koodi"},
      {"TblWebReg", "WEBREG", "", "Tunnus"},
      {"TblVa", "VAVARAUS", "", "Kausi;VuoroNo;VuoroNoSeq;Jno"},
      {"TblVaAs", "VAVARAUS", "VuoroNo;VuoroNoSeq;Jno;AsNo;Status;Kausi", "AsNo;Status"},
      {"TblAsiakas", "Asiakas", "", "AsNo"},
      {"TblParam", "PARAM", "", "Avain"},
      {"TblWebKoodi", "WEBKOODI", "", "ResNo;WebKoodi"},
      {"TblWebKeskus", "WEBKESKUS", "", "WebKeskus"},
      {"TblVaOhjaaja", "VAOHJAAJA", "", "Koodi"},
      {"FTblLang", "KAANNOS", "", "LGKieli;LGSovellus;LGAvain"},
  };
  return defs;
}

const HandleDef& HandleNamed(std::string_view name) {
  for (const HandleDef& d : HandleDefs())
    if (name == d.handle) return d;
  throw DatabaseError("no table handle named " + std::string(name));
}

Table MakeHandle(Connection& c, std::string_view name) {
  const HandleDef& d = HandleNamed(name);
  return Table(c, TableNamed(d.table), d.fields, d.index);
}

}  // namespace wo::store
