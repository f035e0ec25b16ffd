#include "store/database.h"

#include "store/backend.h"

namespace wo::store {

Connection::~Connection() = default;

std::unique_ptr<Connection> Connection::Open(const ConnectionSettings& s) {
  return s.UsesServer() ? OpenPostgres(s) : OpenSqlite(s);
}

std::vector<std::string> CreateStatements(const TableDef& t, bool pg) {
  std::string sql = "CREATE TABLE IF NOT EXISTS " + t.name + " (";
  for (size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnDef& c = t.columns[i];
    sql += (i ? ", " : "") + c.name + " ";
    switch (c.type) {
      case FieldType::Text:
        // Byte order of UTF-8 on both engines, so that ranges and walks
        // compare text alike.
        sql += pg ? "varchar(" + std::to_string(c.width) + ") COLLATE \"C\"" : "TEXT";
        break;
      case FieldType::SmallInt: sql += pg ? "smallint" : "INTEGER"; break;
      case FieldType::Integer: sql += pg ? "integer" : "INTEGER"; break;
      case FieldType::Float: sql += pg ? "double precision" : "REAL"; break;
      case FieldType::DateTime: sql += pg ? "timestamp(0) without time zone" : "TEXT"; break;
      case FieldType::Time: sql += pg ? "interval" : "TEXT"; break;
      case FieldType::Boolean: sql += pg ? "boolean" : "INTEGER"; break;
    }
    if (c.required) sql += " NOT NULL";
  }
  sql += ")";
  std::vector<std::string> out{sql};
  for (const IndexDef& ix : t.indexes) {
    std::string cols;
    size_t start = 0;
    while (start <= ix.fields.size()) {
      size_t semi = ix.fields.find(';', start);
      if (semi == std::string::npos) semi = ix.fields.size();
      cols += (cols.empty() ? "" : ", ") + ix.fields.substr(start, semi - start) + (pg ? " NULLS FIRST" : "");
      start = semi + 1;
    }
    out.push_back(std::string("CREATE ") + (ix.unique ? "UNIQUE " : "") + "INDEX IF NOT EXISTS " + ix.name +
                  " ON " + t.name + " (" + cols + ")");
  }
  return out;
}

}  // namespace wo::store
