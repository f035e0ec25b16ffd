// Table handles over a backend. A handle's walk is a stream of queries:
// the first query finds the first row (of the table, the range or a key);
// whenever a query stops early (a batch limit, or the backend let go of a
// statement before a write) the next query continues after the last row
// read, in the order of the index and then the row identity. So a find or
// a range costs an index lookup, a walk reads only what it visits, and a
// row written through any handle is seen by every query that starts later.
#include <algorithm>
#include <array>
#include <cstdint>

#include "base/text.h"
#include "store/backend.h"
#include "store/database.h"
#include "store/table.h"
#include "store/value.h"

namespace wo::store {

namespace {

std::vector<std::string> SplitList(std::string_view list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t semi = list.find(';', start);
    if (semi == std::string_view::npos) semi = list.size();
    std::string name = Trim(list.substr(start, semi - start));
    if (!name.empty()) out.push_back(std::move(name));
    start = semi + 1;
  }
  return out;
}

bool SameStored(const Stored& a, const Stored& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case Stored::Null: return true;
    case Stored::Int: return a.i == b.i;
    case Stored::Real: return a.d == b.d;
    case Stored::Text: return a.s == b.s;
  }
  return false;
}

// A statement under construction: the computed columns of its select
// list, the SQL text of its condition and the parameters of both, in order.
struct Sql {
  explicit Sql(const Dialect& d) : dialect(d) {}
  const Dialect& dialect;
  std::string head;
  std::string text;
  std::vector<Stored> params;

  std::string Marker(const Stored& v) {
    params.push_back(v);
    return dialect.numberedParams ? "$" + std::to_string(params.size()) : "?";
  }
  void Param(const Stored& v) { text += Marker(v); }
  void And() { text += text.empty() ? "" : " AND "; }
};

const Stored kNull;

}  // namespace

struct Table::Impl {
  Impl(Connection& c, const TableDef& d, std::string_view f, std::string_view i)
      : conn(c), def(d), fieldsText(f), indexText(i) {}

  Connection& conn;
  const TableDef& def;
  std::string fieldsText, indexText;

  // Layout, worked out at the first use: the selected columns are the
  // handle's fields followed by any index field the handle does not see.
  bool laidOut = false;
  std::vector<const ColumnDef*> cols;
  size_t visible = 0;
  std::vector<size_t> index;  // positions in `cols`
  std::vector<size_t> unique;  // the table's unique key, positions in `cols`
  std::string selectSql, fromSql, orderSql;

  // Field lookups by name: the position each recent name was found at,
  // filed by its length and a few of its letters (a walk asks for the same
  // names row after row). A slot only suggests a position; the name there
  // is compared before it is believed.
  static constexpr int kNameSlotBits = 6;
  std::array<uint16_t, size_t{1} << kNameSlotBits> nameSlot{};  // position + 1, 0: none
  static size_t NameSlotOf(std::string_view name) {
    const size_t n = name.size();
    if (n == 0) return 0;
    const auto at = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(name[i])); };
    const uint32_t key = static_cast<uint32_t>(n) ^ at(0) << 8 ^ at(n < 2 ? 0 : n - 2) << 16 ^ at(n - 1) << 24;
    return (key * 0x9E3779B1u) >> (32 - kNameSlotBits);
  }

  // Values the engine works out with each row (SetComputed), read after
  // the columns of `cols`.
  std::string computedSql;
  std::vector<Stored> computedParams;
  // A condition every row the handle reads also meets (SetCondition).
  std::string conditionSql;
  std::vector<Stored> conditionParams;

  bool open = false;
  bool ranged = false;
  std::vector<Stored> lo, hi;

  // Unread: on the first row, not read yet; After: on the row after `cur`
  // (a deleted row), not read yet.
  enum class Pos { Unread, After, Row, Eof };
  Pos pos = Pos::Unread;
  std::unique_ptr<Rows> rows;  // the current query, when one is being read
  int limit = 0;               // its LIMIT (0: none)
  int read = 0;                // rows read from it
  bool findQuery = false;      // it reads the rows of one key; the walk goes on after them
  StoredRow cur;
  StoredRow spare;  // the row before `cur`: its storage takes the next row

  enum class Mode { Browse, Insert, Edit };
  Mode mode = Mode::Browse;
  StoredRow buf;
  std::vector<bool> dirty;

  Connection::Backend& be() { return conn.backend(); }
  const Dialect& dialect() { return be().dialect; }

  [[noreturn]] void Fail(const std::string& what) const { throw DatabaseError(def.name + ": " + what); }

  void LayOut() {
    nameSlot.fill(0);
    cols.clear();
    index.clear();
    std::vector<std::string> names = SplitList(fieldsText);
    if (names.empty())
      for (const ColumnDef& c : def.columns) cols.push_back(&c);
    for (const std::string& n : names) {
      const ColumnDef* c = def.Column(n);
      if (!c) Fail("no field named " + n);
      if (std::find(cols.begin(), cols.end(), c) == cols.end()) cols.push_back(c);
    }
    visible = cols.size();
    std::vector<std::string> ix = SplitList(indexText);
    if (ix.empty()) Fail("the index names no field");
    for (const std::string& n : ix) {
      const ColumnDef* c = def.Column(n);
      if (!c) Fail("no field named " + n + " for the index " + indexText);
      auto at = std::find(cols.begin(), cols.end(), c);
      if (at == cols.end()) {
        cols.push_back(c);
        at = cols.end() - 1;
      }
      index.push_back(static_cast<size_t>(at - cols.begin()));
    }
    // The unique key is read too: it finds a row again on an engine whose
    // row identity changes when another handle updates the row.
    unique.clear();
    for (const IndexDef& ixd : def.indexes) {
      if (!ixd.unique) continue;
      for (const std::string& n : SplitList(ixd.fields)) {
        const ColumnDef* c = def.Column(n);
        auto at = std::find(cols.begin(), cols.end(), c);
        if (at == cols.end()) {
          cols.push_back(c);
          at = cols.end() - 1;
        }
        unique.push_back(static_cast<size_t>(at - cols.begin()));
      }
      break;
    }
    const Dialect& d = dialect();
    selectSql = std::string("SELECT ") + d.rowId;
    for (const ColumnDef* c : cols) selectSql += ", " + c->name;
    fromSql = " FROM " + def.name;
    orderSql = " ORDER BY ";
    for (size_t p : index) orderSql += cols[p]->name + d.nullsFirst + ", ";
    orderSql += d.rowId;
    laidOut = true;
  }

  void Need() {
    be().Ensure();
    if (!laidOut) LayOut();
  }
  void NeedOpen(const char* op) {
    if (!open) Fail(std::string("cannot ") + op + " on a closed table");
    Need();
  }

  // Before a move: a pending append or edit is posted when a field was
  // set and dropped otherwise.
  void ToBrowse() {
    if (mode == Mode::Browse) return;
    if (std::find(dirty.begin(), dirty.end(), true) != dirty.end())
      Post();
    else
      mode = Mode::Browse;
  }

  void Drop() {
    rows.reset();
    read = 0;
  }

  // ---- conditions ----

  void Eq(Sql& q, const std::string& col, const Stored& v) {
    q.And();
    if (v.IsNull()) {
      q.text += col + " IS NULL";
    } else {
      q.text += col + " = ";
      q.Param(v);
    }
  }

  // (cols from..to) op (values) as a row-value comparison.
  void Compare(Sql& q, size_t from, size_t to, const char* op, const std::vector<Stored>& v) {
    q.And();
    q.text += "(";
    for (size_t i = from; i < to; ++i) q.text += (i > from ? ", " : "") + cols[index[i]]->name;
    q.text += std::string(") ") + op + " (";
    for (size_t i = from; i < to; ++i) {
      if (i > from) q.text += ", ";
      q.Param(v[i]);
    }
    q.text += ")";
  }

  // The range: equal leading bounds become equalities, the rest row-value
  // comparisons; both forms are index range scans.
  void RangeCondition(Sql& q) {
    if (ranged) RangeCondition(q, lo, hi);
  }
  void RangeCondition(Sql& q, const std::vector<Stored>& l, const std::vector<Stored>& h) {
    size_t k = l.size(), p = 0;
    while (p < k && SameStored(l[p], h[p])) {
      Eq(q, cols[index[p]]->name, l[p]);
      ++p;
    }
    if (p < k) {
      Compare(q, p, k, ">=", l);
      Compare(q, p, k, "<=", h);
    }
  }

  // Rows after `r` in the order (index fields, row identity), nulls first.
  void AfterCondition(Sql& q, const StoredRow& r) {
    const Dialect& d = dialect();
    std::vector<Stored> key;
    bool nulls = false;
    for (size_t p : index) {
      key.push_back(r.cols[p]);
      nulls = nulls || r.cols[p].IsNull();
    }
    if (!nulls) {
      // The first comparison lets the engine start its index scan at the
      // row; the second steps over the rows before it with the same key.
      Compare(q, 0, index.size(), ">=", key);
      q.And();
      q.text += "(";
      for (size_t p : index) q.text += cols[p]->name + ", ";
      q.text += std::string(d.rowId) + ") > (";
      for (const Stored& v : key) {
        q.Param(v);
        q.text += ", ";
      }
      q.Param(r.rowId);
      q.text += ")";
      return;
    }
    // With nulls in the key, spell out the lexicographic order.
    q.And();
    q.text += "(";
    for (size_t i = 0; i <= index.size(); ++i) {
      if (i > 0) q.text += " OR ";
      q.text += "(";
      for (size_t j = 0; j < i; ++j) {
        const std::string& c = cols[index[j]]->name;
        if (key[j].IsNull()) {
          q.text += c + " IS NULL AND ";
        } else {
          q.text += c + " = ";
          q.Param(key[j]);
          q.text += " AND ";
        }
      }
      if (i < index.size()) {
        const std::string& c = cols[index[i]]->name;
        if (key[i].IsNull()) {
          q.text += c + " IS NOT NULL";
        } else {
          q.text += c + " > ";
          q.Param(key[i]);
        }
      } else {
        q.text += std::string(d.rowId) + " > ";
        q.Param(r.rowId);
      }
      q.text += ")";
    }
    q.text += ")";
  }

  // ---- queries ----

  // A query of rows, its computed columns' markers first.
  Sql Statement() {
    Sql q(dialect());
    auto next = computedParams.begin();
    for (char ch : computedSql) {
      if (ch != '?') {
        q.head += ch;
      } else {
        if (next == computedParams.end()) Fail("computed columns have more markers than values");
        q.head += q.Marker(*next++);
      }
    }
    Condition(q);
    return q;
  }

  // The handle's own condition, the first of the statement's.
  void Condition(Sql& q) {
    if (conditionSql.empty()) return;
    q.And();
    q.text += "(";
    auto next = conditionParams.begin();
    for (char ch : conditionSql) {
      if (ch != '?') {
        q.text += ch;
      } else {
        if (next == conditionParams.end()) Fail("a condition has more markers than values");
        q.Param(*next++);
      }
    }
    q.text += ")";
  }

  // A find reads the rows of one key: a batch. A walk's first query
  // reads enough for a day's list or a week's grid in one go, and a walk
  // that goes on beyond it reads more at a time.
  std::string SelectText(const Sql& where, int lim) const {
    std::string sql = selectSql;
    if (!where.head.empty()) sql += ", " + where.head;
    sql += fromSql;
    if (!where.text.empty()) sql += " WHERE " + where.text;
    sql += orderSql;
    if (lim) sql += " LIMIT " + std::to_string(lim);
    return sql;
  }

  void Run(Sql& where, bool find = false) {
    int batch = dialect().batch;
    limit = batch == 0 ? 0 : rows || read > 0 ? batch * 16 : find ? batch : batch * 8;
    const std::string sql = SelectText(where, limit);
    rows.reset();
    read = 0;
    findQuery = false;
    rows = be().Query(sql, where.params);
  }

  void StartFirst() {
    Sql w = Statement();
    RangeCondition(w);
    rows.reset();
    read = 0;
    Run(w);
  }

  // The first query of a walk from the first row, as StartFirst runs it,
  // announced to the engine.
  void AnnounceFirst() {
    Sql w = Statement();
    RangeCondition(w);
    be().Prefetch(SelectText(w, dialect().batch * 8), w.params);
  }

  // The query of FindKey(key), as it runs it.
  void AnnounceFind(const std::vector<Value>& key) {
    std::vector<Stored> k = KeyValues(key, "find key");
    Sql w = Statement();
    RangeCondition(w);
    for (size_t i = 0; i < k.size(); ++i) Eq(w, cols[index[i]]->name, k[i]);
    be().Prefetch(SelectText(w, dialect().batch), w.params);
  }

  void StartAfter(const StoredRow& r) {
    Sql w = Statement();
    RangeCondition(w);
    AfterCondition(w, r);
    Run(w);
  }

  // Reads the next row of the stream into `cur`, or reaches the end.
  void Pull() {
    for (;;) {
      if (!rows) {
        pos = Pos::Eof;
        return;
      }
      Rows::Step st = rows->Next(spare);
      if (st == Rows::Step::Row) {
        std::swap(cur, spare);
        ++read;
        pos = Pos::Row;
        return;
      }
      bool more = st == Rows::Step::More || (limit > 0 && read >= limit) || findQuery;
      if (!more || read == 0) {
        Drop();
        pos = Pos::Eof;
        return;
      }
      StartAfter(cur);
    }
  }

  void Resolve() {
    if (pos == Pos::After) {
      StartAfter(cur);
      Pull();
      return;
    }
    if (pos != Pos::Unread) return;
    StartFirst();
    Pull();
  }

  void Advance() {
    Resolve();
    if (pos != Pos::Row) return;
    if (!rows) StartAfter(cur);
    Pull();
  }

  void Rewind() {
    Drop();
    pos = Pos::Unread;
  }

  std::vector<Stored> KeyValues(const std::vector<Value>& key, const char* op) {
    if (key.empty() || key.size() > index.size())
      Fail(std::string(op) + " needs 1 to " + std::to_string(index.size()) + " values for the index " +
           indexText + ", not " + std::to_string(key.size()));
    std::vector<Stored> out;
    for (size_t i = 0; i < key.size(); ++i) out.push_back(ToStored(def.name, *cols[index[i]], key[i]));
    return out;
  }

  bool FindKey(const std::vector<Value>& key) {
    NeedOpen("find a key");
    ToBrowse();
    std::vector<Stored> k = KeyValues(key, "find key");
    Sql w = Statement();
    RangeCondition(w);
    for (size_t i = 0; i < k.size(); ++i) Eq(w, cols[index[i]]->name, k[i]);
    Drop();
    Run(w, true);
    findQuery = true;
    Pull();
    return pos == Pos::Row;
  }

  int64_t CountRows(bool justOne) {
    Sql w(dialect());
    Condition(w);
    RangeCondition(w);
    std::string sql = justOne ? "SELECT 1 FROM " + def.name : "SELECT count(*) FROM " + def.name;
    if (!w.text.empty()) sql += " WHERE " + w.text;
    if (justOne) sql += " LIMIT 1";
    std::unique_ptr<Rows> r = be().Query(sql, w.params);
    StoredRow row;
    if (r->Next(row) != Rows::Step::Row) return 0;
    if (justOne) return 1;
    static const ColumnDef kCount{"count", FieldType::Integer};
    return StoredAsInt(def.name, kCount, row.rowId);
  }

  // ---- writing ----

  const Stored& Cell(size_t col) {
    if (mode != Mode::Browse) return buf.cols[col];
    if (!open) return kNull;
    Resolve();
    return pos == Pos::Row ? cur.cols[col] : kNull;
  }

  void Set(size_t col, Stored v) {
    if (mode == Mode::Browse) Fail("field " + cols[col]->name + " written outside append or edit");
    buf.cols[col] = std::move(v);
    dirty[col] = true;
  }

  void CheckRequired() {
    for (size_t i = 0; i < cols.size(); ++i)
      if (cols[i]->required && buf.cols[i].IsNull())
        Fail("field " + cols[i]->name + " must have a value");
    if (mode == Mode::Insert)
      for (const ColumnDef& c : def.columns)
        if (c.required && std::find(cols.begin(), cols.end(), &c) == cols.end())
          Fail("field " + c.name + " must have a value");
  }

  // The INSERT of the appended row: the fields that were set.
  Sql Insert(bool returning) {
    const Dialect& d = dialect();
    Sql q(d);
    std::string names;
    q.text = "INSERT INTO " + def.name;
    Sql v(d);
    for (size_t i = 0; i < cols.size(); ++i) {
      if (!dirty[i]) continue;
      names += (names.empty() ? "" : ", ") + cols[i]->name;
      if (!v.text.empty()) v.text += ", ";
      v.Param(buf.cols[i]);
    }
    if (names.empty())
      q.text += " DEFAULT VALUES";
    else
      q.text += " (" + names + ") VALUES (" + v.text + ")";
    q.params = std::move(v.params);
    if (returning && d.returningRowId) q.text += std::string(" RETURNING ") + d.rowId;
    return q;
  }

  void PostWithNext() {
    if (mode != Mode::Insert) return Post();
    CheckRequired();
    const Sql insert = Insert(false);
    be().ExecWithNext(insert.text, insert.params);
    cur = StoredRow();
    buf = StoredRow();
    mode = Mode::Browse;
    Drop();
    pos = Pos::Eof;
  }

  void Post() {
    if (mode == Mode::Browse) return;
    CheckRequired();
    const Dialect& d = dialect();
    Sql q(d);
    if (mode == Mode::Insert) {
      const Sql insert = Insert(true);
      ExecResult r = be().Exec(insert.text, insert.params, true);
      buf.rowId = r.rowId;
    } else {
      q.text = "UPDATE " + def.name + " SET ";
      bool any = false;
      for (size_t i = 0; i < cols.size(); ++i) {
        if (!dirty[i]) continue;
        if (any) q.text += ", ";
        q.text += cols[i]->name + " = ";
        q.Param(buf.cols[i]);
        any = true;
      }
      if (!any) {
        mode = Mode::Browse;
        return;
      }
      ExecResult r = WriteRow(q, cur, d.returningRowId);
      if (!r.rowId.IsNull()) buf.rowId = r.rowId;
    }
    // The written row is the current one; a Next continues after it.
    cur = std::move(buf);
    buf = StoredRow();
    mode = Mode::Browse;
    Drop();
    pos = Pos::Row;
  }

  // Runs the UPDATE or DELETE in `q` (without its WHERE) on the row `r`:
  // by its identity, and where the engine's identity changes with every
  // update (PostgreSQL's ctid) by its unique key when the identity no
  // longer names a row.
  ExecResult WriteRow(const Sql& q, const StoredRow& r, bool returning) {
    const Dialect& d = dialect();
    std::string ret = returning ? std::string(" RETURNING ") + d.rowId : "";
    Sql byId = q;
    byId.text += std::string(" WHERE ") + d.rowId + " = ";
    byId.Param(r.rowId);
    ExecResult res = be().Exec(byId.text + ret, byId.params, false);
    if (res.changes == 0 && d.returningRowId && !unique.empty()) {
      Sql byKey = q;
      byKey.text += " WHERE ";
      Sql keyCond(d);
      keyCond.params = byKey.params;
      for (size_t p : unique) Eq(keyCond, cols[p]->name, r.cols[p]);
      byKey.text += keyCond.text;
      byKey.params = keyCond.params;
      res = be().Exec(byKey.text + ret, byKey.params, false);
    }
    if (res.changes == 0) Fail("the row was changed or deleted by another user");
    return res;
  }

  void Delete() {
    NeedOpen("delete");
    mode = Mode::Browse;
    Resolve();
    if (pos != Pos::Row) Fail("no current row to delete");
    Sql q(dialect());
    q.text = "DELETE FROM " + def.name;
    WriteRow(q, cur, false);
    // The next row is read when it is asked for.
    Drop();
    pos = Pos::After;
  }
};

// ---- Table ----

Table::Table(Connection& conn, const TableDef& def, std::string_view fields, std::string_view index)
    : impl_(std::make_unique<Impl>(conn, def, fields, index)) {}

Table::~Table() = default;

const TableDef& Table::def() const { return impl_->def; }

void Table::Open() {
  if (impl_->open) return;
  impl_->Need();
  impl_->open = true;
  impl_->ranged = false;
  impl_->mode = Impl::Mode::Browse;
  impl_->Rewind();
}

void Table::Close() {
  Impl& m = *impl_;
  m.open = false;
  m.ranged = false;
  m.lo.clear();
  m.hi.clear();
  m.mode = Impl::Mode::Browse;
  m.buf = StoredRow();
  m.cur = StoredRow();
  m.computedSql.clear();
  m.computedParams.clear();
  m.conditionSql.clear();
  m.conditionParams.clear();
  m.Rewind();
}

bool Table::IsOpen() const { return impl_->open; }

void Table::SetIndex(std::string_view fieldList) {
  Impl& m = *impl_;
  if (m.open) m.ToBrowse();
  std::string old = m.indexText;
  m.indexText = std::string(fieldList);
  // The same index lays the columns out as they are.
  if (m.laidOut && m.indexText != old) {
    try {
      m.LayOut();
    } catch (...) {
      m.indexText = old;
      m.LayOut();
      throw;
    }
  }
  m.ranged = false;
  m.lo.clear();
  m.hi.clear();
  m.Rewind();
}

const std::string& Table::Index() const { return impl_->indexText; }

bool Table::FindKey(const std::vector<Value>& key) { return impl_->FindKey(key); }

void Table::SetRange(const std::vector<Value>& lo, const std::vector<Value>& hi) {
  Impl& m = *impl_;
  m.NeedOpen("set a range");
  m.ToBrowse();
  if (lo.size() != hi.size()) m.Fail("a range needs as many start values as end values");
  std::vector<Stored> l = m.KeyValues(lo, "set range"), h = m.KeyValues(hi, "set range");
  m.lo = std::move(l);
  m.hi = std::move(h);
  m.ranged = true;
  m.Rewind();
}

void Table::CancelRange() {
  Impl& m = *impl_;
  m.NeedOpen("cancel a range");
  m.ToBrowse();
  m.ranged = false;
  m.lo.clear();
  m.hi.clear();
  m.Rewind();
}

void Table::First() {
  Impl& m = *impl_;
  m.NeedOpen("move to the first row");
  m.ToBrowse();
  m.Rewind();
}

void Table::Prefetch() {
  Impl& m = *impl_;
  m.Need();
  if (!m.be().ReadsAhead()) return;
  if (m.mode == Impl::Mode::Browse && m.pos == Impl::Pos::Unread) m.AnnounceFirst();
}

void Table::PrefetchRange(const std::vector<Value>& lo, const std::vector<Value>& hi) {
  Impl& m = *impl_;
  m.Need();
  if (m.open || lo.size() != hi.size() || !m.be().ReadsAhead()) return;
  std::vector<Stored> l = m.KeyValues(lo, "set range"), h = m.KeyValues(hi, "set range");
  Sql w = m.Statement();  // with the computed columns the walk reads
  m.RangeCondition(w, l, h);
  m.be().Prefetch(m.SelectText(w, m.dialect().batch * 8), w.params);
}

void Table::PrefetchKey(const std::vector<Value>& key) {
  Impl& m = *impl_;
  m.Need();
  if (!m.be().ReadsAhead()) return;
  if (m.mode == Impl::Mode::Browse) m.AnnounceFind(key);
}

void Table::Next() {
  Impl& m = *impl_;
  m.NeedOpen("move to the next row");
  m.ToBrowse();
  m.Advance();
}

bool Table::Eof() const {
  Impl& m = *impl_;
  if (!m.open) return true;
  m.Resolve();
  return m.pos != Impl::Pos::Row;
}

void Table::SetComputed(std::string expressions, std::vector<Stored> params) {
  Impl& m = *impl_;
  if (m.open) m.Fail("computed columns are set on a closed table");
  m.computedSql = std::move(expressions);
  m.computedParams = std::move(params);
}

void Table::SetCondition(std::string condition, std::vector<Stored> params) {
  Impl& m = *impl_;
  if (m.open) m.Fail("a condition is set on a closed table");
  m.conditionSql = std::move(condition);
  m.conditionParams = std::move(params);
}

const Stored& Table::Computed(size_t i) const {
  Impl& m = *impl_;
  if (!m.open || m.mode != Impl::Mode::Browse) return kNull;
  m.Resolve();
  const size_t at = m.cols.size() + i;
  return m.pos == Impl::Pos::Row && at < m.cur.cols.size() ? m.cur.cols[at] : kNull;
}

bool Table::IsEmpty() {
  Impl& m = *impl_;
  m.NeedOpen("test for rows");
  if (m.mode == Impl::Mode::Browse) {
    // A walk that has only now started answers it: its first query found
    // no row. A walk that has gone past its end says nothing about the
    // rows before.
    const bool fresh = m.pos == Impl::Pos::Unread;
    m.Resolve();
    if (m.pos == Impl::Pos::Row) return false;
    if (fresh) return true;
  }
  return m.CountRows(true) == 0;
}

int Table::RecordCount() {
  Impl& m = *impl_;
  m.NeedOpen("count rows");
  return static_cast<int>(m.CountRows(false));
}

void Table::Append() {
  Impl& m = *impl_;
  m.NeedOpen("append");
  m.ToBrowse();
  m.mode = Impl::Mode::Insert;
  m.buf = StoredRow();
  m.buf.cols.assign(m.cols.size(), Stored());
  m.dirty.assign(m.cols.size(), false);
}

void Table::Edit() {
  Impl& m = *impl_;
  m.NeedOpen("edit");
  if (m.mode == Impl::Mode::Edit) return;
  m.ToBrowse();
  m.Resolve();
  if (m.pos != Impl::Pos::Row) m.Fail("no current row to edit");
  m.mode = Impl::Mode::Edit;
  m.buf = m.cur;
  m.dirty.assign(m.cols.size(), false);
}

void Table::Post() {
  Impl& m = *impl_;
  m.NeedOpen("post");
  m.Post();
}

void Table::PostWithNext() {
  Impl& m = *impl_;
  m.NeedOpen("post");
  m.PostWithNext();
}

void Table::Cancel() {
  Impl& m = *impl_;
  m.mode = Impl::Mode::Browse;
  m.buf = StoredRow();
}

void Table::Delete() { impl_->Delete(); }

std::optional<Field> Table::FieldByName(std::string_view name) {
  Impl& m = *impl_;
  if (!m.laidOut) m.LayOut();
  uint16_t& slot = m.nameSlot[Impl::NameSlotOf(name)];
  if (slot != 0 && m.cols[slot - 1u]->name == name) return Field(this, slot - 1u);
  // The exact spelling first, as TableDef::Column does.
  for (size_t i = 0; i < m.visible; ++i)
    if (m.cols[i]->name == name) {
      if (i < UINT16_MAX) slot = static_cast<uint16_t>(i + 1);
      return Field(this, i);
    }
  for (size_t i = 0; i < m.visible; ++i)
    if (SameText(m.cols[i]->name, name)) return Field(this, i);
  return std::nullopt;
}

Field Table::operator[](std::string_view name) {
  std::optional<Field> f = FieldByName(name);
  if (!f) impl_->Fail("no field named " + std::string(name));
  return *f;
}

// ---- Field ----

const ColumnDef& Field::def() const { return *table_->impl_->cols[col_]; }

bool Field::IsNull() const { return table_->impl_->Cell(col_).IsNull(); }

std::string Field::AsText() const {
  Table::Impl& m = *table_->impl_;
  return StoredAsText(m.def.name, def(), m.Cell(col_));
}

int64_t Field::AsInt() const {
  Table::Impl& m = *table_->impl_;
  return StoredAsInt(m.def.name, def(), m.Cell(col_));
}

double Field::AsFloat() const {
  Table::Impl& m = *table_->impl_;
  return StoredAsFloat(m.def.name, def(), m.Cell(col_));
}

DateTime Field::AsDateTime() const {
  Table::Impl& m = *table_->impl_;
  return StoredAsDateTime(m.def.name, def(), m.Cell(col_));
}

bool Field::AsBool() const {
  Table::Impl& m = *table_->impl_;
  return StoredAsBool(m.def.name, def(), m.Cell(col_));
}

void Field::SetText(std::string_view v) { Write(Value(std::string(v))); }
void Field::SetInt(int64_t v) { Write(Value(v)); }
void Field::SetFloat(double v) { Write(Value(v)); }
void Field::SetDateTime(DateTime v) { Write(Value(static_cast<double>(v))); }
void Field::SetBool(bool v) { Write(Value(v)); }
void Field::Write(const Value& v) {
  Table::Impl& m = *table_->impl_;
  m.Set(col_, ToStored(m.def.name, *m.cols[col_], v));
}
void Field::SetNull() { table_->impl_->Set(col_, Stored()); }

}  // namespace wo::store
