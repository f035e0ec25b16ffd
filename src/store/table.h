// Table handles: a cursor on one table through one index, with the
// operations of the booking database's client (open, index, find key,
// ranges, walking, append / edit / post / delete, typed field access).
//
// A handle costs nothing until it is opened; rows are fetched from the
// backend only when a walk, find or count asks for them, through the
// database's indexes (a field list that no index matches is still ordered
// correctly, only slower). Several handles on one table see each other's
// posted rows at once: every First, FindKey and SetRange queries afresh.
// Every failure of the store raises DatabaseError; a failed Post writes
// nothing. The Connection must outlive its handles.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/datetime.h"
#include "base/errors.h"
#include "store/schema.h"

namespace wo::store {

// A key value for FindKey / SetRange. The index field's type decides how it
// is compared: a double on a DateTime field is a date-time, a text on a
// Text field is cut to the field's width first.
using Value = std::variant<std::monostate, std::string, int64_t, double, bool>;
inline Value Txt(std::string s) { return Value(std::move(s)); }
inline Value Int(int64_t v) { return Value(v); }
inline Value Dt(DateTime v) { return Value(static_cast<double>(v)); }

class Connection;  // see store/database.h
class Table;
struct Stored;  // see store/backend.h

// One field of a handle's current row. A Field names its column, not a
// value: it stays valid as long as its handle and reads whatever row the
// handle is on, so a walk may look its fields up once and read them row
// after row.
class Field {
 public:
  const ColumnDef& def() const;
  bool IsNull() const;
  // Reads of the current row (of the pending row during append or edit);
  // with no current row (closed, at the end) every field reads as null.
  // A null reads as "", 0, 0.0, 0.0 and false. A stored value that is not
  // of the field's kind (a text that is no number) raises DatabaseError.
  std::string AsText() const;   // Windows-1252; numbers as decimal text,
                                // date-times as "YYYY-MM-DD HH:MM:SS",
                                // booleans as "1" / "0"
  int64_t AsInt() const;
  double AsFloat() const;
  DateTime AsDateTime() const;  // a Time field gives its fraction of a day
  bool AsBool() const;
  // Writes, REQUIRES: the handle is in append or edit state (otherwise
  // DatabaseError). A value the field cannot hold (a smallint out of range,
  // a text that is no number for a numeric field) raises DatabaseError.
  void SetText(std::string_view v);  // cut to the field's width; "" stays "" (not null)
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
  // of the table); `index`: ";"-separated index fields. Names compare
  // without case; an unknown one raises DatabaseError at the first use.
  // Construction touches no database.
  Table(Connection& conn, const TableDef& def, std::string_view fields, std::string_view index);
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const TableDef& def() const;

  // Open positions the handle on the first row of its index (or the end of
  // an empty table); the row is read when first needed. Close forgets the
  // current row, the range and any pending append or edit. Opening an open
  // handle changes nothing. A database that could not be reached raises
  // its connection error here. Every other operation but SetIndex, Eof,
  // Cancel and the field lookups REQUIRES an open handle (DatabaseError).
  //
  // The moves (First, Next, FindKey, SetRange, CancelRange, SetIndex) post
  // a pending append or edit in which a field was set, and drop it
  // otherwise.
  void Open();
  void Close();
  bool IsOpen() const;

  // The handle's order; takes effect at once when open (range cancelled,
  // positioned on the first row) and at the next open otherwise.
  void SetIndex(std::string_view fieldList);
  const std::string& Index() const;

  // Values for the first k index fields (1 <= k <= index size, otherwise
  // DatabaseError). True and positioned on the first row (in index order,
  // inside the range if one is set) whose leading index fields equal the
  // values; false otherwise (then Eof() is true). A null value matches a
  // null field. Next() after a successful find walks on in index order,
  // over the other rows with that key and beyond.
  bool FindKey(const std::vector<Value>& key);

  // Restricts First/Next/Eof/IsEmpty/RecordCount to the rows whose first k
  // index fields lie between lo and hi, both inclusive (lexicographically,
  // k = lo.size() = hi.size()). Positions on the first row of the range.
  // Date-time bounds compare to the whole second; a null bound matches
  // only where lo and hi are both null at the same place.
  void SetRange(const std::vector<Value>& lo, const std::vector<Value>& hi);
  void CancelRange();

  void First();
  // Announces that the handle will read from its first row (of its range,
  // in its order) before any write: an engine that can sends that query
  // along with the next statement it runs on the connection, whichever
  // handle runs it. Changes nothing else; does nothing once the handle
  // has read a row.
  void Prefetch();
  // The same for the walk of a closed handle once it is opened and given
  // SetRange(lo, hi), and for the query of FindKey(key) in the handle's
  // present state. Bad values raise DatabaseError as those would. On an
  // engine that reads nothing ahead (Backend::ReadsAhead) all three do
  // nothing.
  void PrefetchRange(const std::vector<Value>& lo, const std::vector<Value>& hi);
  void PrefetchKey(const std::vector<Value>& key);
  void Next();
  bool Eof() const;   // true once Next has moved past the last row, on an
                      // empty table or range, and on a closed handle
  bool IsEmpty();     // no row (inside the range)
  int RecordCount();  // rows inside the range (all rows when none)

  // Append starts a new row with every field null; Edit starts editing the
  // current row (REQUIRES: !Eof(), otherwise DatabaseError). Post writes it
  // — only the fields that were set, so fields the handle does not see and
  // other fields changed meanwhile keep their values — and the written row
  // becomes the current one; Next goes on after it in index order. Post
  // raises DatabaseError, writing nothing and staying in append or edit,
  // when a required field is null, a unique index refuses the row, or the
  // edited row is gone. Post outside append or edit does nothing.
  // Delete removes the current row (REQUIRES: !Eof()) and moves to the next.
  void Append();
  void Edit();
  void Post();
  // Post of an appended row that nothing reads back: an engine that can
  // sends it with the next statement of the write transaction (or with its
  // commit), which then raises its failure; the handle is left with no
  // current row. An edit is posted as by Post.
  void PostWithNext();
  void Cancel();  // drops a pending append or edit
  void Delete();

  // Values the engine works out with every row the handle reads, beside
  // its fields: `expressions`, a ","-separated list of SQL expressions over
  // the table (named by its own name), each "?" in it the marker of the
  // next of `params`. REQUIRES: a closed handle (otherwise DatabaseError);
  // Close drops them. Computed(i) is the i-th value of the current row,
  // null without one (closed, at the end, in append or edit, or the row
  // just posted).
  void SetComputed(std::string expressions, std::vector<Stored> params);
  const Stored& Computed(size_t i) const;
  // A condition that every row the handle reads, finds or counts also
  // meets, beside its range: an SQL condition over the table (named by its
  // own name), each "?" in it the marker of the next of `params`.
  // REQUIRES: a closed handle (otherwise DatabaseError); Close drops it.
  void SetCondition(std::string condition, std::vector<Stored> params);

  // nullopt when the handle lacks the field (names compare without case).
  // The handle remembers where recent names were found, so asking for the
  // same name row after row costs little more than a compare of the name.
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
