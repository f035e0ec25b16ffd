// The centre's tables as this program sees them: columns with their types
// and widths, and the indexes the handles use. Table and column names are
// spelled exactly as in the shared database.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wo::store {

enum class FieldType { Text, SmallInt, Integer, Float, DateTime, Time, Boolean };

struct ColumnDef {
  std::string name;
  FieldType type;
  int width = 0;  // characters, for Text
  bool required = false;
};

struct IndexDef {
  std::string name;    // index name in the database
  std::string fields;  // ";"-separated, in order
  bool unique = false;
};

struct TableDef {
  std::string name;
  std::vector<ColumnDef> columns;
  std::vector<IndexDef> indexes;

  // nullptr when the table has no such column (names compare without case).
  const ColumnDef* Column(std::string_view name) const;
};

// Every table of the program, in a fixed order: the shared database's
// tables, then WEBLOGINFAIL, WEBPOSTI, WEBPALAUTUS, WEBKALENTERI,
// WEBPERUTTU and WEBJONO, which only this program uses.
const std::vector<TableDef>& AllTables();
// REQUIRES: a table of that name exists (compared without case).
const TableDef& TableNamed(std::string_view name);

}  // namespace wo::store
