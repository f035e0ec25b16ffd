#include "store/database.h"

#include <unistd.h>

#include <fstream>

#include "base/text.h"
#include "store/backend.h"

namespace wo::store {

namespace {

std::string Lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

std::string ColumnType(const ColumnDef& c, bool pg) {
  switch (c.type) {
    case FieldType::Text:
      // Byte order of UTF-8 on both engines, so that ranges and walks
      // compare text alike.
      return pg ? "varchar(" + std::to_string(c.width) + ") COLLATE \"C\"" : "TEXT";
    case FieldType::SmallInt: return pg ? "smallint" : "INTEGER";
    case FieldType::Integer: return pg ? "integer" : "INTEGER";
    case FieldType::Float: return pg ? "double precision" : "REAL";
    case FieldType::DateTime: return pg ? "timestamp(0) without time zone" : "TEXT";
    case FieldType::Time: return pg ? "interval" : "TEXT";
    case FieldType::Boolean: return pg ? "boolean" : "INTEGER";
  }
  return "TEXT";
}

std::string CreateIndex(const TableDef& t, const IndexDef& ix, bool pg) {
  std::string cols;
  size_t start = 0;
  while (start <= ix.fields.size()) {
    size_t semi = ix.fields.find(';', start);
    if (semi == std::string::npos) semi = ix.fields.size();
    cols += (cols.empty() ? "" : ", ") + ix.fields.substr(start, semi - start) + (pg ? " NULLS FIRST" : "");
    start = semi + 1;
  }
  return std::string("CREATE ") + (ix.unique ? "UNIQUE " : "") + "INDEX IF NOT EXISTS " + ix.name + " ON " +
         t.name + " (" + cols + ")";
}

std::vector<SchemaChange> Missing(const Connection::Backend::Existing& e) {
  std::vector<SchemaChange> out;
  for (const TableDef& t : AllTables()) {
    auto have = e.columns.find(Lower(t.name));
    if (have == e.columns.end()) {
      out.push_back({SchemaChange::Table, t.name, ""});
    } else {
      for (const ColumnDef& c : t.columns)
        if (!have->second.count(Lower(c.name))) out.push_back({SchemaChange::Column, t.name, c.name});
    }
    for (const IndexDef& ix : t.indexes)
      if (!e.indexes.count(Lower(ix.name))) out.push_back({SchemaChange::Index, t.name, ix.name});
  }
  return out;
}

}  // namespace

Connection::~Connection() = default;

std::vector<SchemaChange> Connection::MissingSchema() { return Missing(backend().ReadSchema()); }

bool IsClosed(const ConnectionSettings& s) {
  return !s.closedFile.empty() && access(s.closedFile.c_str(), F_OK) == 0;
}

void RefuseWhenClosed(const ConnectionSettings& s) {
  if (!IsClosed(s)) return;
  std::string why;
  std::ifstream f(s.closedFile);
  std::getline(f, why);
  why = Trim(why);
  throw DatabaseError("the site is closed for maintenance" + (why.empty() ? std::string() : ": " + why));
}

std::vector<std::string> CreateStatements(const TableDef& t, bool pg) {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + t.name + " (";
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    sql += (i ? ", " : "") + c.name + " " + ColumnType(c, pg);
    if (c.required) sql += " NOT NULL";
  }
  sql += ")";
  std::vector<std::string> out{sql};
  for (const IndexDef& ix : t.indexes) out.push_back(CreateIndex(t, ix, pg));
  return out;
}

std::vector<SchemaChange> UpgradeSchema(Connection& c, bool pg) {
  Connection::Backend& b = c.backend();
  return InWriteTransaction(c, [&] {
    std::vector<SchemaChange> changes = Missing(b.ReadSchema());
    // Tables and columns first: an index may name a column added here.
    for (const SchemaChange& ch : changes) {
      const TableDef& t = TableNamed(ch.table);
      if (ch.kind == SchemaChange::Table) b.ExecScript(CreateStatements(t, pg)[0]);
      if (ch.kind == SchemaChange::Column)
        b.ExecScript("ALTER TABLE " + t.name + " ADD COLUMN " + ch.name + " " + ColumnType(*t.Column(ch.name), pg));
    }
    for (const SchemaChange& ch : changes) {
      if (ch.kind != SchemaChange::Index) continue;
      const TableDef& t = TableNamed(ch.table);
      for (const IndexDef& ix : t.indexes)
        if (ix.name == ch.name) b.ExecScript(CreateIndex(t, ix, pg));
    }
    return changes;
  });
}

}  // namespace wo::store
