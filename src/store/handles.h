// The web module's fifteen table handles: for each, its table, the fields
// it sees and the index it starts with.
#pragma once

#include <string_view>
#include <vector>

#include "store/table.h"

namespace wo::store {

struct HandleDef {
  const char* handle;  // "TblWebParam" ... "FTblLang"
  const char* table;   // as in schema.h
  const char* fields;  // ";"-separated field subset; "" = every column
  const char* index;   // ";"-separated index fields
};

// In the order of the handle table: TblWebParam, TblResNimi, TblRes,
// TblFiVuoro, TblVuoro, TblVaLaji, TblWebReg, TblVa, TblVaAs, TblAsiakas,
// TblParam, TblWebKoodi, TblWebKeskus, TblVaOhjaaja, FTblLang.
const std::vector<HandleDef>& HandleDefs();
// REQUIRES: a handle of that name exists (exact spelling); throws
// DatabaseError otherwise.
const HandleDef& HandleNamed(std::string_view name);

// The handle `name` on `c`: its table, fields and first index, closed.
// REQUIRES: as HandleNamed.
Table MakeHandle(Connection& c, std::string_view name);

}  // namespace wo::store
