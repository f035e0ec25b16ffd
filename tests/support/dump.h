// Every row of the database as text, for tests that compare a database
// before and after a request, and for the test tool wo-dump.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "store/database.h"

namespace wo::test {

// Table name -> its rows, each "Field=value|Field=value..." in column order
// ("NULL" for a null, date-times in their stored form), sorted.
using TableDump = std::map<std::string, std::vector<std::string>>;

// Reads every table through table handles. Columns named in `skip` as
// "TABLE.Field" are left out of the rows.
TableDump DumpTables(store::Connection& c, const std::set<std::string>& skip = {});

// The rows of one table, as DumpTables gives them.
std::vector<std::string> DumpTable(store::Connection& c, const std::string& table,
                                   const std::set<std::string>& skip = {});

// "" when equal; otherwise the rows each side has and the other lacks.
std::string DiffDumps(const TableDump& before, const TableDump& after);

}  // namespace wo::test
