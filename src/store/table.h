// Table handles: a cursor on one table through one index, with the
// operations of the booking database's client (open, index, find key,
// ranges, walking, append / edit / post / delete, typed field access).
//
// A handle costs nothing until it is opened; rows are fetched from the
// backend only when a walk, find or count asks for them. Every failure of
// the store raises DatabaseError.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "store/datetime.h"
#include "store/schema.h"

namespace wo::store {

class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A key value for FindKey / SetRange. The index field's type decides how it
// is compared: a double on a DateTime field is a date-time, a text on a
// Text field is cut to the field's width first.
using Value = std::variant<std::monostate, std::string, int64_t, double, bool>;
inline Value Txt(std::string s) { return Value(std::move(s)); }
inline Value Int(int64_t v) { return Value(v); }
inline Value Dt(DateTime v) { return Value(static_cast<double>(v)); }

class Connection;  // the backend, see store/connection.h
class Table;

// One field of a handle's current row.
class Field {
 public:
  const ColumnDef& def() const;
  bool IsNull() const;
  // Reads: a null reads as "", 0, 0.0, 0.0 and false.
  std::string AsText() const;   // Windows-1252; numbers as decimal text
  int64_t AsInt() const;
  double AsFloat() const;
  DateTime AsDateTime() const;  // a Time field gives its fraction of a day
  bool AsBool() const;
  // Writes, REQUIRES: the handle is in append or edit state.
  void SetText(std::string_view v);  // cut to the field's width
  void SetInt(int64_t v);
  void SetFloat(double v);
  void SetDateTime(DateTime v);
  void SetBool(bool v);
  void SetNull();

 private:
  friend class Table;
  Field(Table* t, size_t col) : table_(t), col_(col) {}
  void Write(const Value& v);
  Table* table_;
  size_t col_;  // position in the handle's field list
};

class Table {
 public:
  // `fields`: the handle's field subset, ";"-separated (empty: all columns
  // of the table); `index`: ";"-separated index fields.
  Table(Connection& conn, const TableDef& def, std::string_view fields, std::string_view index);
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const TableDef& def() const;

  // Open positions the handle on the first row of its index (or the end of
  // an empty table). Close forgets the current row, the range and any
  // pending append or edit. Opening an open handle changes nothing.
  void Open();
  void Close();
  bool IsOpen() const;

  // The handle's order; takes effect at once when open (range cancelled,
  // positioned on the first row) and at the next open otherwise.
  void SetIndex(std::string_view fieldList);
  const std::string& Index() const;

  // Values for the first k index fields (1 <= k <= index size). True and
  // positioned on the first row (in index order) whose leading index fields
  // equal the values; false otherwise (the position is then undefined).
  // Next() after a successful find walks on over the rows with that key.
  bool FindKey(const std::vector<Value>& key);

  // Restricts First/Next/Eof/IsEmpty/RecordCount to the rows whose first k
  // index fields lie between lo and hi, both inclusive (lexicographically,
  // k = lo.size() = hi.size()). Positions on the first row of the range.
  void SetRange(const std::vector<Value>& lo, const std::vector<Value>& hi);
  void CancelRange();

  void First();
  void Next();
  bool Eof() const;   // true once Next has moved past the last row
  bool IsEmpty();     // no row (inside the range)
  int RecordCount();  // rows inside the range (all rows when none)

  // Append starts a new row with every field null; Edit starts editing the
  // current row (REQUIRES: !Eof()). Post writes it: an appended row becomes
  // the current row. Delete removes the current row and moves to the next.
  void Append();
  void Edit();
  void Post();
  void Cancel();  // drops a pending append or edit
  void Delete();

  // nullptr when the handle lacks the field (names compare without case).
  std::optional<Field> FieldByName(std::string_view name);
  // Same, but a missing field raises DatabaseError.
  Field operator[](std::string_view name);

  // Shorthands for (*this)[name].AsText() and friends.
  std::string Text(std::string_view name) { return (*this)[name].AsText(); }
  int64_t Int(std::string_view name) { return (*this)[name].AsInt(); }
  double Float(std::string_view name) { return (*this)[name].AsFloat(); }
  DateTime Date(std::string_view name) { return (*this)[name].AsDateTime(); }
  bool Bool(std::string_view name) { return (*this)[name].AsBool(); }
  bool IsNull(std::string_view name) { return (*this)[name].IsNull(); }

 private:
  friend class Field;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace wo::store
