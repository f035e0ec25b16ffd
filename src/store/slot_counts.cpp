#include "store/slot_counts.h"

#include <memory>
#include <vector>

#include "store/backend.h"
#include "store/schema.h"
#include "store/table.h"
#include "store/value.h"

namespace wo::store {

namespace {

constexpr const char* kSlots = "VaVuoro";
constexpr const char* kReservations = "VAVARAUS";

// Parameter markers in the engine's dialect.
struct Params {
  const Dialect& dialect;
  std::vector<Stored> values;
  std::string Add(Stored v) {
    values.push_back(std::move(v));
    if (!dialect.numberedParams) return "?";
    std::string marker = "$";
    marker += std::to_string(values.size());
    return marker;
  }
};

const ColumnDef& Column(const char* table, const char* name) { return *TableNamed(table).Column(name); }

}  // namespace

std::map<SlotKeyText, SlotTaken> CountSlotReservations(Connection& c, std::string_view resNo, DateTime from,
                                                      DateTime to, std::string_view asNo) {
  return CountSlotReservations(c, std::vector<std::string>{std::string(resNo)}, from, to, asNo);
}

std::map<SlotKeyText, SlotTaken> CountSlotReservations(Connection& c, const std::vector<std::string>& resNos,
                                                      DateTime from, DateTime to, std::string_view asNo) {
  std::map<SlotKeyText, SlotTaken> out;
  if (resNos.empty()) return out;
  Connection::Backend& be = c.backend();
  be.Ensure();
  Params p{be.dialect, {}};
  const Stored lo = ToStored(kSlots, Column(kSlots, "VuoroAika"), Dt(from));
  const Stored hi = ToStored(kSlots, Column(kSlots, "VuoroAika"), Dt(to));

  // Each slot's reservations, counted by the key the slot reads (a null
  // Kausi reading as ""), as a slot's own lookup finds them: one index
  // probe per slot, and no sorting of the rows to group them.
  const std::string match =
      "FROM VAVARAUS r WHERE r.Kausi = coalesce(v.Kausi, '') AND r.VuoroNo = v.VuoroNo"
      " AND r.VuoroNoSeq = v.VuoroNoSeq";
  std::string own = "0", ownJno = "NULL";
  if (!asNo.empty()) {
    const Stored customer = ToStored(kReservations, Column(kReservations, "AsNo"), Txt(std::string(asNo)));
    own = "(SELECT count(*) " + match + " AND r.AsNo = " + p.Add(customer) + ")";
    ownJno = "(SELECT min(r.Jno) " + match + " AND r.AsNo = " + p.Add(customer) + " AND r.Status = 0)";
  }
  std::string sql = "SELECT coalesce(v.Kausi, ''), v.VuoroNo, v.VuoroNoSeq, (SELECT count(*) " + match + "), " +
                    own + ", " + ownJno + " FROM VaVuoro v";
  for (size_t i = 0; i < resNos.size(); ++i) {
    sql += i == 0 ? resNos.size() == 1 ? " WHERE v.ResNo = " : " WHERE v.ResNo IN (" : ", ";
    sql += p.Add(ToStored(kSlots, Column(kSlots, "ResNo"), Txt(resNos[i])));
  }
  if (resNos.size() > 1) sql += ")";
  sql += " AND v.VuoroAika >= " + p.Add(lo);
  sql += " AND v.VuoroAika <= " + p.Add(hi);

  static const ColumnDef kCount{"count", FieldType::Integer};
  const ColumnDef& jno = Column(kReservations, "Jno");
  std::unique_ptr<Rows> rows = be.Query(sql, p.values);
  StoredRow r;
  for (Rows::Step st = rows->Next(r); st != Rows::Step::End; st = rows->Next(r)) {
    // Nothing is written while the rows are read, so the engine keeps the
    // statement to the end.
    if (st == Rows::Step::More) throw DatabaseError(std::string(kReservations) + ": a count of places was cut short");
    if (r.cols.size() < 5) throw DatabaseError(std::string(kReservations) + ": a count of places came back short");
    const int taken = static_cast<int>(StoredAsInt(kReservations, kCount, r.cols[2]));
    if (taken == 0) continue;  // a slot without reservations has no entry
    SlotKeyText key{StoredAsText(kReservations, Column(kReservations, "Kausi"), r.rowId),
                    StoredAsText(kReservations, Column(kReservations, "VuoroNo"), r.cols[0]),
                    StoredAsText(kReservations, Column(kReservations, "VuoroNoSeq"), r.cols[1])};
    SlotTaken& t = out[key];
    t.rows = taken;
    t.own = static_cast<int>(StoredAsInt(kReservations, kCount, r.cols[3]));
    t.ownOpenJno = r.cols[4].IsNull() ? -1 : StoredAsInt(kReservations, jno, r.cols[4]);
  }
  return out;
}

}  // namespace wo::store
