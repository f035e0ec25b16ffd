#include "support/dump.h"

#include <algorithm>
#include <cstdio>

#include "base/datetime.h"
#include "store/schema.h"
#include "store/table.h"

namespace wo::test {

std::vector<std::string> DumpTable(store::Connection& c, const std::string& table,
                                   const std::set<std::string>& skip) {
  const store::TableDef& def = store::TableNamed(table);
  store::Table t(c, def, "", def.indexes.empty() ? def.columns.front().name : def.indexes.front().fields);
  std::vector<std::string> rows;
  t.Open();
  try {
    for (t.First(); !t.Eof(); t.Next()) {
      std::string row;
      for (const store::ColumnDef& col : def.columns) {
        if (skip.count(def.name + "." + col.name)) continue;
        store::Field f = t[col.name];
        std::string v;
        if (f.IsNull()) {
          v = "NULL";
        } else {
          switch (col.type) {
            case store::FieldType::DateTime: v = ToStoredDateTime(f.AsDateTime()); break;
            case store::FieldType::Time: v = ToStoredTime(f.AsDateTime()); break;
            case store::FieldType::Float: {
              char buf[64];
              std::snprintf(buf, sizeof buf, "%.6f", f.AsFloat());
              v = buf;
              break;
            }
            default: v = f.AsText();
          }
        }
        if (!row.empty()) row += '|';
        row += col.name + "=" + v;
      }
      rows.push_back(std::move(row));
    }
  } catch (...) {
    t.Close();
    throw;
  }
  t.Close();
  std::sort(rows.begin(), rows.end());
  return rows;
}

TableDump DumpTables(store::Connection& c, const std::set<std::string>& skip) {
  TableDump d;
  for (const store::TableDef& def : store::AllTables()) d[def.name] = DumpTable(c, def.name, skip);
  return d;
}

std::string DiffDumps(const TableDump& before, const TableDump& after) {
  std::string out;
  std::set<std::string> names;
  for (const auto& [n, rows] : before) names.insert(n);
  for (const auto& [n, rows] : after) names.insert(n);
  static const std::vector<std::string> kNone;
  for (const std::string& n : names) {
    auto b = before.find(n), a = after.find(n);
    const std::vector<std::string>& rb = b == before.end() ? kNone : b->second;
    const std::vector<std::string>& ra = a == after.end() ? kNone : a->second;
    std::vector<std::string> gone, added;
    std::set_difference(rb.begin(), rb.end(), ra.begin(), ra.end(), std::back_inserter(gone));
    std::set_difference(ra.begin(), ra.end(), rb.begin(), rb.end(), std::back_inserter(added));
    for (const std::string& r : gone) out += n + " - " + r + "\n";
    for (const std::string& r : added) out += n + " + " + r + "\n";
  }
  return out;
}

}  // namespace wo::test
