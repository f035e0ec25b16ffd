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
constexpr const char* kQueue = "WEBJONO";

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
  // `text` with each "?" the marker of the next of `v`, in order (the
  // order in which a chain of Adds would run is not defined).
  std::string Bind(std::string_view text, std::initializer_list<Stored> v) {
    std::string out;
    auto next = v.begin();
    for (char ch : text) {
      if (ch != '?') {
        out += ch;
      } else {
        if (next == v.end()) throw DatabaseError("a query has more markers than values");
        out += Add(*next++);
      }
    }
    return out;
  }
};

const ColumnDef& Column(const char* table, const char* name) { return *TableNamed(table).Column(name); }

// "v.ResNo ... AND v.VuoroAika ...": the slots of every resource in
// `resNos` (not empty) starting from `from` to `to`.
std::string SlotsOf(Params& p, const std::vector<std::string>& resNos, DateTime from, DateTime to) {
  std::string sql;
  for (size_t i = 0; i < resNos.size(); ++i) {
    sql += i == 0 ? resNos.size() == 1 ? "v.ResNo = " : "v.ResNo IN (" : ", ";
    sql += p.Add(ToStored(kSlots, Column(kSlots, "ResNo"), Txt(resNos[i])));
  }
  if (resNos.size() > 1) sql += ")";
  sql += " AND v.VuoroAika >= " + p.Add(ToStored(kSlots, Column(kSlots, "VuoroAika"), Dt(from)));
  sql += " AND v.VuoroAika <= " + p.Add(ToStored(kSlots, Column(kSlots, "VuoroAika"), Dt(to)));
  return sql;
}

// The join of those slots with the rows of `table` (keyed by the slot, as
// VAVARAUS is), as "FROM ... WHERE ... GROUP BY": the slot's own lookup
// finds the rows by the key the slot reads, a null Kausi reading as "", and
// the join compares the same way.
std::string SlotWindow(Params& p, const char* table, const std::vector<std::string>& resNos, DateTime from,
                       DateTime to) {
  std::string sql = std::string(" FROM VaVuoro v JOIN ") + table +
                    " r ON r.Kausi = coalesce(v.Kausi, '') AND r.VuoroNo = v.VuoroNo AND r.VuoroNoSeq = v.VuoroNoSeq";
  sql += " WHERE " + SlotsOf(p, resNos, from, to);
  sql += " GROUP BY r.Kausi, r.VuoroNo, r.VuoroNoSeq";
  return sql;
}

// Runs a grouped query whose first three columns are the slot's key and
// hands each row's entry in `out`, with the columns after the key.
template <typename Fn>
void EachSlot(Connection::Backend& be, const char* table, const std::string& sql, const std::vector<Stored>& params,
              size_t columns, std::map<SlotKeyText, SlotTaken>& out, Fn fill) {
  std::unique_ptr<Rows> rows = be.Query(sql, params);
  StoredRow r;
  for (Rows::Step st = rows->Next(r); st != Rows::Step::End; st = rows->Next(r)) {
    // Nothing is written while the rows are read, so the engine keeps the
    // statement to the end.
    if (st == Rows::Step::More) throw DatabaseError(std::string(table) + ": a count of places was cut short");
    if (r.cols.size() < columns + 2) throw DatabaseError(std::string(table) + ": a count of places came back short");
    SlotKeyText key{StoredAsText(table, Column(table, "Kausi"), r.rowId),
                    StoredAsText(table, Column(table, "VuoroNo"), r.cols[0]),
                    StoredAsText(table, Column(table, "VuoroNoSeq"), r.cols[1])};
    fill(out[key], r.cols.data() + 2);
  }
}

const ColumnDef kCount{"count", FieldType::Integer};

}  // namespace

void CountPlacesWithEachSlot(Table& slots, std::string_view asNo) {
  // Each slot's reservations, by the key the slot reads, as a slot's own
  // lookup finds them: one index probe per slot, no sorting to group them.
  const std::string match =
      "FROM VAVARAUS r WHERE r.Kausi = coalesce(VaVuoro.Kausi, '') AND r.VuoroNo = VaVuoro.VuoroNo"
      " AND r.VuoroNoSeq = VaVuoro.VuoroNoSeq";
  std::string sql = "(SELECT count(*) " + match + ")";
  std::vector<Stored> params;
  if (asNo.empty()) {
    sql += ", 0, NULL";
  } else {
    const Stored customer = ToStored(kReservations, Column(kReservations, "AsNo"), Txt(std::string(asNo)));
    sql += ", (SELECT count(*) " + match + " AND r.AsNo = ?)";
    sql += ", (SELECT min(r.Jno) " + match + " AND r.AsNo = ? AND r.Status = 0)";
    params = {customer, customer};
  }
  slots.SetComputed(std::move(sql), std::move(params));
}

bool ReadsInBatches(Connection& c) {
  Connection::Backend& be = c.backend();
  be.Ensure();
  return be.dialect.batch > 0;
}

bool ReadsAhead(Connection& c) {
  Connection::Backend& be = c.backend();
  be.Ensure();
  return be.ReadsAhead();
}

void OnlyFirstDaysWithSlots(Connection& c, Table& slots, std::string_view resNo, DateTime from, DateTime to, int days) {
  if (days < 1) throw DatabaseError(std::string(kSlots) + ": a walk of no days");
  Connection::Backend& be = c.backend();
  be.Ensure();
  const bool server = be.dialect.numberedParams;
  // The start of the first day after them, as the stored date-time
  // compares: a timestamp on a server, the date's text in SQLite (which
  // sorts before every time of that day and after every earlier one).
  const std::string day = server ? "date_trunc('day', w.VuoroAika)" : "substr(w.VuoroAika, 1, 10)";
  const std::string next = "(SELECT d FROM (SELECT DISTINCT " + day +
                           " AS d FROM VaVuoro w WHERE w.ResNo = ? AND w.VuoroAika >= ? AND w.VuoroAika <= ?) x"
                           " ORDER BY d LIMIT 1 OFFSET " + std::to_string(days) + ")";
  // Without such a day every row of the range is read. On a server the
  // bound is a plain comparison with the start time, which the server
  // takes into the index range of the walk, so that the rows after it are
  // not read at all.
  const std::string before = server ? "VaVuoro.VuoroAika < coalesce(" + next + ", 'infinity')"
                                     : "coalesce(VaVuoro.VuoroAika < " + next + ", 1 = 1)";
  slots.SetCondition(before,
                     {ToStored(kSlots, Column(kSlots, "ResNo"), Txt(std::string(resNo))),
                      ToStored(kSlots, Column(kSlots, "VuoroAika"), Dt(from)),
                      ToStored(kSlots, Column(kSlots, "VuoroAika"), Dt(to))});
}

namespace {

// The end of the first `days` dates from `from`: where each of them has
// slots, they are the first days with slots.
DateTime EndOfFirstDays(DateTime from, int days) { return DateOf(from) + days; }

bool WalksInParts(Connection& c, int days) { return days > 0 && ReadsInBatches(c); }

}  // namespace

void SetUpFirstPartOfWalk(Connection& c, Table& slots, DateTime from, int days, const std::string* countFor) {
  if (countFor) CountPlacesWithEachSlot(slots, *countFor);
  if (!WalksInParts(c, days)) return;
  // A plain comparison with the start, which a server takes into the
  // walk's index range: no count of days to plan and run.
  slots.SetCondition(std::string(kSlots) + ".VuoroAika < ?",
                     {ToStored(kSlots, Column(kSlots, "VuoroAika"), Dt(EndOfFirstDays(from, days)))});
}

void WalkSlotsOfFirstDays(Connection& c, Table& slots, std::string_view resNo, DateTime from, DateTime to, int days,
                          const std::string* countFor, const std::function<bool(Table& slots)>& each) {
  const std::string res(resNo);
  const bool inParts = WalksInParts(c, days);
  const DateTime split = EndOfFirstDays(from, days);
  // The first part (`daysAfter` 0), or the days still missing after it.
  auto open = [&](DateTime lo, int daysAfter) {
    if (daysAfter == 0) {
      SetUpFirstPartOfWalk(c, slots, lo, days, countFor);
    } else {
      if (countFor) CountPlacesWithEachSlot(slots, *countFor);
      OnlyFirstDaysWithSlots(c, slots, res, lo, to, daysAfter);
    }
    slots.Open();
    slots.SetRange({Txt(res), Dt(lo)}, {Txt(res), Dt(to)});
  };
  int daysSeen = 0;
  DateTime lastDay = 0;
  // Walks the open handle; false once the walk is over.
  auto walk = [&]() {
    if (slots.IsEmpty()) return true;
    const Field start = slots["VuoroAika"];
    for (; !slots.Eof(); slots.Next()) {
      if (days > 0) {
        const DateTime day = DateOf(start.AsDateTime());
        if (daysSeen == 0 || day != lastDay) {
          if (daysSeen == days) return false;
          ++daysSeen;
          lastDay = day;
        }
      }
      if (!each(slots)) return false;
    }
    return true;
  };
  open(from, 0);
  if (walk() && inParts && daysSeen < days && split <= to) {
    slots.Close();
    open(split, days - daysSeen);
    walk();
  }
}

SlotTaken PlacesTaken(const Table& slots) {
  const Stored& rows = slots.Computed(0);
  if (rows.IsNull()) throw DatabaseError(std::string(kSlots) + ": the places of a slot were not counted with its row");
  SlotTaken t;
  t.rows = static_cast<int>(StoredAsInt(kReservations, kCount, rows));
  t.own = static_cast<int>(StoredAsInt(kReservations, kCount, slots.Computed(1)));
  const Stored& jno = slots.Computed(2);
  t.ownOpenJno = jno.IsNull() ? -1 : StoredAsInt(kReservations, Column(kReservations, "Jno"), jno);
  return t;
}

void CountQueuedPlaces(Connection& c, const std::vector<std::string>& resNos, DateTime from, DateTime to,
                       std::string_view asNo, DateTime now, std::map<SlotKeyText, SlotTaken>& counts) {
  if (resNos.empty()) return;
  Connection::Backend& be = c.backend();
  be.Ensure();
  Params p{be.dialect, {}};
  const Stored customer = ToStored(kQueue, Column(kQueue, "AsNo"), Txt(std::string(asNo)));
  const Stored waiting = ToStored(kQueue, Column(kQueue, "Tila"), Txt("waiting"));
  const Stored at = ToStored(kQueue, Column(kQueue, "Voimassa"), Dt(now));
  std::string sql = p.Bind(
      "SELECT r.Kausi, r.VuoroNo, r.VuoroNoSeq, count(CASE WHEN r.AsNo <> ? AND (r.Tila = ? OR r.Voimassa > ?)"
      " THEN 1 END), count(CASE WHEN r.AsNo = ? THEN 1 END),"
      " max(CASE WHEN r.AsNo = ? AND r.Voimassa > ? THEN r.Voimassa END)",
      {customer, waiting, at, customer, customer, at});
  sql += SlotWindow(p, kQueue, resNos, from, to);
  const ColumnDef& until = Column(kQueue, "Voimassa");
  EachSlot(be, kQueue, sql, p.values, 3, counts, [&](SlotTaken& t, const Stored* col) {
    t.held = static_cast<int>(StoredAsInt(kQueue, kCount, col[0]));
    t.ownQueued = !asNo.empty() && StoredAsInt(kQueue, kCount, col[1]) > 0;
    t.ownOfferUntil = col[2].IsNull() || asNo.empty() ? 0 : StoredAsDateTime(kQueue, until, col[2]);
  });
}

std::vector<SlotKeyText> SlotsToSettle(Connection& c, const std::vector<std::string>& resNos, DateTime from,
                                       DateTime to, DateTime now) {
  Connection::Backend& be = c.backend();
  be.Ensure();
  Params p{be.dialect, {}};
  const Stored offered = ToStored(kQueue, Column(kQueue, "Tila"), Txt("offered"));
  const Stored waiting = ToStored(kQueue, Column(kQueue, "Tila"), Txt("waiting"));
  const Stored at = ToStored(kQueue, Column(kQueue, "Voimassa"), Dt(now));
  const Stored slotNow = ToStored(kSlots, Column(kSlots, "VuoroAika"), Dt(now));
  // The rows of table `alias` of the queue row's slot.
  auto key = [](const std::string& kausi, const char* alias) {
    return kausi + " = q.Kausi AND " + alias + ".VuoroNo = q.VuoroNo AND " + alias + ".VuoroNoSeq = q.VuoroNoSeq";
  };
  std::string sql = "SELECT q.Kausi, q.VuoroNo, q.VuoroNoSeq FROM WEBJONO q LEFT JOIN VaVuoro v ON " +
                    key("coalesce(v.Kausi, '')", "v");
  sql += p.Bind(" WHERE (v.VuoroNo IS NULL OR v.VuoroAika <= ? OR (q.Tila = ? AND q.Voimassa <= ?)",
                {slotNow, offered, at});
  sql += " OR EXISTS (SELECT 1 FROM VAVARAUS r WHERE " + key("r.Kausi", "r") + " AND r.AsNo = q.AsNo)";
  sql += " OR (q.Tila = " + p.Add(waiting);
  sql += " AND v.Maara > (SELECT count(*) FROM VAVARAUS r WHERE " + key("r.Kausi", "r") +
         ") + (SELECT count(*) FROM WEBJONO o WHERE " + key("o.Kausi", "o");
  sql += p.Bind(" AND o.Tila = ? AND o.Voimassa > ?)))", {offered, at});
  if (!resNos.empty()) sql += " AND " + SlotsOf(p, resNos, from, to);
  sql += " GROUP BY q.Kausi, q.VuoroNo, q.VuoroNoSeq";
  std::map<SlotKeyText, SlotTaken> found;
  EachSlot(be, kQueue, sql, p.values, 0, found, [](SlotTaken&, const Stored*) {});
  std::vector<SlotKeyText> out;
  for (const auto& entry : found) out.push_back(entry.first);
  return out;
}

}  // namespace wo::store

