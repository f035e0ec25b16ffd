// The store's own queries, beside the table handles: a reader of a query's
// columns, each converted as the column of the table it comes from, and a
// runner that numbers the "?" markers in the engine's dialect.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/backend.h"
#include "store/schema.h"
#include "store/table.h"
#include "store/value.h"

namespace wo::store {

// Reads a row's columns in order, each as column `column` of `table` reads
// its stored form, so that both engines' forms read alike. A null reads as
// "", 0, and as the date-time 0.
class Columns {
 public:
  explicit Columns(const StoredRow& r) : r_(r) {}
  std::string Text(std::string_view table, const char* column) {
    const TableDef& t = TableNamed(table);
    return StoredAsText(t.name, *t.Column(column), At());
  }
  int64_t Int(std::string_view table, const char* column) {
    const TableDef& t = TableNamed(table);
    return StoredAsInt(t.name, *t.Column(column), At());
  }
  DateTime Date(std::string_view table, const char* column) {
    const TableDef& t = TableNamed(table);
    const Stored& v = At();
    return v.IsNull() ? 0 : StoredAsDateTime(t.name, *t.Column(column), v);
  }
  bool IsNull() const { return Peek().IsNull(); }
  void Skip() { ++i_; }

 private:
  // Column 0 of a query comes back as the row identity.
  const Stored& Peek() const { return i_ == 0 ? r_.rowId : r_.cols.at(i_ - 1); }
  const Stored& At() { return i_++ == 0 ? r_.rowId : r_.cols.at(i_ - 2); }
  const StoredRow& r_;
  size_t i_ = 0;
};

// `v` as column `column` of `table` stores it (ToStored).
inline Stored Param(std::string_view table, const char* column, const Value& v) {
  const TableDef& t = TableNamed(table);
  return ToStored(t.name, *t.Column(column), v);
}

// `sql` with its "?" markers numbered where the engine's dialect numbers
// them.
inline std::string Numbered(const Dialect& d, std::string sql) {
  if (!d.numberedParams) return sql;
  std::string numbered;
  int n = 0;
  for (char ch : sql) {
    if (ch != '?') {
      numbered += ch;
      continue;
    }
    numbered += '$';
    numbered += std::to_string(++n);
  }
  return numbered;
}

// Announces the query that EachRow(c, sql, params, ...) will run
// (Backend::Prefetch).
inline void Announce(Connection& c, const std::string& sql, const std::vector<Stored>& params) {
  Connection::Backend& b = c.backend();
  b.Ensure();
  b.Prefetch(Numbered(b.dialect, sql), params);
}

// Runs `sql`, its parameters written "?" and numbered in the engine's
// dialect, and hands each row to `row`. Nothing may be written while the
// rows are read (DatabaseError if the engine lets go of the statement).
template <typename Fn>
void EachRow(Connection& c, const std::string& sql, const std::vector<Stored>& params, Fn row) {
  Connection::Backend& b = c.backend();
  b.Ensure();
  const std::string text = Numbered(b.dialect, sql);
  std::unique_ptr<Rows> rows = b.Query(text, params);
  StoredRow r;
  for (;;) {
    const Rows::Step step = rows->Next(r);
    if (step == Rows::Step::End) return;
    if (step == Rows::Step::More) throw DatabaseError("a query was interrupted: " + text);
    row(r);
  }
}

}  // namespace wo::store
